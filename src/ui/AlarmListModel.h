#pragma once

#include <QAbstractListModel>

class AlarmScheduler;

/** The scheduler's alarm list as the list view shows it; each row's display data is its AlarmString. */
class AlarmListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit AlarmListModel(AlarmScheduler& scheduler, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    /** The list changed as a whole (load, sort, delete); views re-read every row. */
    void Reset();
    /** One row's text changed in place. */
    void RowChanged(int row);

private:
    AlarmScheduler& m_scheduler;
};

#include "ui/AlarmListModel.h"

#include "core/alarms/AlarmScheduler.h"

AlarmListModel::AlarmListModel(AlarmScheduler& scheduler, QObject* parent)
    : QAbstractListModel(parent)
    , m_scheduler(scheduler)
{}

int AlarmListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_scheduler.Alarms().size());
}

QVariant AlarmListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_scheduler.Alarms().size())
        return {};
    return m_scheduler.Alarms().at(index.row());
}

void AlarmListModel::Reset()
{
    beginResetModel();
    endResetModel();
}

void AlarmListModel::RowChanged(int row)
{
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed);
}

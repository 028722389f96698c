#pragma once

#include "core/alarms/LocalTime.h"

#include <QAbstractListModel>
#include <QLocale>

#include <optional>

class AlarmScheduler;
class TMgLang;

/**
 * The scheduler's alarm list as the list view shows it; each row's display data is its AlarmString.
 * Screen readers get a sentence instead ("7:00 AM, Weekdays, Good morning!, Sound Birds, on") and the
 * alarm's Enabled as the row's check state.
 */
class AlarmListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit AlarmListModel(AlarmScheduler& scheduler, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /** The language whose words the rows are read out in; none gives the built-in English. */
    void SetLanguage(const TMgLang* lang);
    /** Said after the alarms that ask to wake the computer when it cannot be woken; empty says nothing. */
    void SetWakeNote(const QString& note);

    /** The list changed as a whole (load, sort, delete); views re-read every row. */
    void Reset();
    /** One row's text changed in place. */
    void RowChanged(int row);

    /**
     * What a screen reader says for an alarm: time, repeat days, a skipped occurrence still ahead of now,
     * label, sound and whether it is on. Without now, the program's clock is read.
     */
    static QString ReadableText(const QString& alarmString, const QLocale& locale, const TMgLang* lang,
                                const std::optional<LocalDateTime>& now = std::nullopt);
    /** "skips Tue, 8 Dec" while the alarm's skip is ahead of now; empty otherwise. */
    static QString SkipNote(const QString& alarmString, const LocalDateTime& now, const QLocale& locale,
                            const TMgLang* lang);

private:
    AlarmScheduler& m_scheduler;
    QVariant rowData(const QModelIndex& index, int role) const;

    const TMgLang* m_lang = nullptr;
    QString m_wakeNote;
};

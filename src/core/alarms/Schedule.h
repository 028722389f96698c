#pragma once

#include "core/alarms/LocalTime.h"

#include <QList>
#include <QLocale>
#include <QStringList>

#include <optional>

/** One line of the next-alarms panel and the list position of its alarm. */
struct PanelLine {
    QString text;
    int listIndex = -1;
    bool operator==(const PanelLine&) const = default;
};

/** Everything a rebuild of the schedule decides. */
struct ScheduleResult {
    static constexpr int kPanelLines = 3;
    static constexpr int kWakeLeadSeconds = 10; // the wake timer stands this much before its alarm

    QList<PanelLine> panel;               // at most kPanelLines
    int nextAlarmIndex = -1;              // list position of the alarm the alarm timer is armed for
    std::optional<LocalDateTime> alarmAt; // none: park the alarm timer
    QList<int> dueIndexes;                // list positions of every alarm due at alarmAt, in list order
    std::optional<LocalDateTime> wakeAt;  // none: park the wake timer
    QString trayHint;
    int trayIconIndex = 1; // 0 when an alarm is scheduled, 1 when none
    bool floatingIndicatorVisible = false;
    QString floatingHint;
};

/** An occurrence that already rang: the alarm's AlarmString and its wall time. */
struct RungOccurrence {
    QString alarm;
    LocalDateTime at;
};

/**
 * The next occurrences of the enabled alarms, enumerated day by day for 30 days and within a day in
 * list order, so the list must be sorted (SortAlarms) for the earliest to come first. An alarm at the
 * current minute is not scheduled for today; a one-time alarm is listed at most once. Occurrences in
 * rung are passed over, so that a clock set back does not ring them again. Every alarm that falls due
 * at alarmAt is in dueIndexes, however many the panel has room for.
 */
ScheduleResult RebuildSchedule(const QStringList& alarms, const LocalDateTime& now, const QLocale& locale,
                               const QList<RungOccurrence>& rung = {});

/** A panel line: date, time, weekday, " - ", label with "||" for line breaks, " / " + sound. */
QString PanelLineText(const LocalDateTime& occurrence, const QString& label, const QString& sound,
                      const QLocale& locale);

/**
 * Orders the list by time of day, then by the display position of the first repeat day in the
 * locale's week (no days last), exactly as a selection sort that exchanges items does, ties keeping
 * the earlier position. *selected, when given, follows its item. O(n log n).
 */
void SortAlarms(QStringList& alarms, int firstWeekdayOffset, int* selected = nullptr);

/** The key SortAlarms orders by: minutes * 16 + display position of the first repeat day (8: none). */
int AlarmSortKey(const QString& alarmString, int firstWeekdayOffset);

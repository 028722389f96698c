#pragma once

#include "core/alarms/AlarmRecord.h"
#include "core/alarms/LocalTime.h"

#include <QLocale>
#include <QStringList>

#include <optional>

// Skipping one occurrence of a repeating alarm. The skip is the date in AlarmRecord::SkipDate; the
// schedule leaves the alarm's occurrence on that date out, and the scheduler forgets the date once
// that occurrence has gone by or the alarm no longer falls due on it.

/**
 * The alarm's next time after now, skip or not; none for a one-time alarm. As in the schedule, an
 * occurrence at now's minute counts as gone.
 */
std::optional<LocalDateTime> NextRepeat(const AlarmRecord& alarm, const LocalDateTime& now);

/** The skip is still ahead of now and falls on one of the alarm's days: the schedule leaves it out. */
bool SkipPending(const AlarmRecord& alarm, const LocalDateTime& now);

/** The occurrence the skip command acts on: the pending skip when there is one, else the next occurrence. */
std::optional<LocalDateTime> SkipTarget(const AlarmRecord& alarm, const LocalDateTime& now);

/** Skips the next occurrence, or takes back a pending skip; a one-time alarm comes back unchanged. */
AlarmRecord ToggleSkip(AlarmRecord alarm, const LocalDateTime& now);

/**
 * The skip of an alarm string that is not pending any more, as the date it held; an invalid date
 * when the string keeps its skip or has none. *cleared gets the string without it.
 */
QDate SpentSkip(const QString& alarmString, const LocalDateTime& now, QString* cleared);

/** The enabled repeating alarm whose SkipTarget comes first (list order on ties); -1 when there is none. */
int NextSkippableAlarm(const QStringList& alarms, const LocalDateTime& now);

/** Weekday, day and month in the locale's order and abbreviations, without the year ("Tue, 8 Dec"). */
QString ShortDayText(QDate date, const QLocale& locale);

/** The occurrence as the skip command names it: ShortDayText, a comma and the locale's short time. */
QString SkipOccurrenceText(const LocalDateTime& occurrence, const QLocale& locale);

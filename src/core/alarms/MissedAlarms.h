#pragma once

#include "core/alarms/LocalTime.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>

/** How late an alarm may still ring after its time, in minutes, as the Options menu offers; 0: never. */
inline constexpr std::array<int, 5> kMissedLimitChoices{0, 5, 15, 30, 60};
inline constexpr int kDefaultMissedLimitMinutes = 15;
/** A stored limit that is not one of the choices (a hand-edited or damaged file) reads as the default. */
int MissedLimitFromSetting(int storedMinutes);

/**
 * Late by at most this many seconds an alarm is on time, whatever the limit: a timer that fires a few
 * seconds late, or a start a moment after an alarm's time, rings it plainly.
 */
inline constexpr int kOnTimeSecs = 10;
/** Further back than this nothing is looked for: the list would only grow without telling more. */
inline constexpr int kCatchUpDays = 31;
/** The most missed occurrences one catch-up reports; the most recent ones are kept. */
inline constexpr int kMaxMissedOccurrences = 50;

/** An occurrence of an alarm that fell due while nothing could ring it. */
struct DueOccurrence {
    int index = -1;    // list position of the alarm
    QString alarm;     // its AlarmString before the catch-up changed anything
    LocalDateTime due; // its wall time
    QDateTime dueUtc;  // the instant the scheduler would have rung it
    bool operator==(const DueOccurrence&) const = default;
};

/** What a catch-up decided. */
struct CatchUpResult {
    QList<DueOccurrence> late;   // ring now, saying when they were due; at most one per alarm
    QList<DueOccurrence> missed; // too late to ring: reported, oldest first
    QStringList alarms;          // the list afterwards: late and missed one-time alarms switched off,
                                 // missed ones marked Missed
    bool changed = false;        // alarms differs from the list given
    bool IsEmpty() const { return late.isEmpty() && missed.isEmpty(); }
};

/**
 * The occurrences of the enabled alarms whose instant lies after sinceUtc and no later than nowUtc, as
 * the scheduler enumerates them (the list sorted as SortAlarms sorts it), split by how late they are:
 * up to limitMinutes (or kOnTimeSecs) they ring late, later ones are missed. A wall time the clock
 * skipped falls due at the end of the gap, as the scheduler rings it.
 */
CatchUpResult CatchUpAlarms(const QStringList& alarms, const QDateTime& sinceUtc, const QDateTime& nowUtc,
                            const UtcOffsetAt& offsetAt, int limitMinutes);

/** The alarm without its missed mark: an edit or a switch the user made clears it. */
QString WithoutMissedMark(const QString& alarmString);

/** What becomes of an alarm whose time came lateMs ago: a snooze's end, a late timer. */
enum class LateRing { OnTime, Late, Dropped };
/** Within kOnTimeSecs on time, within the limit late (saying when it was due), else dropped. */
LateRing JudgeLateness(qint64 lateMs, int limitMinutes);

/** A missed occurrence as the list of unacknowledged ones keeps it: "yyyy-MM-ddTHH:mm label". */
QString MissedEntry(const LocalDateTime& due, const QString& label);
/** The entry's wall time and label; nothing when the text is not an entry. */
std::optional<std::pair<LocalDateTime, QString>> ParseMissedEntry(const QString& entry);
/** How the list and the notification show an entry: weekday, time and label ("Mon 7:00 AM Good morning!"). */
QString DescribeMissedEntry(const QString& entry, const QLocale& locale);
/** The well-formed entries of a stored list, in order, without repeats. */
QStringList ValidMissedEntries(const QStringList& stored);

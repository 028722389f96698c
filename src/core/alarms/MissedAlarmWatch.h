#pragma once

#include "core/alarms/AlarmScheduler.h"
#include "core/alarms/MissedAlarms.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

class TAppIni;

/**
 * Finds the alarms that fell due while nothing could ring them: at start, those since the program last
 * ran; when the alarm timer fires late (the computer slept through its alarm), those since the instant
 * it stood at. Within the limit they ring late, saying when they were due; later ones are kept in a
 * list until the user acknowledges it, across restarts.
 *
 * When the program last ran is written at start, when the schedule changes (a firing, an edit, a
 * clock change after a resume) and at exit; never on an idle timer. The write after a schedule change
 * waits a moment, so a firing's window and sound never wait on the disk.
 */
class MissedAlarmWatch final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMarkDelayMs = 1000;

    MissedAlarmWatch(TAppIni& ini, AlarmScheduler& scheduler, SchedulerClock clock = {}, QObject* parent = nullptr);

    /** Minutes an alarm may still ring late, one of kMissedLimitChoices. */
    int Limit() const;
    void SetLimit(int minutes);

    /** At start, with the list loaded and scheduled: catches up since the last run, then marks this one. */
    void CatchUpAtStart();
    /** The alarm timer fired: true when it fired late and the catch-up took the firing over. */
    bool HandleLateFiring();
    /** Rings late and reports missed what fell due after sinceUtc. */
    void CatchUpSince(const QDateTime& sinceUtc);

    /** Writes now as the last run (at exit, and a moment after a change of the schedule). */
    void MarkRun();
    /** The last run as written; invalid when none was or it does not read. */
    QDateTime LastRun() const;

    /** The missed occurrences the user has not acknowledged yet, oldest first, as MissedEntry writes them. */
    QStringList Unacknowledged() const;
    void Acknowledge();

signals:
    /** Alarms to ring now, in list order, each with the wall time it was due at. */
    void lateAlarmsDue(const QStringList& alarmStrings, const QList<LocalDateTime>& dueTimes);
    /** Occurrences just found missed, as entries; the unacknowledged list already holds them. */
    void alarmsMissed(const QStringList& entries);
    /** A catch-up changed the alarm list (switched missed one-time alarms off). */
    void alarmsChanged();
    /** The unacknowledged list changed. */
    void unacknowledgedChanged();

private:
    TAppIni& m_ini;
    AlarmScheduler& m_scheduler;
    SchedulerClock m_clock;
    QTimer m_markSoon;
};

#pragma once

#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AppClock.h"
#include "core/alarms/Schedule.h"
#include "core/alarms/ScheduleTimers.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class TAppIni;

/**
 * Where the scheduler reads the time; tests inject their own. The wall time of "now" and the instant of
 * an alarm's wall time both come from offsetAt, so the two always agree.
 */
struct SchedulerClock {
    // The current instant; whether it is given in UTC or in local time does not matter.
    std::function<QDateTime()> now = [] { return AppClock::Program().Now(); };
    // The zone the alarms' times are in: by default the local time the windows show.
    UtcOffsetAt offsetAt = SystemUtcOffset;
};

/**
 * Owns the alarm list and keeps the system timers armed for it: every change of the list is saved
 * and rebuilds the schedule; the alarm timer's firing runs the due alarm; a change of the system
 * clock or time zone rebuilds once, five seconds after the first notice.
 */
class AlarmScheduler final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kParkDays = 365;
    static constexpr int kClockChangeDelayMs = 5000;
    // A clock set back by up to this much (a daylight-saving fall-back, a correction) does not ring again
    // what already rang. A larger jump starts a new day for the user, who would rather hear an alarm twice
    // than miss one.
    static constexpr int kRungMemorySecs = 2 * 3600;
    // An alarm rung less than this long ago lets the ones the clock skipped along with it ring at once.
    static constexpr int kSkippedWithItSecs = 60;

    AlarmScheduler(TAppIni& ini, ScheduleTimers& timers, SchedulerClock clock = {}, QObject* parent = nullptr);

    const QStringList& Alarms() const { return m_alarms; }
    /** Replaces the list without saving it (loading at start-up and from a backup). */
    void SetAlarms(const QStringList& alarms);
    void LoadAlarms();
    /** The panel's dates, times and day names follow locale; a built schedule is rebuilt when it changes. */
    void SetLocale(const QLocale& locale);

    /**
     * Recomputes the schedule and re-arms both timers. Does nothing once terminating. A skip whose
     * occurrence has gone by, or that no longer falls on one of its alarm's days, is cleared and saved.
     */
    void Rebuild();
    /** Writes the list as "Alarms", then rebuilds; a refused write is reported through saveFailed. */
    void SaveAndRebuild();

    /** The alarm timer fired: ring every alarm due at that minute, disable the one-time ones, reschedule. */
    void FireDueAlarm();
    /** The system clock or time zone changed. */
    void ClockChanged();
    void SetTerminating() { m_terminating = true; }
    /** How long after the first clock-change notice the schedule is rebuilt. */
    void SetClockChangeDelay(int ms) { m_tmrFillAlarmsDelayed.setInterval(ms); }

    const ScheduleResult& Schedule() const { return m_schedule; }
    /** What the clock in the alarms' zone shows now. */
    LocalDateTime WallNow() const { return wallTime(m_clock.now()); }
    /** The current instant on the scheduler's clock, the one the schedule was built from. */
    QDateTime Now() const { return m_clock.now(); }
    /** The zone the alarms' wall times are in. */
    const UtcOffsetAt& OffsetAt() const { return m_clock.offsetAt; }
    /** The instant the alarm timer stands at (a year ahead when parked). */
    QDateTime AlarmDueUtc() const { return m_alarmDueUtc; }
    bool ClockChangePending() const { return m_tmrFillAlarmsDelayed.isActive(); }

signals:
    /** Hands the alarms due at one minute, in list order, to the notification window at once. */
    void alarmsDue(const QStringList& alarmStrings);
    /** The panel, tray hint and indicator were recomputed. */
    void scheduleChanged();
    /** Saving the list failed; the list stays in memory and the timers stay armed. */
    void saveFailed(const QString& message);

private:
    /** An alarm that rang, and the instant the timer stood at for it. */
    struct FiredOccurrence {
        RungOccurrence occurrence;
        QDateTime utc;
    };

    void save();
    /** Rebuild without saving; true when it cleared skips, which then wait to be saved. */
    bool rebuild();
    /** Clears the skips that are not pending any more; true when one was. */
    bool clearSpentSkips(const QDateTime& now);
    void armTimers(const QDateTime& now);
    LocalDateTime wallTime(const QDateTime& now) const;
    QDateTime toUtc(const LocalDateTime& local) const;
    QDateTime dueInstant(const LocalDateTime& local, const QDateTime& now) const;
    LocalDateTime scheduleFrom(const QDateTime& now) const;

    TAppIni& m_ini;
    ScheduleTimers& m_timers;
    SchedulerClock m_clock;
    QLocale m_locale;
    QStringList m_alarms;
    ScheduleResult m_schedule;
    QDateTime m_alarmDueUtc;
    QTimer m_tmrFillAlarmsDelayed;
    QList<FiredOccurrence> m_rung; // within kRungMemorySecs of the clock, the last one rang last
    bool m_terminating = false;
    bool m_built = false; // Rebuild ran at least once
};

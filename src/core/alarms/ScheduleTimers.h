#pragma once

#include <QDateTime>
#include <QString>

/** How a wake timer was armed. */
struct WakeArming {
    bool armed = false; // the timer stands at the requested instant
    bool wakes = false; // and will bring the computer out of sleep for it
    QString path;       // which facility arms it, for the log
};

/**
 * The two system timers the schedule drives: the alarm timer, whose firing runs the due alarm, and
 * the wake timer, which only brings the computer out of sleep shortly before an alarm.
 */
class ScheduleTimers
{
public:
    virtual ~ScheduleTimers() = default;
    /** Sets the alarm timer to fire once at utc, replacing any earlier due time; false when refused. */
    virtual bool ArmAlarm(const QDateTime& utc) = 0;
    /** Sets the wake timer; when waking is asked for but not possible it is armed without waking. */
    virtual WakeArming ArmWake(const QDateTime& utc, bool wake) = 0;
};

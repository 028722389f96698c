#pragma once

#include "core/alarms/AppClock.h"
#include "core/alarms/ScheduleTimers.h"
#include "platform/Platform.h"

#include <functional>
#include <memory>

/**
 * The alarm timer and the wake timer of the platform, armed by the schedule. The platform's timer
 * waits in the kernel and delivers its firing on the main thread, where the due-alarm handler runs to
 * completion before the next wait: no thread of ours has to wait or lock. Due times are read on `clock`
 * and handed to the platform on the system's clock.
 */
class TTimerThread final : public ScheduleTimers
{
public:
    /** Null when either timer cannot be created ("Timer is not created!"). */
    static std::unique_ptr<TTimerThread> Create(Platform& platform, std::function<void()> onDue,
                                                const AppClock& clock = AppClock::Program());

    bool ArmAlarm(const QDateTime& utc) override;
    WakeArming ArmWake(const QDateTime& utc, bool wake) override;
    WakePath Path() const { return m_wake->Path(); }
    /** Exit: nothing fires any more. */
    void Stop();

private:
    TTimerThread(std::unique_ptr<AlarmTimer> alarm, std::unique_ptr<WakeTimer> wake, const AppClock& clock);

    AppClock m_clock;
    std::unique_ptr<AlarmTimer> m_alarm;
    std::unique_ptr<WakeTimer> m_wake;
};

/** QDateTime to the platform's wall-clock instant, to the millisecond. */
WallTime ToWallTime(const QDateTime& utc);

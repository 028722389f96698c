#pragma once

#include <chrono>

/** An instant on the wall clock, in UTC; what the timers are armed with. */
using WallTime = std::chrono::system_clock::time_point;

/**
 * A one-shot timer on the system's wall clock, armed for an absolute instant, so that setting the clock
 * or a change of daylight saving moves the firing with the clock rather than after a fixed delay. Its
 * callback runs on the thread that created it (the main thread); after firing the timer stays disarmed
 * until the next Arm.
 */
class AlarmTimer
{
public:
    AlarmTimer() = default;
    virtual ~AlarmTimer() = default;
    AlarmTimer(const AlarmTimer&) = delete;
    AlarmTimer& operator=(const AlarmTimer&) = delete;

    /** Fires once at `due`, replacing any earlier due time; a past due time fires at once. False when refused. */
    virtual bool Arm(WallTime due) = 0;
    /** Nothing fires until the next Arm. */
    virtual void Disarm() = 0;
};

#pragma once

#include "platform/AlarmTimer.h"

/** How a wake timer brings the computer out of sleep, best first. */
enum class WakePath {
    RealtimeAlarm, // a kernel alarm timer of our own, backed by a wake-capable real-time clock
    PowerDaemon,   // the desktop's power daemon schedules the wake-up for us over the session bus
    None,          // no way to wake the computer: the timer is armed but the computer sleeps on
};

/** Short name for the debug log. */
const char* WakePathName(WakePath path);

/**
 * A timer whose only job is to bring the computer out of sleep at a given instant; nobody waits on it.
 * Where the system cannot wake the computer it is still armed, without wake, and Arm succeeds; Path()
 * tells which case applies.
 */
class WakeTimer
{
public:
    WakeTimer() = default;
    virtual ~WakeTimer() = default;
    WakeTimer(const WakeTimer&) = delete;
    WakeTimer& operator=(const WakeTimer&) = delete;

    /** Wakes the computer at `due` (if Path() allows), replacing any earlier request. False when the system refused. */
    virtual bool Arm(WallTime due) = 0;
    /** Withdraws the wake request. */
    virtual void Disarm() = 0;
    /** The way this timer wakes the computer, chosen when it was created. */
    virtual WakePath Path() const = 0;
};

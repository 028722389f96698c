#pragma once

#include "platform/WakeTimer.h"

/** Whether the computer really comes out of sleep on the wake path that was found. */
enum class WakeAbility {
    Yes,
    No,
    Unknown, // the path takes requests but could not say whether it can wake the computer
};

/** Why the wake path can or cannot wake the computer; the user is told this, in their language. */
enum class WakeReason {
    CapabilityHeld,        // this program may set kernel wake alarms and a clock can raise them
    NoCapability,          // no CAP_WAKE_ALARM and no power daemon that offers wake-ups
    NoWakeClock,           // no real-time clock of this computer can raise a wake alarm
    NoAlarmTimers,         // the kernel was built without alarm timers
    DaemonCanWake,         // the power daemon holds CAP_WAKE_ALARM
    DaemonLacksCapability, // the power daemon takes requests but may not set wake alarms
    DaemonCannotTell,      // the power daemon takes requests; whether it can wake is not known
    SystemForbids,         // the system's power settings do not allow wake timers
};

/** What the wake timer can do on this computer, found once per run. */
struct WakeStatus {
    WakePath path = WakePath::None;
    WakeAbility works = WakeAbility::No;
    WakeReason reason = WakeReason::NoCapability;
};

/** Short English names and reasons, for the log and the command line. */
const char* WakeAbilityName(WakeAbility ability);
const char* WakeReasonText(WakeReason reason);

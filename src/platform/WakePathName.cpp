#include "platform/WakeStatus.h"

const char* WakePathName(WakePath path)
{
    switch (path) {
    case WakePath::RealtimeAlarm:
        return "real-time alarm";
    case WakePath::PowerDaemon:
        return "power daemon";
    case WakePath::None:
        break;
    }
    return "none";
}

const char* WakeAbilityName(WakeAbility ability)
{
    switch (ability) {
    case WakeAbility::Yes:
        return "yes";
    case WakeAbility::No:
        return "no";
    case WakeAbility::Unknown:
        break;
    }
    return "unknown";
}

const char* WakeReasonText(WakeReason reason)
{
    switch (reason) {
    case WakeReason::CapabilityHeld:
        return "CAP_WAKE_ALARM held and a real-time clock can raise wake alarms";
    case WakeReason::NoCapability:
        return "no CAP_WAKE_ALARM: run as root, install the package, or log in on a local seat with systemd 254+";
    case WakeReason::NoWakeClock:
        return "no real-time clock of this computer can raise a wake alarm";
    case WakeReason::NoAlarmTimers:
        return "the kernel has no alarm timers";
    case WakeReason::DaemonCanWake:
        return "the power daemon holds CAP_WAKE_ALARM";
    case WakeReason::DaemonLacksCapability:
        return "the power daemon takes wake-up requests but lacks CAP_WAKE_ALARM";
    case WakeReason::DaemonCannotTell:
        return "the power daemon takes wake-up requests but cannot tell whether it can wake this computer";
    case WakeReason::SystemForbids:
        break;
    }
    return "the power settings do not allow wake timers";
}

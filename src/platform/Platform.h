#pragma once

#include "platform/AlarmTimer.h"
#include "platform/ClockWatch.h"
#include "platform/DesktopNotifications.h"
#include "platform/ExitRequestWatch.h"
#include "platform/InstanceChannel.h"
#include "platform/SleepTrial.h"
#include "platform/WakeStatus.h"
#include "platform/WakeTimer.h"

#include <functional>
#include <memory>
#include <string>

/**
 * The operating-system services the alarm clock needs, behind one object so that the program runs on
 * whichever back end CMake compiled and tests run on the fake one. Paths are UTF-8. Objects it creates
 * belong to the calling thread, which must run an event loop (the main thread); their callbacks run there.
 */
class Platform
{
public:
    Platform() = default;
    virtual ~Platform() = default;
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    /** The alarm timer, disarmed; nullptr when the system cannot create one. */
    virtual std::unique_ptr<AlarmTimer> CreateAlarmTimer(std::function<void()> onFired) = 0;
    /** The wake timer, disarmed, on the best wake path available now; nullptr when it cannot be created. */
    virtual std::unique_ptr<WakeTimer> CreateWakeTimer() = 0;
    /** Reports clock and time-zone changes while the returned object lives; nullptr when nothing can be watched. */
    virtual std::unique_ptr<ClockWatch> WatchClock(std::function<void(ClockChange)> onChanged) = 0;
    /** Reports the system's requests to end the program while the returned object lives; may be nullptr. */
    virtual std::unique_ptr<ExitRequestWatch> WatchExitRequests(std::function<void()> onRequest) = 0;
    /** Notifications through the desktop's notification server; nullptr where the tray balloon is the way. */
    virtual std::unique_ptr<DesktopNotifications> CreateNotifications(NotificationEvents events) = 0;
    /** True when a wake timer created now could wake the computer from sleep. */
    virtual bool WakeTimersAllowed() = 0;
    /**
     * Which wake path works and why, asked of the system anew. It may wait on the system's services (a
     * power daemon over D-Bus) for a few seconds, so the GUI thread never calls it; any thread may.
     */
    virtual WakeStatus DetectWakeStatus()
    {
        const bool allowed = WakeTimersAllowed();
        return {allowed ? WakePath::RealtimeAlarm : WakePath::None, allowed ? WakeAbility::Yes : WakeAbility::No,
                allowed ? WakeReason::CapabilityHeld : WakeReason::SystemForbids};
    }
    /**
     * Sends the computer to sleep with a wake-up armed for `wakeAt`; nullptr where the system offers no way
     * to ask for sleep. Failures after the start arrive through events.failed.
     */
    virtual std::unique_ptr<SleepTrial> StartSleepTrial(WallTime /*wakeAt*/, SleepTrialEvents /*events*/)
    {
        return nullptr;
    }

    /**
     * Makes this process the running copy of the executable at `exePath`; nullptr when another copy of it,
     * started by this user, already runs. Copies of the executable in other folders do not count.
     */
    virtual std::unique_ptr<InstanceChannel> ClaimInstance(const std::string& exePath,
                                                           std::function<void(int message)> onMessage) = 0;
    /** Posts a request to the running copy of `exePath`; false when none runs or it could not be reached. */
    virtual bool SendToInstance(const std::string& exePath, int message, int param1, int param2) = 0;

    /** Writes this user's autostart entry for `exePath` with "-autorun"; false when it cannot be written. */
    virtual bool EnableAutostart(const std::string& exePath) = 0;
    /** Removes this user's autostart entry, whichever copy wrote it; false when there was none or removal failed. */
    virtual bool DisableAutostart() = 0;
    /** True when the machine's or this user's autostart entry starts exactly `exePath` with "-autorun". */
    virtual bool AutostartEnabled(const std::string& exePath) = 0;

    /** Switches the monitor on and keeps the screen saver away; does nothing where neither can be done. */
    virtual void MonitorOn() = 0;
};

/** The back end for the operating system this build targets. */
std::unique_ptr<Platform> CreatePlatform();

/** The full path (UTF-8) of this process's executable, links resolved where the system has them. */
std::string OwnExecutablePath();

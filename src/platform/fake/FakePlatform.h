#pragma once

#include "platform/Platform.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

/**
 * An in-memory platform for tests of the code above it. It records what was armed, fires timers and
 * clock changes when the test says so, and can play a system that cannot wake the computer or create
 * timers. Callbacks run synchronously inside the call that triggers them. Requests sent to a running
 * copy reach a channel claimed on the same FakePlatform.
 */
class FakePlatform final : public Platform
{
public:
    enum class Timer { Alarm, Wake };
    struct ArmCall {
        Timer timer;
        std::optional<WallTime> due; // nullopt: Disarm
        bool wakes = false;          // a wake timer armed on a path that wakes the computer
    };

    FakePlatform();
    ~FakePlatform() override;

    std::unique_ptr<AlarmTimer> CreateAlarmTimer(std::function<void()> onFired) override;
    std::unique_ptr<WakeTimer> CreateWakeTimer() override;
    std::unique_ptr<ClockWatch> WatchClock(std::function<void(ClockChange)> onChanged) override;
    std::unique_ptr<ExitRequestWatch> WatchExitRequests(std::function<void()> onRequest) override;
    std::unique_ptr<DesktopNotifications> CreateNotifications(NotificationEvents events) override;
    bool WakeTimersAllowed() override;
    WakeStatus DetectWakeStatus() override;
    std::unique_ptr<SleepTrial> StartSleepTrial(WallTime wakeAt, SleepTrialEvents events) override;
    std::unique_ptr<InstanceChannel> ClaimInstance(const std::string& exePath,
                                                   std::function<void(int message)> onMessage) override;
    bool SendToInstance(const std::string& exePath, int message, int param1, int param2) override;
    bool EnableAutostart(const std::string& exePath) override;
    bool DisableAutostart() override;
    bool AutostartEnabled(const std::string& exePath) override;
    void MonitorOn() override { ++m_monitorOnCalls; }
    /** How often MonitorOn was asked for. */
    int MonitorOnCalls() const { return m_monitorOnCalls; }

    /** Every Arm and Disarm of the timers created here, in order. */
    const std::vector<ArmCall>& ArmCalls() const;
    void ClearArmCalls();
    /** What the alarm (wake) timers are armed for now; nullopt when none is armed. */
    std::optional<WallTime> AlarmDue() const;
    std::optional<WallTime> WakeDue() const;

    /** The wake path of wake timers created from now on; None plays a system without wake support. */
    void SetWakePath(WakePath path);
    /** What DetectWakeStatus answers; until set, the wake path's own (works unless it is None). */
    void SetWakeStatus(WakeStatus status);
    /** The wake-up the live sleep trial armed; nullopt when none runs. */
    std::optional<WallTime> SleepTrialWake() const;
    /** Plays the end of the live sleep trial: back at `at`, asleep for `slept`; false when none runs. */
    bool ResumeFromSleepTrial(WallTime at, std::chrono::milliseconds slept);
    /** Plays the system refusing the live sleep trial; false when none runs. */
    bool FailSleepTrial(const std::string& why);
    /** Makes timer creation fail (nullptr), as when the system has no timers left. */
    void SetTimerCreationFails(bool fails);
    /** Makes every Arm return false. */
    void SetArmFails(bool fails);

    /** Fires every armed alarm timer, as if its due time had come; false when none was armed. */
    bool FireAlarmTimer();
    /** Fires the alarm timers armed for `now` or earlier; false when none was due. */
    bool AdvanceTo(WallTime now);
    /** Plays a termination request (a signal, the session ending) to every live exit-request watch. */
    void RequestExit();
    /** Reports a clock change to every live clock watch. */
    void ChangeClock(ClockChange change);

    struct ShownNotification {
        std::string title;
        std::string text;
        int timeoutMs = 0;
        NotificationStyle style;
    };
    /** Every notification shown through the notifications created here, in order; each Show succeeds. */
    const std::vector<ShownNotification>& ShownNotifications() const;
    /** How often a notification was cancelled. */
    int NotificationCancels() const;
    /** Plays the user clicking (closing) the shown notification of every live notifier; false when none shows one. */
    bool ClickNotification();
    bool CloseNotification();
    /**
     * Plays the user choosing the action key on the shown notification of every live notifier; false when
     * none shows one that offers it.
     */
    bool ChooseNotificationAction(const std::string& key);

    /** Plays the machine's autostart entry, for the executable given, or none. */
    void SetMachineAutostart(std::optional<std::string> exePath);
    /** The executable this user's autostart entry starts, if there is one. */
    std::optional<std::string> UserAutostart() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    int m_monitorOnCalls = 0;
};

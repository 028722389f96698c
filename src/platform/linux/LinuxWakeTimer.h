#pragma once

#include "platform/WakeStatus.h"
#include "platform/WakeTimer.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>

class QObject;

/**
 * /sys/class/rtc, or LARKBELL_TEST_RTC_FOLDER where set: end-to-end tests run the real program on machines
 * whose clocks they cannot choose.
 */
QString DefaultRtcClassFolder();

/** Where the wake paths are looked for; the defaults are the real system. */
struct WakeOptions {
    bool useRealtimeAlarm = true;
    QString rtcClassFolder = DefaultRtcClassFolder(); // the kernel lists its real-time clocks here
    bool usePowerDaemon = true;
    QString busConnection; // name of an open QDBusConnection; empty for the session bus
};

/** The best wake path that works now. */
WakePath DetectWakePath(const WakeOptions& options = {});

/**
 * Which wake path this process would use, whether it can wake the computer and why. Asks the power daemon
 * over D-Bus and waits for its answers (a few seconds at most): never on the GUI thread.
 */
WakeStatus DetectLinuxWakeStatus(const WakeOptions& options = {});

/**
 * The wake timer. On the real-time alarm path it is a CLOCK_REALTIME_ALARM timerfd, which needs
 * CAP_WAKE_ALARM and a real-time clock that can raise a wake alarm. On the power daemon path the
 * daemon's scheduleWakeup holds the request; calls are asynchronous, so a frozen daemon never blocks
 * the caller, and a request answered after it was replaced is withdrawn at once. Whether the daemon
 * offers wake-ups is asked asynchronously too: Path() is None until it has answered, and a wake-up
 * armed meanwhile is requested then.
 */
class LinuxWakeTimer final : public WakeTimer
{
public:
    explicit LinuxWakeTimer(const WakeOptions& options = {});
    ~LinuxWakeTimer() override;

    bool Arm(WallTime due) override;
    void Disarm() override;
    WakePath Path() const override { return m_path; }

    /** The instant the wake-up is requested for, as the system holds it; for the debug log and tests. */
    std::optional<WallTime> RequestedWake() const;

private:
    void probePowerDaemon(const WakeOptions& options);
    void scheduleWithDaemon(WallTime due);
    void clearWithDaemon(int cookie, bool wait);

    WakePath m_path = WakePath::None;
    int m_fd = -1;
    QDBusConnection m_bus;
    bool m_timestampSigned = false;     // the daemon takes the time as a signed 64-bit number
    std::optional<WallTime> m_due;      // set while armed
    std::optional<int> m_cookie;        // the daemon's handle for the current request
    unsigned m_generation = 0;          // bumped by every Arm and Disarm, so late replies can tell they are stale
    bool m_closing = false;             // in the destructor: daemon calls must go out before we return
    std::unique_ptr<QObject> m_pending; // parent of the outstanding daemon calls
};

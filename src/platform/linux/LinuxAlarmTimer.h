#pragma once

#include "platform/AlarmTimer.h"

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

/**
 * The alarm timer on a CLOCK_REALTIME timerfd with an absolute expiry. The descriptor is watched by the
 * creating thread's event loop, so the callback runs there without a thread hand-over.
 */
class LinuxAlarmTimer final : public AlarmTimer
{
public:
    /** nullptr when the kernel refuses a timerfd. */
    static std::unique_ptr<LinuxAlarmTimer> Create(std::function<void()> onFired);
    ~LinuxAlarmTimer() override;

    bool Arm(WallTime due) override;
    void Disarm() override;

private:
    LinuxAlarmTimer(int fd, std::function<void()> onFired);
    void onReadable();

    int m_fd;
    std::function<void()> m_onFired;
    std::optional<WallTime> m_due; // set while armed
    std::unique_ptr<QSocketNotifier> m_notifier;
};

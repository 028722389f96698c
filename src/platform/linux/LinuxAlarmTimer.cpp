#include "platform/linux/LinuxAlarmTimer.h"

#include "platform/linux/PlatformLog.h"
#include "platform/linux/TimerFd.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

std::unique_ptr<LinuxAlarmTimer> LinuxAlarmTimer::Create(std::function<void()> onFired)
{
    const int fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
        qCWarning(lcPlatform, "alarm timer: timerfd_create failed: %s", std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<LinuxAlarmTimer>(new LinuxAlarmTimer(fd, std::move(onFired)));
}

LinuxAlarmTimer::LinuxAlarmTimer(int fd, std::function<void()> onFired)
    : m_fd(fd)
    , m_onFired(std::move(onFired))
    , m_notifier(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read))
{
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { onReadable(); });
}

LinuxAlarmTimer::~LinuxAlarmTimer()
{
    m_notifier.reset();
    ::close(m_fd);
}

bool LinuxAlarmTimer::Arm(WallTime due)
{
    // Cancel-on-set makes a clock change wake the read with ECANCELED, which is how an expiry hidden by
    // the change is caught (see NextTimerStep).
    if (!SetTimerFd(m_fd, due, true)) {
        qCWarning(lcPlatform, "alarm timer: timerfd_settime failed: %s", std::strerror(errno));
        return false;
    }
    m_due = due;
    m_notifier->setEnabled(true);
    return true;
}

void LinuxAlarmTimer::Disarm()
{
    m_due.reset();
    ClearTimerFd(m_fd);
}

void LinuxAlarmTimer::onReadable()
{
    const TimerRead read = ReadTimerFd(m_fd);
    const TimerStep step = NextTimerStep(read, m_due.has_value());
    if (step.stop) {
        qCWarning(lcPlatform, "alarm timer: reading the timerfd failed: %s", std::strerror(errno));
        m_notifier->setEnabled(false);
        return;
    }
    if (step.rearm) {
        qCInfo(lcPlatform, "alarm timer: clock set; re-arming for the same instant");
        if (!SetTimerFd(m_fd, *m_due, true))
            qCWarning(lcPlatform, "alarm timer: re-arming failed: %s", std::strerror(errno));
    }
    if (step.fire) {
        m_due.reset();
        // Last statement: the callback may re-arm or even destroy this timer.
        m_onFired();
    }
}

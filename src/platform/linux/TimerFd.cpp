#include "platform/linux/TimerFd.h"

#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

timespec ToTimespec(WallTime due)
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<nanoseconds>(due.time_since_epoch());
    if (sinceEpoch <= nanoseconds::zero())
        return timespec{0, 1};
    const auto secs = floor<seconds>(sinceEpoch);
    return timespec{static_cast<time_t>(secs.count()), static_cast<long>((sinceEpoch - secs).count())};
}

TimerRead ClassifyTimerRead(ssize_t result, int error)
{
    if (result == static_cast<ssize_t>(sizeof(std::uint64_t)))
        return TimerRead::Expired;
    if (result >= 0)
        return TimerRead::Broken; // a timerfd hands out whole 8-byte counters or nothing
    switch (error) {
    case ECANCELED:
        return TimerRead::ClockChanged;
    case EINTR:
        return TimerRead::Interrupted;
    case EAGAIN:
        return TimerRead::Nothing;
    default:
        return TimerRead::Broken;
    }
}

TimerRead ReadTimerFd(int fd)
{
    for (;;) {
        std::uint64_t expirations = 0;
        const ssize_t n = ::read(fd, &expirations, sizeof expirations);
        const TimerRead read = ClassifyTimerRead(n, n < 0 ? errno : 0);
        if (read != TimerRead::Interrupted)
            return read;
    }
}

TimerStep NextTimerStep(TimerRead read, bool armed)
{
    switch (read) {
    case TimerRead::Expired:
        return TimerStep{.fire = armed, .rearm = false, .stop = false};
    case TimerRead::ClockChanged:
        return TimerStep{.fire = false, .rearm = armed, .stop = false};
    case TimerRead::Interrupted:
    case TimerRead::Nothing:
        return TimerStep{};
    case TimerRead::Broken:
        break;
    }
    return TimerStep{.fire = false, .rearm = false, .stop = true};
}

bool SetTimerFd(int fd, WallTime due, bool cancelOnClockSet)
{
    itimerspec expiry{};
    expiry.it_value = ToTimespec(due);
    const int flags = TFD_TIMER_ABSTIME | (cancelOnClockSet ? TFD_TIMER_CANCEL_ON_SET : 0);
    return ::timerfd_settime(fd, flags, &expiry, nullptr) == 0;
}

bool ClearTimerFd(int fd)
{
    const itimerspec disarmed{};
    return ::timerfd_settime(fd, 0, &disarmed, nullptr) == 0;
}

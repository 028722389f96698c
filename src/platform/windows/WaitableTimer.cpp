#include "platform/windows/WaitableTimer.h"

#include <chrono>

namespace WaitableTimer {

namespace {

// 100-ns units from 1601-01-01 to 1970-01-01, both UTC.
constexpr LONGLONG kUnixEpochTicks = 116444736000000000LL;
using Ticks = std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>;

} // namespace

LONGLONG ToDueTicks(WallTime due)
{
    const LONGLONG sinceUnixEpoch = std::chrono::floor<Ticks>(due.time_since_epoch()).count();
    if (sinceUnixEpoch <= 1 - kUnixEpochTicks)
        return 1;
    return sinceUnixEpoch + kUnixEpochTicks;
}

SetResult SetOnSystem(HANDLE timer, LONGLONG dueTicks, bool resume)
{
    LARGE_INTEGER due;
    due.QuadPart = dueTicks;
    ::SetLastError(ERROR_SUCCESS);
    const bool ok = ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, resume ? TRUE : FALSE) != FALSE;
    return {ok, ::GetLastError()};
}

ArmResult Arm(HANDLE timer, WallTime due, bool wake, const Setter& set)
{
    const LONGLONG ticks = ToDueTicks(due);
    const SetResult first = set(timer, ticks, wake);
    if (!first.ok)
        return {};
    if (!wake)
        return {true, false};
    if (!ResumeIgnored(first.error))
        return {true, true};
    const SetResult again = set(timer, ticks, false);
    return {again.ok, false};
}

void Park(HANDLE timer, const Setter& set)
{
    using namespace std::chrono_literals;
    set(timer, ToDueTicks(std::chrono::system_clock::now() + 24h * 365), false);
    ::CancelWaitableTimer(timer);
}

std::optional<bool> ResumeSupported(const Setter& set)
{
    const HANDLE timer = ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
    if (!timer)
        return std::nullopt;
    // Relative, 100 ms: long enough never to fire while we look, short enough to be harmless if it did.
    const SetResult result = set(timer, -1000000, true);
    ::CancelWaitableTimer(timer);
    ::CloseHandle(timer);
    if (!result.ok)
        return std::nullopt;
    return !ResumeIgnored(result.error);
}

} // namespace WaitableTimer

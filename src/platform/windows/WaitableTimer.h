#pragma once

#include "platform/AlarmTimer.h"

#include <windows.h>

#include <functional>
#include <optional>

/** Arming the system's waitable timers at absolute instants, with and without resume from sleep. */
namespace WaitableTimer {

/** The system accepted a timer with resume but cannot wake for it. */
constexpr DWORD kErrorNotSupported = 50;
/** The same, as newer systems (and Wine) report it; the SDK calls it ERROR_TIMER_RESUME_IGNORED. */
constexpr DWORD kErrorTimerResumeIgnored = 722;

/** True for the last errors that mean "set, but without resume". */
constexpr bool ResumeIgnored(DWORD lastError)
{
    return lastError == kErrorNotSupported || lastError == kErrorTimerResumeIgnored;
}

/**
 * `due` as an absolute due time for SetWaitableTimer: 100-ns units since 1601-01-01 UTC. An instant
 * before 1601 becomes 1, still absolute and long past: a negative value would be read as relative.
 */
LONGLONG ToDueTicks(WallTime due);

/** What one SetWaitableTimer call answered: its result and the last error right after it. */
struct SetResult {
    bool ok = false;
    DWORD error = 0;
};

/** Sets `timer` to the absolute due time, no period, no completion routine. */
using Setter = std::function<SetResult(HANDLE timer, LONGLONG dueTicks, bool resume)>;

/** The system's SetWaitableTimer; the last error is cleared first, as success leaves it untouched otherwise. */
SetResult SetOnSystem(HANDLE timer, LONGLONG dueTicks, bool resume);

struct ArmResult {
    bool armed = false;   // the timer will fire at the due time
    bool resumes = false; // and the system promised to wake from sleep for it
};

/**
 * Sets `timer` for `due`, with resume when `wake` is asked for. A system that cannot wake accepts the
 * timer but answers error 50 or 722; the timer is then set once more without resume, so that it does
 * not depend on a promise the system did not give.
 */
ArmResult Arm(HANDLE timer, WallTime due, bool wake, const Setter& set = SetOnSystem);

/**
 * Sets `timer` a year ahead without resume, which also clears a manual-reset timer's signalled state,
 * then cancels it: nothing fires and nothing waiting on it is released until it is armed again.
 */
void Park(HANDLE timer, const Setter& set = SetOnSystem);

/**
 * The first-start wake-timer test: an unnamed manual-reset timer set 100 ms ahead with resume. True
 * when the system accepted the resume, false when it answered error 50 or 722; empty when no timer
 * could be created or set, in which case the caller keeps what it knew.
 */
std::optional<bool> ResumeSupported(const Setter& set = SetOnSystem);

} // namespace WaitableTimer

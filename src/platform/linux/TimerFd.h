#pragma once

#include "platform/AlarmTimer.h"

#include <ctime>
#include <sys/types.h>

/**
 * The absolute expiry for timerfd_settime. Instants at or before the epoch become one nanosecond after
 * it: the kernel rejects negative times and takes an all-zero time to mean "disarm", yet both are
 * simply past and must fire at once.
 */
timespec ToTimespec(WallTime due);

/** What one read of a timerfd means. */
enum class TimerRead {
    Expired,      // the due time came
    ClockChanged, // ECANCELED: the wall clock was set (or the computer resumed); any expiry in between is lost
    Interrupted,  // EINTR: read again
    Nothing,      // EAGAIN: a stale wake-up, e.g. the timer was re-armed after it expired
    Broken,       // the descriptor itself failed; reading again will not help
};

/** Classifies the result of read(2) on a timerfd, given errno after it. */
TimerRead ClassifyTimerRead(ssize_t result, int error);

/** Reads a non-blocking timerfd once, retrying interrupted reads. */
TimerRead ReadTimerFd(int fd);

/** What the alarm timer does after a read. */
struct TimerStep {
    bool fire = false;  // run the owner's callback
    bool rearm = false; // set the timer again for the same due time
    bool stop = false;  // stop watching the descriptor
};

/**
 * The alarm timer's reaction to a read. After a clock change the kernel has dropped any expiry that
 * coincided with it, so the timer is set again for the same instant: if the new clock is already past
 * it, it fires at once, as an absolute timer must.
 */
TimerStep NextTimerStep(TimerRead read, bool armed);

/** Arms `fd` for the absolute instant `due`, optionally asking for ECANCELED when the clock is set. */
bool SetTimerFd(int fd, WallTime due, bool cancelOnClockSet);
/** Disarms `fd`. */
bool ClearTimerFd(int fd);

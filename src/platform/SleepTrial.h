#pragma once

#include "platform/AlarmTimer.h"

#include <chrono>
#include <functional>
#include <string>

/** What a sleep trial reports, each on the thread that started it. */
struct SleepTrialEvents {
    std::function<void()> asleep; // the system announced the sleep
    /** The system is back; `slept` is how long the computer was suspended as the kernel counts it. */
    std::function<void(WallTime resumedAt, std::chrono::milliseconds slept)> resumed;
    /** The system refused to sleep or could not be asked; English, for the log and the user. */
    std::function<void(const std::string& why)> failed;
};

/**
 * Puts the computer to sleep with a wake-up armed on this program's wake path, so the user can see that
 * an alarm will wake it. Ending the object withdraws the wake-up and stops listening.
 */
class SleepTrial
{
public:
    SleepTrial() = default;
    virtual ~SleepTrial() = default;
    SleepTrial(const SleepTrial&) = delete;
    SleepTrial& operator=(const SleepTrial&) = delete;
};

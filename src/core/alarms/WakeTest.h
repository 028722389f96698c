#pragma once

#include <QDateTime>

/** What a wake-up test found out about the computer. */
struct WakeTestVerdict {
    enum class Outcome {
        WokeByItself, // back at the wake time: the wake-up did it
        CameBackLate, // back well after the wake time: the user (or something else) woke it
        CameBackEarly // back before the wake time: the test cannot tell
    };
    Outcome outcome = Outcome::CameBackEarly;
    qint64 secondsLate = 0; // after the wake time, for CameBackLate
};

/**
 * Judges a test sleep by when the computer came back. Waking from sleep and announcing it takes some
 * seconds on slow machines, so "at the wake time" spans a minute after it; a computer that was
 * back a little before it counts too, since its clock may have been read just before the wake-up.
 */
WakeTestVerdict JudgeWakeTest(const QDateTime& wakeAt, const QDateTime& resumedAt);

/** How long after the wake time a return still counts as woken by itself. */
constexpr qint64 kWakeTestLateMs = 60 * 1000;
/** How long before the wake time a return still counts as woken by itself. */
constexpr qint64 kWakeTestEarlyMs = 2 * 1000;

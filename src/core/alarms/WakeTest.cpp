#include "core/alarms/WakeTest.h"

WakeTestVerdict JudgeWakeTest(const QDateTime& wakeAt, const QDateTime& resumedAt)
{
    const qint64 late = wakeAt.msecsTo(resumedAt);
    if (late < -kWakeTestEarlyMs)
        return {WakeTestVerdict::Outcome::CameBackEarly, 0};
    if (late <= kWakeTestLateMs)
        return {WakeTestVerdict::Outcome::WokeByItself, 0};
    return {WakeTestVerdict::Outcome::CameBackLate, late / 1000};
}

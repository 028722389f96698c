// The alarm timer on a real waitable timer: absolute due times, the hand-over to the creating thread,
// re-arming and disarming, and the latency from due time to callback.
#include "TestKit.h"

#include "platform/windows/WaitableTimer.h"
#include "platform/windows/WindowsAlarmTimer.h"

#include <algorithm>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

namespace {

struct Firings {
    std::vector<WallTime> at;
    std::vector<DWORD> threads;
};

std::unique_ptr<WindowsAlarmTimer> TimerRecording(Firings& firings)
{
    return WindowsAlarmTimer::Create([&firings] {
        firings.at.push_back(Clock::now());
        firings.threads.push_back(::GetCurrentThreadId());
    });
}

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void firesAtAnAbsoluteTimeOnTheCreatingThread()
{
    Firings firings;
    auto timer = TimerRecording(firings);
    if (!CHECK(timer))
        return;
    std::vector<double> latencies;
    for (int round = 0; round < 5; ++round) {
        const WallTime due = Clock::now() + 300ms;
        CHECK(timer->Arm(due));
        CHECK(TestKit::PumpUntil([&] { return firings.at.size() == static_cast<size_t>(round + 1); }, 3000));
        if (firings.at.size() != static_cast<size_t>(round + 1))
            return;
        const double latency = Milliseconds(firings.at.back() - due);
        latencies.push_back(latency);
        // The system clock and the timer tick at different grains; a few ms early is still "at".
        CHECK(latency > -16.0);
        CHECK(latency < 250.0);
        CHECK_EQ(firings.threads.back(), ::GetCurrentThreadId());
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("  latency from due time to callback over %zu firings: min %.1f ms, median %.1f ms, max %.1f ms\n",
                latencies.size(), latencies.front(), latencies[latencies.size() / 2], latencies.back());
}

void firesOnceAndStaysDisarmed()
{
    Firings firings;
    auto timer = TimerRecording(firings);
    CHECK(timer->Arm(Clock::now() + 50ms));
    CHECK(TestKit::PumpUntil([&] { return !firings.at.empty(); }, 2000));
    // The manual-reset timer would stay signalled; after the callback nothing more may come.
    TestKit::PumpFor(400);
    CHECK_EQ(firings.at.size(), 1u);
}

void aPastDueTimeFiresAtOnce()
{
    Firings firings;
    auto timer = TimerRecording(firings);
    const auto start = Clock::now();
    CHECK(timer->Arm(start - 1h));
    CHECK(TestKit::PumpUntil([&] { return !firings.at.empty(); }, 2000));
    if (!firings.at.empty())
        CHECK(Milliseconds(firings.at.front() - start) < 200.0);
    // The earliest instant the clock type holds is still a valid absolute (positive) due time.
    CHECK(timer->Arm(WallTime::min()));
    CHECK(TestKit::PumpUntil([&] { return firings.at.size() == 2; }, 2000));
}

void armingAgainReplacesTheDueTime()
{
    Firings firings;
    auto timer = TimerRecording(firings);
    CHECK(timer->Arm(Clock::now() + 100ms));
    const WallTime later = Clock::now() + 600ms;
    CHECK(timer->Arm(later));
    CHECK(TestKit::PumpUntil([&] { return !firings.at.empty(); }, 3000));
    if (!firings.at.empty())
        CHECK(firings.at.front() >= later - 16ms);
    TestKit::PumpFor(200);
    CHECK_EQ(firings.at.size(), 1u);
}

void disarmStopsAFiring()
{
    Firings firings;
    auto timer = TimerRecording(firings);
    CHECK(timer->Arm(Clock::now() + 150ms));
    timer->Disarm();
    TestKit::PumpFor(500);
    CHECK(firings.at.empty());
}

void aFiringOvertakenByDisarmIsDropped()
{
    // The waiting thread has seen the timer signalled and posted its message, but the creating thread
    // disarms before it handles the message: the callback must not run.
    Firings firings;
    auto timer = TimerRecording(firings);
    CHECK(timer->Arm(Clock::now() - 1s));
    ::Sleep(200); // no messages handled meanwhile: the firing waits in the queue
    timer->Disarm();
    TestKit::PumpFor(300);
    CHECK(firings.at.empty());
    // And the timer still works afterwards.
    CHECK(timer->Arm(Clock::now() + 50ms));
    CHECK(TestKit::PumpUntil([&] { return firings.at.size() == 1; }, 2000));
}

void theCallbackMayArmAgain()
{
    int count = 0;
    std::unique_ptr<WindowsAlarmTimer> timer;
    timer = WindowsAlarmTimer::Create([&] {
        if (++count < 3)
            timer->Arm(Clock::now() + 50ms);
    });
    CHECK(timer->Arm(Clock::now() + 50ms));
    CHECK(TestKit::PumpUntil([&] { return count == 3; }, 3000));
    TestKit::PumpFor(200);
    CHECK_EQ(count, 3);
}

void theCallbackMayDestroyTheTimer()
{
    bool fired = false;
    std::unique_ptr<WindowsAlarmTimer> timer;
    timer = WindowsAlarmTimer::Create([&] {
        fired = true;
        timer.reset();
    });
    CHECK(timer->Arm(Clock::now() + 50ms));
    CHECK(TestKit::PumpUntil([&] { return fired; }, 2000));
    CHECK(!timer);
    TestKit::PumpFor(100);
}

void theTimerIsTheNamedManualResetTimer()
{
    auto timer = WindowsAlarmTimer::Create([] {});
    const HANDLE opened = ::OpenWaitableTimerW(SYNCHRONIZE | TIMER_MODIFY_STATE, FALSE, L"Larkbell");
    CHECK(opened != nullptr);
    if (!opened)
        return;
    // Manual reset: once due it stays signalled for every waiter until it is set again.
    LARGE_INTEGER now{};
    now.QuadPart = -1;
    CHECK(::SetWaitableTimer(opened, &now, 0, nullptr, nullptr, FALSE));
    CHECK_EQ(::WaitForSingleObject(opened, 1000), WAIT_OBJECT_0);
    CHECK_EQ(::WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
    ::CloseHandle(opened);
    timer.reset();
}

void dueTicksCountFrom1601()
{
    CHECK_EQ(WaitableTimer::ToDueTicks(WallTime()), 116444736000000000LL);
    CHECK_EQ(WaitableTimer::ToDueTicks(WallTime(std::chrono::seconds(1))), 116444736010000000LL);
    CHECK_EQ(WaitableTimer::ToDueTicks(WallTime(std::chrono::microseconds(-7))), 116444735999999930LL);
    CHECK(WaitableTimer::ToDueTicks(WallTime::min()) >= 1);
}

} // namespace

int main()
{
    return TestKit::RunTests(
        "Windows alarm timer",
        {
            {"fires at an absolute time on the creating thread", firesAtAnAbsoluteTimeOnTheCreatingThread},
            {"fires once and stays disarmed", firesOnceAndStaysDisarmed},
            {"a past due time fires at once", aPastDueTimeFiresAtOnce},
            {"arming again replaces the due time", armingAgainReplacesTheDueTime},
            {"disarm stops a firing", disarmStopsAFiring},
            {"a firing overtaken by Disarm is dropped", aFiringOvertakenByDisarmIsDropped},
            {"the callback may arm again", theCallbackMayArmAgain},
            {"the callback may destroy the timer", theCallbackMayDestroyTheTimer},
            {"the timer is the named manual-reset timer \"Larkbell\"", theTimerIsTheNamedManualResetTimer},
            {"due ticks count 100 ns from 1601", dueTicksCountFrom1601},
        });
}

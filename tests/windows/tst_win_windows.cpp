// The clock watch (WM_TIMECHANGE and resume notices), the monitor-power command and the platform
// object that puts the Windows back end together.
#include "TestKit.h"

#include "platform/Platform.h"
#include "platform/VolumeBackends.h"
#include "platform/windows/HiddenWindow.h"
#include "platform/windows/WindowsClockWatch.h"
#include "platform/windows/WindowsMonitorPower.h"

#include <vector>

using namespace std::chrono_literals;

namespace {

void aTimeChangeBroadcastIsReported()
{
    std::vector<ClockChange> changes;
    auto watch = WindowsClockWatch::Create([&](ClockChange change) { changes.push_back(change); });
    if (!CHECK(watch))
        return;
    // As a program that sets the clock does: a broadcast to every top-level window.
    ::SendMessageTimeoutW(HWND_BROADCAST, WM_TIMECHANGE, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    TestKit::PumpUntil([&] { return !changes.empty(); }, 2000);
    CHECK_EQ(changes.size(), 1u);
    if (!changes.empty())
        CHECK_EQ(changes[0], ClockChange::TimeSet); // the zone is the same as when the watch started
}

void aResumeIsReportedAsTheClockBeingSet()
{
    std::vector<ClockChange> changes;
    auto watch = WindowsClockWatch::Create([&](ClockChange change) { changes.push_back(change); });
    if (!CHECK(watch))
        return;
    ::PostMessageW(watch->Window(), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    ::PostMessageW(watch->Window(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    TestKit::PumpUntil([&] { return !changes.empty(); }, 2000);
    TestKit::PumpFor(100);
    CHECK_EQ(changes.size(), 1u);
    if (!changes.empty())
        CHECK_EQ(changes[0], ClockChange::TimeSet);
}

void theWatchIsAHiddenToolWindow()
{
    auto watch = WindowsClockWatch::Create([](ClockChange) {});
    if (!CHECK(watch))
        return;
    const HWND window = watch->Window();
    CHECK(!::IsWindowVisible(window));
    CHECK(::GetAncestor(window, GA_PARENT) == ::GetDesktopWindow()); // top-level: it gets broadcasts
    CHECK(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
}

void zoneComparison()
{
    DYNAMIC_TIME_ZONE_INFORMATION a{};
    ::GetDynamicTimeZoneInformation(&a);
    DYNAMIC_TIME_ZONE_INFORMATION b = a;
    CHECK(SameZone(a, b));
    b.Bias += 60;
    CHECK(!SameZone(a, b));
    b = a;
    b.TimeZoneKeyName[0] = b.TimeZoneKeyName[0] == L'X' ? L'Y' : L'X';
    CHECK(!SameZone(a, b));
    b = a;
    b.DaylightDate.wMonth = b.DaylightDate.wMonth == 4 ? 3 : 4;
    CHECK(!SameZone(a, b));
}

void monitorPowerOnIsSentToTheWindow()
{
    struct Sent {
        WPARAM command;
        LPARAM value;
    };
    std::vector<Sent> sent;
    auto window = HiddenWindow::Create(L"LarkbellTestMonitor", HiddenWindow::Kind::TopLevel, WS_EX_TOOLWINDOW,
                                       [&](UINT message, WPARAM wParam, LPARAM lParam) -> std::optional<LRESULT> {
                                           if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_MONITORPOWER)
                                               sent.push_back({wParam, lParam});
                                           return std::nullopt; // the default handling passes it on
                                       });
    if (!CHECK(window))
        return;
    WindowsMonitorPower::On(window->Handle());
    CHECK_EQ(sent.size(), 1u);
    if (!sent.empty()) {
        CHECK_EQ(sent[0].command, static_cast<WPARAM>(SC_MONITORPOWER));
        CHECK_EQ(sent[0].value, static_cast<LPARAM>(-1));
    }
    WindowsMonitorPower::On(nullptr); // no window: only the display request, no crash
}

void thePlatformPutsTheBackEndTogether()
{
    std::unique_ptr<Platform> platform = CreatePlatform();
    if (!CHECK(platform))
        return;
    bool fired = false;
    auto alarm = platform->CreateAlarmTimer([&] { fired = true; });
    auto wake = platform->CreateWakeTimer();
    CHECK(alarm && wake);
    if (alarm && wake) {
        const WallTime due = std::chrono::system_clock::now() + 100ms;
        CHECK(wake->Arm(due));
        CHECK(alarm->Arm(due));
        CHECK(TestKit::PumpUntil([&] { return fired; }, 2000));
        wake->Disarm();
    }
    std::vector<ClockChange> changes;
    auto watch = platform->WatchClock([&](ClockChange change) { changes.push_back(change); });
    CHECK(watch != nullptr);
    ::SendMessageTimeoutW(HWND_BROADCAST, WM_TIMECHANGE, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    TestKit::PumpUntil([&] { return !changes.empty(); }, 2000);
    CHECK_EQ(changes.size(), 1u);
    std::printf("  wake timers allowed: %s\n", platform->WakeTimersAllowed() ? "yes" : "no");
    platform->MonitorOn();
    CHECK(CreateSystemVolumeEndpoint() != nullptr);
    CHECK(CreateSystemVolumeMixer() != nullptr);
}

} // namespace

int main()
{
    return TestKit::RunTests("Windows clock watch, monitor power and platform",
                             {
                                 {"a time-change broadcast is reported", aTimeChangeBroadcastIsReported},
                                 {"a resume is reported as the clock being set", aResumeIsReportedAsTheClockBeingSet},
                                 {"the watch is a hidden top-level tool window", theWatchIsAHiddenToolWindow},
                                 {"zone comparison", zoneComparison},
                                 {"monitor power on is sent to the window", monitorPowerOnIsSentToTheWindow},
                                 {"the platform puts the back end together", thePlatformPutsTheBackEndTogether},
                             });
}

// The wake timer with resume and its fallback, the first-start wake-timer test, the power plan's
// "allow wake timers" query and the first-start powercfg steps.
#include "TestKit.h"

#include "platform/windows/PowerPlan.h"
#include "platform/windows/WaitableTimer.h"
#include "platform/windows/WindowsWakeTimer.h"

#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

namespace {

struct SetCall {
    LONGLONG due;
    bool resume;
};

/** Plays SetWaitableTimer: answers from a script and records each call. */
struct ScriptedSetter {
    std::vector<WaitableTimer::SetResult> answers;
    std::vector<SetCall> calls;

    WaitableTimer::Setter setter()
    {
        return [this](HANDLE, LONGLONG due, bool resume) {
            calls.push_back({due, resume});
            const size_t index = calls.size() - 1;
            return index < answers.size() ? answers[index] : WaitableTimer::SetResult{true, 0};
        };
    }
};

void resumeAcceptedArmsOnce()
{
    ScriptedSetter set{{{true, 0}}, {}};
    const WallTime due = Clock::now() + 1h;
    const WaitableTimer::ArmResult result = WaitableTimer::Arm(nullptr, due, true, set.setter());
    CHECK(result.armed);
    CHECK(result.resumes);
    CHECK_EQ(set.calls.size(), 1u);
    if (!set.calls.empty()) {
        CHECK(set.calls[0].resume);
        CHECK_EQ(set.calls[0].due, WaitableTimer::ToDueTicks(due));
    }
}

void error50RearmsWithoutResume()
{
    for (const DWORD error : {DWORD{50}, DWORD{722}}) {
        ScriptedSetter set{{{true, error}, {true, 0}}, {}};
        const WallTime due = Clock::now() + 1h;
        const WaitableTimer::ArmResult result = WaitableTimer::Arm(nullptr, due, true, set.setter());
        CHECK(result.armed);
        CHECK(!result.resumes);
        CHECK_EQ(set.calls.size(), 2u);
        if (set.calls.size() == 2) {
            CHECK(set.calls[0].resume);
            CHECK(!set.calls[1].resume);
            CHECK_EQ(set.calls[1].due, set.calls[0].due);
        }
    }
}

void otherLastErrorsAfterSuccessKeepResume()
{
    // Only 50 and 722 mean "no resume"; success with anything else is a resume the system promised.
    ScriptedSetter set{{{true, ERROR_ALREADY_EXISTS}}, {}};
    const WaitableTimer::ArmResult result = WaitableTimer::Arm(nullptr, Clock::now() + 1h, true, set.setter());
    CHECK(result.armed);
    CHECK(result.resumes);
    CHECK_EQ(set.calls.size(), 1u);
}

void failuresReturnFalse()
{
    ScriptedSetter refused{{{false, ERROR_ACCESS_DENIED}}, {}};
    CHECK(!WaitableTimer::Arm(nullptr, Clock::now() + 1h, true, refused.setter()).armed);
    CHECK_EQ(refused.calls.size(), 1u);

    ScriptedSetter secondRefused{{{true, 50}, {false, ERROR_INVALID_HANDLE}}, {}};
    CHECK(!WaitableTimer::Arm(nullptr, Clock::now() + 1h, true, secondRefused.setter()).armed);
    CHECK_EQ(secondRefused.calls.size(), 2u);

    // Without wake there is no second try, whatever the last error says.
    ScriptedSetter noWake{{{true, 50}}, {}};
    const WaitableTimer::ArmResult plain = WaitableTimer::Arm(nullptr, Clock::now() + 1h, false, noWake.setter());
    CHECK(plain.armed);
    CHECK(!plain.resumes);
    CHECK_EQ(noWake.calls.size(), 1u);
    if (!noWake.calls.empty())
        CHECK(!noWake.calls[0].resume);
}

void resumeTestDecidesTheWakeSupportedFlag()
{
    ScriptedSetter accepted{{{true, 0}}, {}};
    CHECK_EQ(WaitableTimer::ResumeSupported(accepted.setter()), std::optional<bool>(true));
    if (!accepted.calls.empty()) {
        CHECK_EQ(accepted.calls[0].due, -1000000LL); // 100 ms ahead, relative
        CHECK(accepted.calls[0].resume);
    }
    ScriptedSetter ignored{{{true, 50}}, {}};
    CHECK_EQ(WaitableTimer::ResumeSupported(ignored.setter()), std::optional<bool>(false));
    ScriptedSetter ignored722{{{true, 722}}, {}};
    CHECK_EQ(WaitableTimer::ResumeSupported(ignored722.setter()), std::optional<bool>(false));
    ScriptedSetter failed{{{false, ERROR_ACCESS_DENIED}}, {}};
    CHECK_EQ(WaitableTimer::ResumeSupported(failed.setter()), std::optional<bool>());
}

void wakeTimerOnTheSystem()
{
    auto wake = WindowsWakeTimer::Create();
    if (!CHECK(wake))
        return;
    const std::optional<bool> supported = WaitableTimer::ResumeSupported();
    std::printf("  this system %s resume for timers; wake path: %s\n",
                supported == std::optional<bool>(false) ? "cannot" : "can", WakePathName(wake->Path()));
    CHECK_EQ(wake->Path(), supported.value_or(true) ? WakePath::RealtimeAlarm : WakePath::None);
    // Armed either way: with resume, or (error 50 / 722) again without it.
    CHECK(wake->Arm(Clock::now() + 1h));
    CHECK_EQ(wake->LastArmResumes(), supported.value_or(true));
    const HANDLE opened = ::OpenWaitableTimerW(SYNCHRONIZE | TIMER_MODIFY_STATE, FALSE, L"Larkbell Wakeup");
    CHECK(opened != nullptr);
    if (opened) {
        CHECK_EQ(::WaitForSingleObject(opened, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        ::CloseHandle(opened);
    }
    // A past wake-up signals the timer; disarming clears it again.
    CHECK(wake->Arm(Clock::now() - 1s));
    CHECK_EQ(::WaitForSingleObject(wake->Handle(), 1000), WAIT_OBJECT_0);
    wake->Disarm();
    CHECK_EQ(::WaitForSingleObject(wake->Handle(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
    CHECK(!wake->LastArmResumes());
}

void wakeTimerFallsBackThroughItsSetter()
{
    ScriptedSetter set{{{true, 722}, {true, 50}, {true, 0}}, {}};
    auto wake = WindowsWakeTimer::Create(L"Larkbell Wakeup test", set.setter());
    if (!CHECK(wake))
        return;
    CHECK_EQ(wake->Path(), WakePath::None); // the creation test got 722
    set.calls.clear();
    CHECK(wake->Arm(Clock::now() + 1h)); // 50, then again without resume
    CHECK(!wake->LastArmResumes());
    CHECK_EQ(set.calls.size(), 2u);
}

/** A private stand-in for HKEY_LOCAL_MACHINE, removed again at the end. */
class PrivateMachineKey
{
public:
    PrivateMachineKey()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
    }
    ~PrivateMachineKey()
    {
        ::RegCloseKey(m_key);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
    }
    HKEY key() const { return m_key; }
    void setString(const std::wstring& subkey, const wchar_t* name, const std::wstring& value)
    {
        ::RegSetKeyValueW(m_key, subkey.c_str(), name, REG_SZ, value.c_str(),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    void setNumber(const std::wstring& subkey, const wchar_t* name, DWORD value)
    {
        ::RegSetKeyValueW(m_key, subkey.c_str(), name, REG_DWORD, &value, sizeof value);
    }

private:
    static constexpr const wchar_t* kPath = L"Software\\LarkbellTests\\Machine";
    HKEY m_key = nullptr;
};

void powerPlanQuery()
{
    PrivateMachineKey machine;
    const std::wstring schemes = PowerPlan::kSchemesKey;
    const std::wstring scheme = L"381b4222-f694-41f0-9685-ff5bb260df2e";
    const std::wstring setting = schemes + L"\\" + scheme + PowerPlan::kWakeTimersSetting;
    CHECK(PowerPlan::WakeTimersAllowed(machine.key())); // no schemes key at all
    machine.setString(schemes, L"ActivePowerScheme", scheme);
    CHECK(PowerPlan::WakeTimersAllowed(machine.key())); // no setting key
    machine.setNumber(setting, L"ACSettingIndex", 0);
    CHECK(PowerPlan::WakeTimersAllowed(machine.key())); // DC value missing
    machine.setNumber(setting, L"DCSettingIndex", 1);
    CHECK(!PowerPlan::WakeTimersAllowed(machine.key())); // forbidden on mains
    machine.setNumber(setting, L"ACSettingIndex", 1);
    CHECK(PowerPlan::WakeTimersAllowed(machine.key())); // allowed on both
    machine.setNumber(setting, L"DCSettingIndex", 0);
    CHECK(!PowerPlan::WakeTimersAllowed(machine.key())); // forbidden on battery
    machine.setNumber(setting, L"DCSettingIndex", 2);
    CHECK(PowerPlan::WakeTimersAllowed(machine.key())); // "important timers only" is non-zero
    machine.setString(schemes, L"ActivePowerScheme", L"another-scheme");
    CHECK(PowerPlan::WakeTimersAllowed(machine.key())); // the active scheme has no setting
    // The real machine key of this system answers too, whatever it holds.
    std::printf("  this system's power plan %s wake timers\n", PowerPlan::WakeTimersAllowed() ? "allows" : "forbids");
}

void firstStartSteps()
{
    std::vector<std::wstring> launched;
    const PowerPlan::Launcher record = [&](const std::wstring& commandLine) {
        launched.push_back(commandLine);
        return true;
    };
    bool wakeSupported = true;
    int step = 0;
    while (PowerPlan::RunSetupStep(step, wakeSupported, record))
        ++step;
    CHECK_EQ(step, PowerPlan::kSteps);
    CHECK_EQ(launched.size(), 3u);
    if (launched.size() == 3) {
        CHECK_EQ(
            launched[0],
            std::wstring(L"powercfg -setacvalueindex scheme_current sub_sleep bd3b718a-0680-4d9d-8ab2-e1d2b4ac806d 1"));
        CHECK_EQ(
            launched[1],
            std::wstring(L"powercfg -setdcvalueindex scheme_current sub_sleep bd3b718a-0680-4d9d-8ab2-e1d2b4ac806d 1"));
        CHECK_EQ(launched[2], std::wstring(L"powercfg -setactive scheme_current"));
    }
    CHECK_EQ(wakeSupported, WaitableTimer::ResumeSupported().value_or(true));
    CHECK(!PowerPlan::RunSetupStep(7, wakeSupported, record));
    CHECK_EQ(launched.size(), 3u);
}

void powercfgStartsHiddenWithoutWaiting()
{
    // The result is not examined (systems without powercfg, like Wine, simply fail to start it); the
    // call must come back at once either way.
    const auto start = std::chrono::steady_clock::now();
    const bool started = PowerPlan::LaunchHidden(L"powercfg " + *PowerPlan::PowerCfgArguments(2));
    const auto took = std::chrono::steady_clock::now() - start;
    std::printf("  powercfg %s\n", started ? "started" : "is not on this system");
    CHECK(took < 5s);
    CHECK(PowerPlan::LaunchHidden(L"cmd.exe /c exit 3"));
}

} // namespace

int main()
{
    return TestKit::RunTests(
        "Windows wake timer and power plan",
        {
            {"resume accepted: armed once, with resume", resumeAcceptedArmsOnce},
            {"error 50 or 722: armed again without resume", error50RearmsWithoutResume},
            {"other last errors after success keep resume", otherLastErrorsAfterSuccessKeepResume},
            {"failures return false", failuresReturnFalse},
            {"the resume test decides the wake supported flag", resumeTestDecidesTheWakeSupportedFlag},
            {"wake timer on this system", wakeTimerOnTheSystem},
            {"wake timer falls back through its setter", wakeTimerFallsBackThroughItsSetter},
            {"power plan query", powerPlanQuery},
            {"first-start steps", firstStartSteps},
            {"powercfg starts hidden without waiting", powercfgStartsHiddenWithoutWaiting},
        });
}

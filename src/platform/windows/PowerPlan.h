#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

/** The power plan's "allow wake timers" setting: the query, and the one-time set-up on the first start. */
namespace PowerPlan {

constexpr const wchar_t* kSchemesKey = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
// Sub-group "sleep", setting "allow wake timers".
constexpr const wchar_t* kWakeTimersSetting =
    L"\\238c9fa8-0aad-41ed-83f4-97be242c8f20\\bd3b718a-0680-4d9d-8ab2-e1d2b4ac806d";

/**
 * False only when the active power scheme can be read and its "allow wake timers" setting is 0 for
 * mains or battery power; a missing key or value counts as allowed. `machine` stands for
 * HKEY_LOCAL_MACHINE (tests pass a private key).
 */
bool WakeTimersAllowed(HKEY machine = HKEY_LOCAL_MACHINE);

/** The number of set-up steps; the caller runs steps 0 .. kSteps - 1, one per 500 ms tick. */
constexpr int kSteps = 4;

/** The powercfg arguments of steps 0, 1 and 2; empty for the other steps. */
std::optional<std::wstring> PowerCfgArguments(int step);

/** Starts a program hidden and does not wait for it; its command line as CreateProcess takes it. */
using Launcher = std::function<bool(const std::wstring& commandLine)>;
bool LaunchHidden(const std::wstring& commandLine);

/**
 * Runs one set-up step: 0-2 start powercfg hidden (results not examined), 3 runs the wake-timer test and
 * updates `wakeSupported` when it gives an answer. Returns false from step 4 on: the caller stops its
 * timer there.
 */
bool RunSetupStep(int step, bool& wakeSupported, const Launcher& launch = LaunchHidden);

} // namespace PowerPlan

#include "platform/windows/PowerPlan.h"

#include "platform/windows/WaitableTimer.h"

#include <vector>

namespace PowerPlan {

namespace {

std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const wchar_t* name)
{
    DWORD bytes = 0;
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(std::wcslen(value.c_str()));
    return value;
}

std::optional<DWORD> ReadNumber(HKEY key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD bytes = sizeof value;
    if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

} // namespace

bool WakeTimersAllowed(HKEY machine)
{
    const std::optional<std::wstring> scheme = ReadString(machine, kSchemesKey, L"ActivePowerScheme");
    if (!scheme)
        return true;
    const std::wstring settingKey = std::wstring(kSchemesKey) + L"\\" + *scheme + kWakeTimersSetting;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(machine, settingKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return true;
    const std::optional<DWORD> mains = ReadNumber(key, L"ACSettingIndex");
    const std::optional<DWORD> battery = ReadNumber(key, L"DCSettingIndex");
    ::RegCloseKey(key);
    if (!mains || !battery)
        return true;
    return *mains != 0 && *battery != 0;
}

std::optional<std::wstring> PowerCfgArguments(int step)
{
    switch (step) {
    case 0:
        return L"-setacvalueindex scheme_current sub_sleep bd3b718a-0680-4d9d-8ab2-e1d2b4ac806d 1";
    case 1:
        return L"-setdcvalueindex scheme_current sub_sleep bd3b718a-0680-4d9d-8ab2-e1d2b4ac806d 1";
    case 2:
        return L"-setactive scheme_current";
    default:
        return std::nullopt;
    }
}

bool LaunchHidden(const std::wstring& commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end()); // CreateProcessW may write to it
    buffer.push_back(L'\0');
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

bool RunSetupStep(int step, bool& wakeSupported, const Launcher& launch)
{
    if (const std::optional<std::wstring> arguments = PowerCfgArguments(step)) {
        launch(L"powercfg " + *arguments);
        return true;
    }
    if (step == 3) {
        if (const std::optional<bool> supported = WaitableTimer::ResumeSupported())
            wakeSupported = *supported;
        return true;
    }
    return false;
}

} // namespace PowerPlan

#include "platform/windows/RunKeyAutostart.h"

#include "platform/windows/WindowsText.h"

namespace RunKeyAutostart {

std::wstring EntryData(const std::string& exePath)
{
    return WindowsText::NativePath(exePath) + L" -autorun";
}

bool Enable(const std::string& exePath, const Roots& roots)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(roots.user, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring data = EntryData(exePath);
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    const LSTATUS status =
        ::RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool Disable(const Roots& roots)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(roots.user, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const LSTATUS status = ::RegDeleteValueW(key, kValueName);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::optional<std::wstring> ReadEntry(HKEY root)
{
    DWORD bytes = 0;
    // RegGetValue terminates the string even when the stored data lacks its terminating zero.
    if (::RegGetValueW(root, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (::RegGetValueW(root, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, data.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(std::wcslen(data.c_str()));
    return data;
}

bool Enabled(const std::string& exePath, const Roots& roots)
{
    const std::wstring expected = EntryData(exePath);
    return ReadEntry(roots.machine) == expected || ReadEntry(roots.user) == expected;
}

} // namespace RunKeyAutostart

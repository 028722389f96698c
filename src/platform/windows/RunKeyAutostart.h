#pragma once

#include <windows.h>

#include <optional>
#include <string>

/**
 * The autostart entry: the string value "LarkBL" under Software\Microsoft\Windows\CurrentVersion\Run,
 * holding the executable's full path, unquoted, followed by " -autorun". This user's key is written and
 * removed; the machine's is only read. Registry failures make the operations answer false, silently.
 */
namespace RunKeyAutostart {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kValueName = L"LarkBL";

/** Where the two Run keys are looked for; tests put both under a private key. */
struct Roots {
    HKEY machine = HKEY_LOCAL_MACHINE;
    HKEY user = HKEY_CURRENT_USER;
};

/** The value's data for `exePath` (UTF-8, either slash): the Windows path and " -autorun". */
std::wstring EntryData(const std::string& exePath);

/** Opens (creating it if needed) this user's Run key and writes the value. */
bool Enable(const std::string& exePath, const Roots& roots = {});
/** Deletes this user's value; false when the key or the value does not exist or deletion fails. */
bool Disable(const Roots& roots = {});
/** True when the machine's Run key, or else this user's, holds exactly EntryData(exePath) (case-sensitive). */
bool Enabled(const std::string& exePath, const Roots& roots = {});

/** The value's data under `root`'s Run key; empty when the key or value is missing or not a string. */
std::optional<std::wstring> ReadEntry(HKEY root);

} // namespace RunKeyAutostart

// The Run value "LarkBL": writing, reading and deleting it, and the rule for "enabled" over the machine's
// and this user's Run keys. Most cases use private stand-ins for both roots; one uses the real keys
// (the Wine prefix of the test run is private).
#include "TestKit.h"

#include "platform/windows/RunKeyAutostart.h"

#include <string>

namespace {

constexpr const wchar_t* kTestRoot = L"Software\\LarkbellTests\\Autostart";

/** Private stand-ins for HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, removed again at the end. */
class PrivateRoots
{
public:
    PrivateRoots()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
        ::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestRoot) + L"\\Machine").c_str(), 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &roots.machine, nullptr);
        ::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestRoot) + L"\\User").c_str(), 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &roots.user, nullptr);
    }
    ~PrivateRoots()
    {
        ::RegCloseKey(roots.machine);
        ::RegCloseKey(roots.user);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
    }
    void write(HKEY root, const std::wstring& data)
    {
        ::RegSetKeyValueW(root, RunKeyAutostart::kRunKey, RunKeyAutostart::kValueName, REG_SZ, data.c_str(),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }

    RunKeyAutostart::Roots roots{nullptr, nullptr};
};

const std::string kExe = "C:/Program Files/Larkbell/Larkbell.exe"; // as Qt writes paths
const std::wstring kData = L"C:\\Program Files\\Larkbell\\Larkbell.exe -autorun";

void entryDataIsThePathAndAutorun()
{
    CHECK_EQ(RunKeyAutostart::EntryData(kExe), kData);
    CHECK_EQ(RunKeyAutostart::EntryData("D:\\Wecker\\Larkbell.exe"),
             std::wstring(L"D:\\Wecker\\Larkbell.exe -autorun"));
    // UTF-8 in, UTF-16 out; no quotes even with spaces.
    CHECK_EQ(RunKeyAutostart::EntryData("C:/Users/J\xc3\xbcrgen/Wecker \xe2\x80\x93 neu/Larkbell.exe"),
             std::wstring(L"C:\\Users\\J\u00fcrgen\\Wecker \u2013 neu\\Larkbell.exe -autorun"));
}

void writeReadDelete()
{
    PrivateRoots keys;
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    CHECK(!RunKeyAutostart::Disable(keys.roots)); // the Run key does not exist yet
    CHECK(RunKeyAutostart::Enable(kExe, keys.roots));
    CHECK_EQ(RunKeyAutostart::ReadEntry(keys.roots.user), std::optional<std::wstring>(kData));
    CHECK_EQ(RunKeyAutostart::ReadEntry(keys.roots.machine), std::optional<std::wstring>());
    CHECK(RunKeyAutostart::Enabled(kExe, keys.roots));
    CHECK(RunKeyAutostart::Disable(keys.roots));
    CHECK_EQ(RunKeyAutostart::ReadEntry(keys.roots.user), std::optional<std::wstring>());
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    CHECK(!RunKeyAutostart::Disable(keys.roots)); // key there, value gone
}

void theValueIsAStringOfExactlyThatData()
{
    PrivateRoots keys;
    CHECK(RunKeyAutostart::Enable(kExe, keys.roots));
    DWORD type = 0;
    wchar_t data[300] = {};
    DWORD bytes = sizeof data;
    CHECK_EQ(::RegGetValueW(keys.roots.user, RunKeyAutostart::kRunKey, L"LarkBL", RRF_RT_ANY, &type, data, &bytes),
             static_cast<LSTATUS>(ERROR_SUCCESS));
    CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
    CHECK_EQ(std::wstring(data), kData);
    CHECK_EQ(bytes, static_cast<DWORD>((kData.size() + 1) * sizeof(wchar_t)));
}

void anotherCopysEntryIsNotOurs()
{
    PrivateRoots keys;
    keys.write(keys.roots.user, L"D:\\Old\\Larkbell.exe -autorun");
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    // Toggling on writes our entry under the same name, replacing the other copy's.
    CHECK(RunKeyAutostart::Enable(kExe, keys.roots));
    CHECK_EQ(RunKeyAutostart::ReadEntry(keys.roots.user), std::optional<std::wstring>(kData));
    CHECK(RunKeyAutostart::Enabled(kExe, keys.roots));
}

void comparisonIsExactAndCaseSensitive()
{
    PrivateRoots keys;
    keys.write(keys.roots.user, L"c:\\program files\\larkbell\\larkbell.exe -autorun");
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    keys.write(keys.roots.user, L"\"C:\\Program Files\\Larkbell\\Larkbell.exe\" -autorun");
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    keys.write(keys.roots.user, L"C:\\Program Files\\Larkbell\\Larkbell.exe");
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    keys.write(keys.roots.user, kData);
    CHECK(RunKeyAutostart::Enabled(kExe, keys.roots));
}

void machineEntryCountsButIsNotRemoved()
{
    PrivateRoots keys;
    keys.write(keys.roots.machine, kData);
    CHECK(RunKeyAutostart::Enabled(kExe, keys.roots));
    // The toggle tries this user's key, which has nothing to delete: the check mark stays.
    CHECK(!RunKeyAutostart::Disable(keys.roots));
    CHECK(RunKeyAutostart::Enabled(kExe, keys.roots));
    CHECK_EQ(RunKeyAutostart::ReadEntry(keys.roots.machine), std::optional<std::wstring>(kData));
}

void machineEntryForAnotherCopyFallsBackToTheUsers()
{
    PrivateRoots keys;
    keys.write(keys.roots.machine, L"D:\\Old\\Larkbell.exe -autorun");
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    keys.write(keys.roots.user, kData);
    CHECK(RunKeyAutostart::Enabled(kExe, keys.roots));
}

void aValueThatIsNotAStringIsNotAnEntry()
{
    PrivateRoots keys;
    const DWORD number = 1;
    ::RegSetKeyValueW(keys.roots.user, RunKeyAutostart::kRunKey, L"LarkBL", REG_DWORD, &number, sizeof number);
    CHECK(!RunKeyAutostart::Enabled(kExe, keys.roots));
    CHECK_EQ(RunKeyAutostart::ReadEntry(keys.roots.user), std::optional<std::wstring>());
}

void theRealRunKeys()
{
    const std::optional<std::wstring> before = RunKeyAutostart::ReadEntry(HKEY_CURRENT_USER);
    CHECK(RunKeyAutostart::Enable(kExe));
    HKEY run = nullptr;
    CHECK_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                             KEY_QUERY_VALUE, &run),
             static_cast<LSTATUS>(ERROR_SUCCESS));
    if (run) {
        wchar_t data[300] = {};
        DWORD bytes = sizeof data;
        CHECK_EQ(::RegQueryValueExW(run, L"LarkBL", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes),
                 static_cast<LSTATUS>(ERROR_SUCCESS));
        CHECK_EQ(std::wstring(data), kData);
        ::RegCloseKey(run);
    }
    CHECK(RunKeyAutostart::Enabled(kExe));
    CHECK(RunKeyAutostart::Disable());
    CHECK(!RunKeyAutostart::Enabled(kExe));
    // The machine's key, where this process may write it (a private Wine prefix, or an administrator).
    const LSTATUS machine = ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, RunKeyAutostart::kRunKey, L"LarkBL", REG_SZ,
                                              kData.c_str(), static_cast<DWORD>((kData.size() + 1) * sizeof(wchar_t)));
    std::printf("  machine Run key %s\n", machine == ERROR_SUCCESS ? "written" : "not writable here; skipped");
    if (machine == ERROR_SUCCESS) {
        CHECK(RunKeyAutostart::Enabled(kExe));
        CHECK(!RunKeyAutostart::Disable());
        CHECK(RunKeyAutostart::Enabled(kExe));
        CHECK_EQ(::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RunKeyAutostart::kRunKey, L"LarkBL"),
                 static_cast<LSTATUS>(ERROR_SUCCESS));
        CHECK(!RunKeyAutostart::Enabled(kExe));
    }
    if (before) {
        const std::wstring& data = *before;
        ::RegSetKeyValueW(HKEY_CURRENT_USER, RunKeyAutostart::kRunKey, RunKeyAutostart::kValueName, REG_SZ,
                          data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
}

} // namespace

int main()
{
    return TestKit::RunTests("Windows autostart (Run value LarkBL)",
                             {
                                 {"the entry is the path and -autorun", entryDataIsThePathAndAutorun},
                                 {"write, read and delete", writeReadDelete},
                                 {"the value is a string of exactly that data", theValueIsAStringOfExactlyThatData},
                                 {"another copy's entry is not ours until we replace it", anotherCopysEntryIsNotOurs},
                                 {"the comparison is exact and case-sensitive", comparisonIsExactAndCaseSensitive},
                                 {"a machine entry counts but is not removed", machineEntryCountsButIsNotRemoved},
                                 {"a machine entry for another copy falls back to the user's",
                                  machineEntryForAnotherCopyFallsBackToTheUsers},
                                 {"a value that is not a string is not an entry", aValueThatIsNotAStringIsNotAnEntry},
                                 {"the real Run keys", theRealRunKeys},
                             });
}

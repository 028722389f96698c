// The running-copy search and the hand-over between copies: real windows and real processes (this test
// starts copies of itself, also from another folder).
#include "TestKit.h"

#include "platform/InstanceChannel.h"
#include "platform/windows/HiddenWindow.h"
#include "platform/windows/WindowsInstanceChannel.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kClaimRefused = 90;
constexpr int kChildBase = 100; // exit code of a running copy: 100 + 10 x "show" requests + "exit" requests

std::wstring OwnPath()
{
    return WindowsText::CurrentExePath();
}

std::string OwnPathUtf8()
{
    return WindowsText::Narrow(OwnPath());
}

/** A copy of this executable running in `mode`; it signals the named event when it is ready. */
class Child
{
public:
    Child(const std::wstring& exe, const wchar_t* mode)
    {
        static int counter = 0;
        m_readyName = L"Local\\LarkbellInstanceTestReady-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                      std::to_wstring(++counter);
        m_ready = ::CreateEventW(nullptr, TRUE, FALSE, m_readyName.c_str());
        std::wstring commandLine = L"\"" + exe + L"\" " + mode + L" " + m_readyName;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process)) {
            ::CloseHandle(process.hThread);
            m_process = process.hProcess;
            m_id = process.dwProcessId;
        }
    }
    ~Child()
    {
        if (m_process) {
            if (::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
                ::TerminateProcess(m_process, 1);
            ::CloseHandle(m_process);
        }
        ::CloseHandle(m_ready);
    }
    bool started() const { return m_process != nullptr; }
    bool waitReady() const
    {
        const HANDLE both[] = {m_ready, m_process};
        return m_process && ::WaitForMultipleObjects(2, both, FALSE, 15000) == WAIT_OBJECT_0;
    }
    /** Exit code, or -1 when it did not end in time. */
    int wait(DWORD ms = 15000) const
    {
        if (!m_process || ::WaitForSingleObject(m_process, ms) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(m_process, &code);
        return static_cast<int>(code);
    }
    DWORD id() const { return m_id; }

private:
    std::wstring m_readyName;
    HANDLE m_ready = nullptr;
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
};

void SignalReady(const wchar_t* name)
{
    const HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    if (ready) {
        ::SetEvent(ready);
        ::CloseHandle(ready);
    }
}

// Child: becomes the running copy, counts the requests it gets, and ends on "exit".
int RunningCopy(const wchar_t* readyName)
{
    int shows = 0;
    int exits = 0;
    auto channel = WindowsInstanceChannel::Claim(OwnPathUtf8(), [&](int message) {
        if (message == InstanceMessage::Show)
            ++shows;
        else if (message == InstanceMessage::Exit)
            ++exits;
    });
    if (!channel)
        return kClaimRefused;
    SignalReady(readyName);
    TestKit::PumpUntil([&] { return exits > 0; }, 20000);
    return kChildBase + 10 * shows + exits;
}

// Child: starts like the program does; when another copy runs it asks that one to show itself.
int LaterCopy(const wchar_t* readyName)
{
    auto channel = WindowsInstanceChannel::Claim(OwnPathUtf8(), [](int) {});
    SignalReady(readyName);
    if (channel)
        return 2;
    return WindowsInstanceChannel::Send(OwnPathUtf8(), InstanceMessage::Show, InstanceMessage::Param1,
                                        InstanceMessage::Param2)
               ? 0
               : 1;
}

struct Received {
    std::vector<int> messages;
};

std::unique_ptr<HiddenWindow> Window(const wchar_t* className, DWORD exStyle, HWND owner = nullptr)
{
    auto window = HiddenWindow::Create(className, HiddenWindow::Kind::TopLevel, exStyle, nullptr);
    if (window && owner)
        ::SetWindowLongPtrW(window->Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    return window;
}

bool Contains(const std::vector<HWND>& windows, HWND window)
{
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

void findsAHiddenMainWindowOfThisExecutable()
{
    auto main = Window(L"TMainForm", 0);
    auto tool = Window(L"TMainForm", WS_EX_TOOLWINDOW);
    auto noActivate = Window(L"TMainForm", WS_EX_NOACTIVATE);
    auto other = Window(L"TOtherForm", 0);
    auto owner = Window(L"LarkbellTestOwner", 0);
    auto owned = Window(L"TMainForm", 0, owner->Handle());
    auto appOwner = Window(L"LarkbellTestOwner", WS_EX_APPWINDOW);
    auto ownedByApp = Window(L"TMainForm", 0, appOwner->Handle());
    CHECK(!::IsWindowVisible(main->Handle()));

    const std::vector<HWND> found = WindowsInstanceChannel::FindRunningCopies(OwnPath(), 0);
    CHECK(Contains(found, main->Handle()));
    CHECK(Contains(found, ownedByApp->Handle()));
    CHECK(!Contains(found, tool->Handle()));
    CHECK(!Contains(found, noActivate->Handle()));
    CHECK(!Contains(found, other->Handle()));
    CHECK(!Contains(found, owned->Handle()));
    CHECK_EQ(found.size(), 2u);
    CHECK_EQ(WindowsInstanceChannel::WindowExePath(main->Handle()), OwnPath());

    // Another executable path, even one differing only in case, is another program.
    std::wstring upper = OwnPath();
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return std::towupper(c); });
    CHECK(WindowsInstanceChannel::FindRunningCopies(upper, 0).empty());
    CHECK(WindowsInstanceChannel::FindRunningCopies(L"C:\\Elsewhere\\Larkbell.exe", 0).empty());
    // The search passes by the windows of the process that asks.
    CHECK(WindowsInstanceChannel::FindRunningCopies(OwnPath(), ::GetCurrentProcessId()).empty());
}

void onlyTheExpectedParametersReachTheCallback()
{
    Received received;
    auto channel =
        WindowsInstanceChannel::Claim(OwnPathUtf8(), [&](int message) { received.messages.push_back(message); });
    if (!CHECK(channel))
        return;
    const HWND window = channel->Window();
    wchar_t className[32] = {};
    ::GetClassNameW(window, className, 32);
    CHECK_EQ(std::wstring(className), std::wstring(L"TMainForm"));
    CHECK(!::IsWindowVisible(window));
    ::PostMessageW(window, 1425, 1, 2);
    ::PostMessageW(window, 1425, 2109, 0);
    ::PostMessageW(window, 1426, 1973, 2109);
    ::PostMessageW(window, 1424, 2109, 1973);
    ::PostMessageW(window, 1427, 2109, 1973);
    ::PostMessageW(window, 1425, 2109, 1973);
    ::PostMessageW(window, 1426, 2109, 1973);
    TestKit::PumpUntil([&] { return received.messages.size() >= 2; }, 2000);
    TestKit::PumpFor(100);
    CHECK_EQ(received.messages.size(), 2u);
    if (received.messages.size() == 2) {
        CHECK_EQ(received.messages[0], 1425);
        CHECK_EQ(received.messages[1], 1426);
    }
    // While this process holds the executable, it cannot be claimed a second time.
    CHECK(!WindowsInstanceChannel::Claim(OwnPathUtf8(), [](int) {}));
}

void aRunningCopyIsFoundAndGetsTheRequests()
{
    Child running(OwnPath(), L"--running-copy");
    if (!CHECK(running.started()) || !CHECK(running.waitReady()))
        return;
    CHECK(!WindowsInstanceChannel::Claim(OwnPathUtf8(), [](int) {}));
    const std::vector<HWND> found = WindowsInstanceChannel::FindRunningCopies(OwnPath(), ::GetCurrentProcessId());
    CHECK_EQ(found.size(), 1u);
    if (found.size() != 1)
        return;
    DWORD owner = 0;
    ::GetWindowThreadProcessId(found[0], &owner);
    CHECK_EQ(owner, running.id());
    CHECK(!::IsWindowVisible(found[0]));
    // Wrong parameters and other message numbers are ignored by the running copy.
    ::PostMessageW(found[0], 1425, 1, 2);
    ::PostMessageW(found[0], 1425, 1973, 2109);
    ::PostMessageW(found[0], 1424, 2109, 1973);
    CHECK(WindowsInstanceChannel::Send(OwnPathUtf8(), InstanceMessage::Show, 2109, 1973));
    ::PostMessageW(found[0], 1426, 2109, 1972);
    CHECK(WindowsInstanceChannel::Send(OwnPathUtf8(), InstanceMessage::Exit, 2109, 1973));
    CHECK_EQ(running.wait(), kChildBase + 10 * 1 + 1);
}

void aLaterCopyHandsOverToThisOne()
{
    Received received;
    auto channel =
        WindowsInstanceChannel::Claim(OwnPathUtf8(), [&](int message) { received.messages.push_back(message); });
    if (!CHECK(channel))
        return;
    Child later(OwnPath(), L"--later-copy");
    CHECK(later.started());
    CHECK(TestKit::PumpUntil([&] { return !received.messages.empty(); }, 15000));
    CHECK_EQ(later.wait(), 0);
    CHECK_EQ(received.messages.size(), 1u);
    if (!received.messages.empty())
        CHECK_EQ(received.messages[0], 1425);
}

void aCopyInAnotherFolderIsNotFound()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"LarkbellInstanceTest";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\tst_win_instance.exe";
    if (!CHECK(::CopyFileW(OwnPath().c_str(), copy.c_str(), FALSE)))
        return;
    {
        Child elsewhere(copy, L"--running-copy");
        if (CHECK(elsewhere.started()) && CHECK(elsewhere.waitReady())) {
            CHECK(WindowsInstanceChannel::FindRunningCopies(OwnPath(), 0).empty());
            CHECK(!WindowsInstanceChannel::Send(OwnPathUtf8(), InstanceMessage::Show, 2109, 1973));
            // It runs alongside: this executable can still be claimed.
            CHECK(WindowsInstanceChannel::Claim(OwnPathUtf8(), [](int) {}) != nullptr);
            CHECK_EQ(WindowsInstanceChannel::FindRunningCopies(copy, 0).size(), 1u);
            CHECK(WindowsInstanceChannel::Send(WindowsText::Narrow(copy), InstanceMessage::Exit, 2109, 1973));
            CHECK_EQ(elsewhere.wait(), kChildBase + 1);
        }
    }
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

void sendingWithNoCopyRunningFailsAtOnce()
{
    const auto start = std::chrono::steady_clock::now();
    CHECK(!WindowsInstanceChannel::Send(OwnPathUtf8(), InstanceMessage::Exit, 2109, 1973));
    CHECK(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500));
}

void mutexNameFollowsThePath()
{
    const std::wstring a = WindowsInstanceChannel::MutexName(L"C:\\A\\Larkbell.exe");
    CHECK_EQ(a, WindowsInstanceChannel::MutexName(L"C:\\A\\Larkbell.exe"));
    CHECK(a != WindowsInstanceChannel::MutexName(L"C:\\B\\Larkbell.exe"));
    CHECK_EQ(a.rfind(L"Local\\Larkbell-", 0), 0u);
}

void theMessageFilterOpens()
{
    CHECK(WindowsInstanceChannel::OpenMessageFilter());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"--running-copy") == 0)
        return RunningCopy(argv[2]);
    if (argc == 3 && std::wcscmp(argv[1], L"--later-copy") == 0)
        return LaterCopy(argv[2]);
    return TestKit::RunTests(
        "Windows single instance",
        {
            {"finds a hidden main window of this executable", findsAHiddenMainWindowOfThisExecutable},
            {"only 1425 and 1426 with 2109 and 1973 reach the callback", onlyTheExpectedParametersReachTheCallback},
            {"a running copy is found and gets the requests", aRunningCopyIsFoundAndGetsTheRequests},
            {"a later copy hands over to this one", aLaterCopyHandsOverToThisOne},
            {"a copy in another folder is not found", aCopyInAnotherFolderIsNotFound},
            {"sending with no copy running fails at once", sendingWithNoCopyRunningFailsAtOnce},
            {"the mutex name follows the path", mutexNameFollowsThePath},
            {"the message filter opens", theMessageFilterOpens},
        });
}

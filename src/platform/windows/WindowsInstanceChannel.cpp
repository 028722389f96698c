#include "platform/windows/WindowsInstanceChannel.h"

#include "platform/windows/WindowsText.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr UINT kFilteredMessages[] = {1424, 1425, 1426};

// A copy that just took the mutex needs a moment before its window exists.
constexpr int kSendAttempts = 40;
constexpr DWORD kSendRetryMs = 50;

struct Search {
    const std::wstring* exePath;
    DWORD skipProcess;
    std::vector<HWND> found;
};

bool IsMainWindowCandidate(HWND window)
{
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (exStyle & (WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE))
        return false;
    const HWND owner = ::GetWindow(window, GW_OWNER);
    if (owner && !(::GetWindowLongPtrW(owner, GWL_EXSTYLE) & WS_EX_APPWINDOW))
        return false;
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    return std::wcscmp(className, WindowsInstanceChannel::kClassName) == 0;
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsMainWindowCandidate(window))
        return TRUE;
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (search->skipProcess != 0 && process == search->skipProcess)
        return TRUE;
    if (WindowsInstanceChannel::WindowExePath(window) == *search->exePath)
        search->found.push_back(window);
    return TRUE; // every copy is told, not only the first
}

} // namespace

WindowsInstanceChannel::WindowsInstanceChannel(HANDLE mutex, std::function<void(int message)> onMessage)
    : m_mutex(mutex)
    , m_onMessage(std::move(onMessage))
{}

WindowsInstanceChannel::~WindowsInstanceChannel()
{
    m_window.reset();
    ::CloseHandle(m_mutex);
}

std::wstring WindowsInstanceChannel::MutexName(const std::wstring& exePath)
{
    // FNV-1a over the UTF-16 code units; "Local\" keeps the name within this logon session.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const wchar_t unit : exePath) {
        hash ^= static_cast<std::uint16_t>(unit);
        hash *= 1099511628211ULL;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\Larkbell-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

std::wstring WindowsInstanceChannel::WindowExePath(HWND window)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    // Limited query rights are enough for the image name and are granted across integrity levels.
    const HANDLE handle = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (!handle)
        return {};
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    const bool ok = ::QueryFullProcessImageNameW(handle, 0, path.data(), &size) != FALSE;
    ::CloseHandle(handle);
    if (!ok)
        return {};
    path.resize(size);
    return path;
}

std::vector<HWND> WindowsInstanceChannel::FindRunningCopies(const std::wstring& exePath, DWORD skipProcess)
{
    Search search{&exePath, skipProcess, {}};
    ::EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WindowsInstanceChannel::OpenMessageFilter()
{
    // Looked up by name: systems before Vista have no filter and let every message through anyway.
    using ChangeFilter = BOOL(WINAPI*)(UINT, DWORD);
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    const FARPROC entry = user32 ? ::GetProcAddress(user32, "ChangeWindowMessageFilter") : nullptr;
    if (!entry)
        return true;
    const auto change = reinterpret_cast<ChangeFilter>(reinterpret_cast<void*>(entry));
    bool ok = true;
    for (const UINT message : kFilteredMessages)
        ok = change(message, MSGFLT_ADD) != FALSE && ok;
    return ok;
}

std::unique_ptr<WindowsInstanceChannel> WindowsInstanceChannel::Claim(const std::string& exePath,
                                                                      std::function<void(int message)> onMessage)
{
    const std::wstring path = WindowsText::NativePath(exePath);
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(path).c_str());
    if (!mutex)
        return nullptr;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return nullptr;
    }
    std::unique_ptr<WindowsInstanceChannel> channel(new WindowsInstanceChannel(mutex, std::move(onMessage)));
    // A running copy that took no mutex (one started before the mutex existed) is found by its window.
    if (!FindRunningCopies(path, ::GetCurrentProcessId()).empty())
        return nullptr;
    OpenMessageFilter();
    WindowsInstanceChannel* self = channel.get();
    channel->m_window = HiddenWindow::Create(
        kClassName, HiddenWindow::Kind::TopLevel, 0,
        [self](UINT message, WPARAM wParam, LPARAM lParam) { return self->onWindowMessage(message, wParam, lParam); },
        L"Larkbell");
    if (!channel->m_window)
        return nullptr;
    return channel;
}

std::optional<LRESULT> WindowsInstanceChannel::onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != static_cast<UINT>(InstanceMessage::Show) && message != static_cast<UINT>(InstanceMessage::Exit))
        return std::nullopt;
    if (wParam == static_cast<WPARAM>(InstanceMessage::Param1) &&
        lParam == static_cast<LPARAM>(InstanceMessage::Param2)) {
        const std::function<void(int)> onMessage = m_onMessage; // the exit request may destroy this channel
        onMessage(static_cast<int>(message));
    }
    return 0;
}

bool WindowsInstanceChannel::Send(const std::string& exePath, int message, int param1, int param2)
{
    const std::wstring path = WindowsText::NativePath(exePath);
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        const std::vector<HWND> copies = FindRunningCopies(path, ::GetCurrentProcessId());
        bool posted = false;
        for (const HWND window : copies) {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            // "Show yourself" must be allowed to bring that copy's window to the front.
            ::AllowSetForegroundWindow(process);
            posted = ::PostMessageW(window, static_cast<UINT>(message), static_cast<WPARAM>(param1),
                                    static_cast<LPARAM>(param2)) != FALSE ||
                     posted;
        }
        if (!copies.empty())
            return posted;
        // No window: done, unless a copy holds the mutex and is still creating it.
        const HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, MutexName(path).c_str());
        if (!mutex)
            return false;
        ::CloseHandle(mutex);
        ::Sleep(kSendRetryMs);
    }
    return false;
}

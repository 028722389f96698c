#pragma once

#include "platform/InstanceChannel.h"
#include "platform/windows/HiddenWindow.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

/**
 * The single-instance channel on Windows. The running copy owns a hidden, unowned top-level window of
 * class "TMainForm"; a later copy finds it by enumerating the top-level windows and comparing the
 * executable path of each candidate's process with its own, and posts message 1425 (show) or 1426
 * (exit) with the parameters 2109 and 1973. A copy of the executable in another folder has another
 * path and is not found.
 *
 * Enumeration alone leaves a window of time in which two copies started together both find nothing,
 * so the claim also takes a named mutex whose name comes from the executable's path: of copies
 * starting together exactly one gets it. The system releases it when its process ends, however it ends.
 */
class WindowsInstanceChannel final : public InstanceChannel
{
public:
    static constexpr const wchar_t* kClassName = L"TMainForm";

    static std::unique_ptr<WindowsInstanceChannel> Claim(const std::string& exePath,
                                                         std::function<void(int message)> onMessage);
    /** Posts to every running copy of `exePath` but this process; false when none was reached. */
    static bool Send(const std::string& exePath, int message, int param1, int param2);
    ~WindowsInstanceChannel() override;

    HWND Window() const { return m_window ? m_window->Handle() : nullptr; }

    /**
     * The main windows of running copies of the executable at `exePath` (a Windows path): top-level
     * windows of class "TMainForm" that are neither tool windows nor no-activate windows nor owned by
     * a window without the app-window style, whose process runs exactly that executable (case-sensitive
     * comparison). Windows of process `skipProcess` are passed by (0 passes none).
     */
    static std::vector<HWND> FindRunningCopies(const std::wstring& exePath, DWORD skipProcess);

    /** Executable path of the process that owns `window`; empty when it cannot be read. */
    static std::wstring WindowExePath(HWND window);

    /**
     * Lets 1424, 1425 and 1426 through the message filter, so that a copy running with lower privileges
     * reaches this one. False where the filter exists and refused; true where the system has none.
     */
    static bool OpenMessageFilter();

    /** The mutex name for an executable path: the same for every copy of that path. */
    static std::wstring MutexName(const std::wstring& exePath);

private:
    WindowsInstanceChannel(HANDLE mutex, std::function<void(int message)> onMessage);
    std::optional<LRESULT> onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HANDLE m_mutex;
    std::function<void(int message)> m_onMessage;
    std::unique_ptr<HiddenWindow> m_window;
};

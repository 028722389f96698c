#pragma once

#include "platform/ClockWatch.h"
#include "platform/windows/HiddenWindow.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

/**
 * Clock and zone changes on Windows: WM_TIMECHANGE, which the system (or whoever set the clock or the
 * zone) broadcasts to top-level windows, and the resume notices of WM_POWERBROADCAST. Broadcasts never
 * reach message-only windows, so the watch is a hidden top-level tool window (a tool window, so that
 * the running-copy search passes it by). WM_TIMECHANGE does not say what changed: it is reported as
 * ZoneChanged when the zone's rules differ from those seen at the last notice, else as TimeSet.
 */
class WindowsClockWatch final : public ClockWatch
{
public:
    static constexpr const wchar_t* kClassName = L"LarkbellClockWatch";

    /** nullptr when the window cannot be created. */
    static std::unique_ptr<WindowsClockWatch> Create(std::function<void(ClockChange)> onChanged);
    ~WindowsClockWatch() override;

    HWND Window() const { return m_window ? m_window->Handle() : nullptr; }

private:
    explicit WindowsClockWatch(std::function<void(ClockChange)> onChanged);
    std::optional<LRESULT> onMessage(UINT message, WPARAM wParam);

    std::function<void(ClockChange)> m_onChanged;
    DYNAMIC_TIME_ZONE_INFORMATION m_zone{};
    std::unique_ptr<HiddenWindow> m_window;
};

/** Whether two readings of the zone describe the same rules. */
bool SameZone(const DYNAMIC_TIME_ZONE_INFORMATION& a, const DYNAMIC_TIME_ZONE_INFORMATION& b);

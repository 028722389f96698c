#pragma once

#include <windows.h>

/** Wakes a monitor that power saving switched off. */
namespace WindowsMonitorPower {

/** The monitor-power "on" value of SC_MONITORPOWER. */
constexpr LPARAM kOn = -1;

/**
 * Sends the monitor-power system command with "on" to `window` (a top-level window of this process,
 * whose default handling passes it to the system), and marks the display as needed, which also resets
 * the display's idle timer.
 */
void On(HWND window);

} // namespace WindowsMonitorPower

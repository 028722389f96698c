#pragma once

/** Wakes a monitor that power saving switched off. */
namespace MonitorPower {
/**
 * On X11: DPMS "on" and a screen-saver reset. Elsewhere (Wayland, or an X server without DPMS): the
 * desktop screen saver's SimulateUserActivity on the session bus. Silent where neither exists.
 */
void On();
} // namespace MonitorPower

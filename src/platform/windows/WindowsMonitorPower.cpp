#include "platform/windows/WindowsMonitorPower.h"

namespace WindowsMonitorPower {

void On(HWND window)
{
    if (window)
        ::SendMessageW(window, WM_SYSCOMMAND, SC_MONITORPOWER, kOn);
    // WORKAROUND: some systems ignore the "on" command. Asking for the display once (no ES_CONTINUOUS)
    // resets the display idle timer, which the system documents as forcing the display on.
    ::SetThreadExecutionState(ES_DISPLAY_REQUIRED);
}

} // namespace WindowsMonitorPower

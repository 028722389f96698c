#include "platform/linux/MonitorPower.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <cstdlib>

namespace {

// One connection for the whole run: opening it costs about a millisecond, and the first command is
// sent while the notification window of a ringing alarm waits to be painted.
Display* x11Display()
{
    static Display* const display = std::getenv("DISPLAY") ? XOpenDisplay(nullptr) : nullptr;
    return display;
}

bool wakeX11Display()
{
    Display* display = x11Display();
    if (!display)
        return false;
    static const bool dpms = [display] {
        int eventBase = 0;
        int errorBase = 0;
        return DPMSQueryExtension(display, &eventBase, &errorBase) && DPMSCapable(display);
    }();
    if (dpms)
        DPMSForceLevel(display, DPMSModeOn);
    XResetScreenSaver(display);
    XForceScreenSaver(display, ScreenSaverReset);
    XFlush(display);
    return dpms;
}

void simulateUserActivity()
{
    // Without a session bus address, connecting would launch a private bus daemon that outlives us.
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.ScreenSaver")))
        return;
    bus.call(QDBusMessage::createMethodCall(
                 QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                 QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("SimulateUserActivity")),
             QDBus::NoBlock);
}

} // namespace

void MonitorPower::On()
{
    if (!wakeX11Display())
        simulateUserActivity();
}

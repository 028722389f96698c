#include "MonitorPower.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <cstdlib>

namespace {

bool wakeX11Display()
{
    if (!std::getenv("DISPLAY"))
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    int eventBase = 0;
    int errorBase = 0;
    const bool dpms = DPMSQueryExtension(display, &eventBase, &errorBase) && DPMSCapable(display);
    if (dpms)
        DPMSForceLevel(display, DPMSModeOn);
    XResetScreenSaver(display);
    XForceScreenSaver(display, ScreenSaverReset);
    XFlush(display);
    XCloseDisplay(display);
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
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                            QStringLiteral("/org/freedesktop/ScreenSaver"),
                                            QStringLiteral("org.freedesktop.ScreenSaver"),
                                            QStringLiteral("SimulateUserActivity")),
             QDBus::NoBlock);
}

} // namespace

void MonitorPower::On()
{
    if (!wakeX11Display())
        simulateUserActivity();
}

#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QMetaObject>

#include <functional>
#include <memory>
#include <thread>

// The first use of a bus connects to it and waits for the bus daemon's greeting: that happens on a short-lived
// thread of its own, and ready runs on the main thread afterwards unless alive has expired by then.
inline void ConnectBusOnWorker(QDBusConnection::BusType type, std::weak_ptr<void> alive,
                               std::function<void(QDBusConnection)> ready)
{
    std::thread([type, alive = std::move(alive), ready = std::move(ready)] {
        QDBusConnection bus =
            type == QDBusConnection::SessionBus ? QDBusConnection::sessionBus() : QDBusConnection::systemBus();
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app,
                [alive, ready, bus] {
                    if (!alive.expired())
                        ready(bus);
                },
                Qt::QueuedConnection);
        }
    }).detach();
}

// WORKAROUND: with no bus address libdbus falls back to X11 autolaunch, which starts a bus daemon that
// outlives us; a session without an address or the standard socket has no media players to ask anyway.
inline bool HaveSessionBusAddress()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

inline bool HaveSystemBusAddress()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") ||
           QFileInfo::exists(QStringLiteral("/run/dbus/system_bus_socket")) ||
           QFileInfo::exists(QStringLiteral("/var/run/dbus/system_bus_socket"));
}

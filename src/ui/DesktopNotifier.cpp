#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <cstdlib>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 2000; // a frozen server must not freeze a ringing alarm

QDBusConnection bus() { return QDBusConnection::sessionBus(); }

// Without a session bus address Qt would fail anyway; checking first avoids a pointless connection attempt.
bool haveSessionBus() { return std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr && bus().isConnected(); }

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent)
    : QObject(parent)
{
    if (!haveSessionBus())
        return;
    // WORKAROUND: QDBusConnection::connect takes only string-based slots for bus signals.
    m_connected = bus().connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                                SLOT(onNotificationClosed(uint, uint))) &&
                  bus().connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                                SLOT(onActionInvoked(uint, QString)));
}

bool DesktopNotifier::Available() const
{
    return m_connected && bus().interface()->isServiceRegistered(kService);
}

bool DesktopNotifier::Show(const QString& title, const QString& text, int timeoutMs)
{
    if (!Available())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    call << QStringLiteral("Larkbell") << m_id << QStringLiteral("larkbell") << title << body
         << QStringList{QStringLiteral("default"), QStringLiteral("OK")} << QVariantMap() << timeoutMs;
    const QDBusReply<uint> reply = bus().call(call, QDBus::Block, kCallTimeoutMs);
    m_id = reply.isValid() ? reply.value() : 0;
    return m_id != 0;
}

void DesktopNotifier::Cancel()
{
    if (m_id == 0)
        return;
    const uint id = m_id;
    m_id = 0; // its closing is ours, not the user's
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    call << id;
    bus().call(call, QDBus::NoBlock);
}

void DesktopNotifier::onNotificationClosed(uint id, uint)
{
    if (id == 0 || id != m_id)
        return;
    m_id = 0;
    emit closed();
}

void DesktopNotifier::onActionInvoked(uint id, const QString&)
{
    if (id != 0 && id == m_id)
        emit clicked();
}

#include "platform/linux/LinuxDesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <cstdlib>
#include <utility>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 2000; // an answer later than this counts as a refusal
// Only a ringing alarm asks to be shown this long. Critical urgency keeps it on screen until it is
// answered, even where the server expires others or a full-screen window holds notifications back.
constexpr int kCriticalFromMs = 30000;
constexpr uchar kUrgencyCritical = 2;

QDBusConnection bus()
{
    return QDBusConnection::sessionBus();
}

// Without a session bus address Qt would fail anyway; checking first avoids a pointless connection attempt.
bool haveSessionBus()
{
    return std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr && bus().isConnected();
}

} // namespace

LinuxDesktopNotifications::LinuxDesktopNotifications(NotificationEvents events)
    : m_events(std::move(events))
{
    if (!haveSessionBus())
        return;
    // WORKAROUND: QDBusConnection::connect takes only string-based slots for bus signals.
    m_connected = bus().connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                                SLOT(onNotificationClosed(uint, uint))) &&
                  bus().connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                                SLOT(onActionInvoked(uint, QString)));
    if (!m_connected)
        return;
    m_serverWatch = new QDBusServiceWatcher(kService, bus(), QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_serverWatch, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                m_serverPresent = !newOwner.isEmpty();
                m_serverShowsActions = false;
                if (m_serverPresent)
                    askCapabilities(); // another server, perhaps another kind
            });
    lookForServer();
}

void LinuxDesktopNotifications::lookForServer()
{
    // Asked once without waiting; from then on the bus tells us when a server comes or goes.
    QDBusPendingCall call = bus().interface()->asyncCall(QStringLiteral("NameHasOwner"), kService);
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<bool> reply = *done;
        if (reply.isValid())
            m_serverPresent = m_serverPresent || reply.value();
        if (reply.isValid() && reply.value())
            askCapabilities();
        done->deleteLater();
    });
}

void LinuxDesktopNotifications::askCapabilities()
{
    // Until the answer is in, notifications go out as a server without buttons shows them.
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<QStringList> reply = *done;
        if (reply.isValid())
            m_serverShowsActions = reply.value().contains(QStringLiteral("actions"));
        done->deleteLater();
    });
}

bool LinuxDesktopNotifications::Show(const std::string& title, const std::string& text, int timeoutMs,
                                     const NotificationStyle& style)
{
    if (!m_connected || !m_serverPresent)
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QString body = QString::fromStdString(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QVariantMap hints;
    if (style.critical || timeoutMs >= kCriticalFromMs)
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(kUrgencyCritical));
    // The default action is a click on the notification itself, which every server reports.
    QStringList actions{QStringLiteral("default"), QStringLiteral("OK")};
    if (m_serverShowsActions) {
        for (const NotificationAction& action : style.actions)
            actions << QString::fromStdString(action.key) << QString::fromStdString(action.label);
    }
    call << QStringLiteral("Larkbell") << m_id << QStringLiteral("larkbell") << QString::fromStdString(title) << body
         << actions << hints << timeoutMs;
    if (m_pending)
        m_pending->deleteLater(); // its answer no longer matters: this one replaces it
    m_cancelWhenAnswered = false;
    m_pending = new QDBusPendingCallWatcher(bus().asyncCall(call, kCallTimeoutMs), this);
    connect(m_pending, &QDBusPendingCallWatcher::finished, this,
            [this, title, text, timeoutMs](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                if (done != m_pending)
                    return;
                m_pending = nullptr;
                const QDBusPendingReply<uint> reply = *done;
                m_id = reply.isValid() ? reply.value() : 0;
                if (m_id != 0 && m_cancelWhenAnswered)
                    Cancel();
                else if (m_id == 0 && !m_cancelWhenAnswered && m_events.onFailed)
                    m_events.onFailed(title, text, timeoutMs);
            });
    return true;
}

void LinuxDesktopNotifications::Cancel()
{
    if (m_pending)
        m_cancelWhenAnswered = true;
    if (m_id == 0)
        return;
    const uint id = m_id;
    m_id = 0; // its closing is ours, not the user's
    closeNotification(id);
}

void LinuxDesktopNotifications::closeNotification(uint id)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    call << id;
    bus().call(call, QDBus::NoBlock);
}

void LinuxDesktopNotifications::onNotificationClosed(uint id, uint)
{
    if (id == 0 || id != m_id)
        return;
    m_id = 0;
    if (m_events.onClosed)
        m_events.onClosed();
}

void LinuxDesktopNotifications::onActionInvoked(uint id, const QString& action)
{
    if (id == 0 || id != m_id)
        return;
    if (action == QLatin1String("default")) {
        if (m_events.onClicked)
            m_events.onClicked();
    } else if (m_events.onAction) {
        m_events.onAction(action.toStdString());
    }
}

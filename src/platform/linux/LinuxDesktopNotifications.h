#pragma once

#include "platform/DesktopNotifications.h"

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

/**
 * org.freedesktop.Notifications on the session bus. Calls are sent and their answers handled when they
 * come; the server's arrival and departure are followed through the bus, so Show never asks it first.
 */
class LinuxDesktopNotifications final : public QObject, public DesktopNotifications
{
    Q_OBJECT

public:
    explicit LinuxDesktopNotifications(NotificationEvents events);

    /** A notification server was on the session bus at the last look. */
    bool Available() const { return m_serverPresent; }
    /** The server said it shows action buttons: notifications carry their style's actions. */
    bool ServerShowsActions() const { return m_serverShowsActions; }

    using DesktopNotifications::Show;
    bool Show(const std::string& title, const std::string& text, int timeoutMs,
              const NotificationStyle& style) override;
    void Cancel() override;
    bool IsShown() const override { return m_id != 0 || m_pending != nullptr; }
    unsigned NotificationId() const override { return m_id; }

private slots:
    // D-Bus signals are matched by name, so these stay slots.
    void onNotificationClosed(uint id, uint reason);
    void onActionInvoked(uint id, const QString& action);

private:
    void lookForServer();
    void askCapabilities();
    void closeNotification(uint id);

    NotificationEvents m_events;
    QDBusServiceWatcher* m_serverWatch = nullptr;
    QDBusPendingCallWatcher* m_pending = nullptr; // the Notify call not yet answered
    uint m_id = 0;
    bool m_connected = false;
    bool m_serverPresent = false;
    bool m_serverShowsActions = false;
    bool m_cancelWhenAnswered = false;
};

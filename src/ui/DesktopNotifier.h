#pragma once

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

/**
 * Tray balloons through the desktop's notification server (org.freedesktop.Notifications), which,
 * unlike a tray balloon, tells when a notification was clicked and when it closed. One notification
 * at a time: a new one replaces the shown one. Nothing here waits for the bus: calls are sent and
 * their answers handled when they come, so a frozen server cannot freeze a ringing alarm.
 */
class DesktopNotifier final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    /** A notification server was on the session bus at the last look. */
    bool Available() const { return m_serverPresent; }
    /**
     * Sends title and text for timeoutMs (a request: the server may shorten it). False when no server
     * is there to take it; a server that refuses it later reports that through failed().
     */
    bool Show(const QString& title, const QString& text, int timeoutMs);
    /** Closes the shown notification without reporting it as closed. */
    void Cancel();
    bool IsShown() const { return m_id != 0 || m_pending != nullptr; }
    /** The server's id of the shown notification; 0 while none is shown or its answer is still out. */
    uint NotificationId() const { return m_id; }

signals:
    void clicked();
    void closed();
    /** A notification that Show accepted was refused or never answered; the caller shows it another way. */
    void failed(const QString& title, const QString& text, int timeoutMs);

private slots:
    // D-Bus signals are matched by name, so these stay slots.
    void onNotificationClosed(uint id, uint reason);
    void onActionInvoked(uint id, const QString& action);

private:
    void lookForServer();
    void closeNotification(uint id);

    QDBusServiceWatcher* m_serverWatch = nullptr;
    QDBusPendingCallWatcher* m_pending = nullptr; // the Notify call not yet answered
    uint m_id = 0;
    bool m_connected = false;
    bool m_serverPresent = false;
    bool m_cancelWhenAnswered = false;
};

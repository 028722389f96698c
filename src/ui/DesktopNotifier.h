#pragma once

#include <QObject>
#include <QString>

/**
 * Tray balloons through the desktop's notification server (org.freedesktop.Notifications), which,
 * unlike a tray balloon, tells when a notification was clicked and when it closed. One notification
 * at a time: a new one replaces the shown one.
 */
class DesktopNotifier final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    /** A notification server answers on the session bus. */
    bool Available() const;
    /** Shows title and text for timeoutMs (a request: the server may shorten it). False when refused. */
    bool Show(const QString& title, const QString& text, int timeoutMs);
    /** Closes the shown notification without reporting it as closed. */
    void Cancel();
    bool IsShown() const { return m_id != 0; }

signals:
    void clicked();
    void closed();

private slots:
    // D-Bus signals are matched by name, so these stay slots.
    void onNotificationClosed(uint id, uint reason);
    void onActionInvoked(uint id, const QString& action);

private:
    uint m_id = 0;
    bool m_connected = false;
};

#pragma once

#include <functional>
#include <string>
#include <vector>

/** A button of a notification: key comes back through onAction, label is what the user reads. */
struct NotificationAction {
    std::string key;
    std::string label;
};

/** How a notification asks to be shown. */
struct NotificationStyle {
    /** Stays on screen until answered, even where the server expires others. */
    bool critical = false;
    /** Offered only where the server shows buttons; elsewhere the notification is shown without them. */
    std::vector<NotificationAction> actions;
};

/** What the desktop reports about the shown notification; the callbacks run on the thread that created it. */
struct NotificationEvents {
    std::function<void()> onClicked;
    /** Closed by the user or the desktop, never by Cancel. */
    std::function<void()> onClosed;
    /** A notification that Show accepted was refused or never answered; the caller shows it another way. */
    std::function<void(const std::string& title, const std::string& text, int timeoutMs)> onFailed;
    /** One of the style's actions was chosen on the shown notification: its key. */
    std::function<void(const std::string& key)> onAction;
};

/**
 * Notifications through the desktop's notification server, which, unlike a tray balloon, tells when a
 * notification was clicked and when it closed. One notification at a time: a new one replaces the shown
 * one. Nothing here waits for the server, so a frozen server cannot freeze a ringing alarm. Texts are UTF-8.
 */
class DesktopNotifications
{
public:
    DesktopNotifications() = default;
    virtual ~DesktopNotifications() = default;
    DesktopNotifications(const DesktopNotifications&) = delete;
    DesktopNotifications& operator=(const DesktopNotifications&) = delete;

    /**
     * Sends title and text for timeoutMs (a request: the server may shorten it). False when no server is
     * there to take it; a server that refuses it later reports that through onFailed.
     */
    virtual bool Show(const std::string& title, const std::string& text, int timeoutMs,
                      const NotificationStyle& style) = 0;
    bool Show(const std::string& title, const std::string& text, int timeoutMs)
    {
        return Show(title, text, timeoutMs, NotificationStyle{});
    }
    /** Closes the shown notification without reporting it as closed. */
    virtual void Cancel() = 0;
    virtual bool IsShown() const = 0;
    /** The server's id of the shown notification; 0 while none is shown or its answer is still out. */
    virtual unsigned NotificationId() const = 0;
};

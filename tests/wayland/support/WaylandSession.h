#pragma once

#include "PulseTestServer.h"

#include <QDBusConnection>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

/** A window as the compositor lists it. */
struct CompositorWindow {
    QString title;
    QString appId;
    QRect frame; // with the client-side decoration
};

/**
 * A Wayland session without a screen: weston on its headless back end, a private session bus with a
 * panel stand-in (tray watcher and notification server, or only the latter), and a sound server with
 * a null sink. Every process dies with the test. The compositor is asked for its scene graph to see
 * the windows, since a Wayland client cannot see other clients' windows.
 */
class WaylandSession final
{
public:
    WaylandSession() = default;
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    bool Start(bool withTrayWatcher, QString* why);
    void Stop();
    /** Replaces the panel: with or without the tray's watcher. */
    bool RestartPanel(bool withTrayWatcher, QString* why);

    QProcessEnvironment Environment() const;
    QString Scratch() const { return m_scratch ? m_scratch->path() : QString(); }
    PulseTestServer& Pulse() { return m_pulse; }
    /** The test's connection to the session bus, as a panel has one. */
    QDBusConnection Bus() const;

    /** The top-level windows of the program's process, front first. */
    QList<CompositorWindow> Windows(qint64 pid) const;
    /** The compositor's log of what it was asked for, for failure reports. */
    QString SceneGraph() const;

    /** What the panel stand-in reported so far, one line each. */
    QStringList PanelLines() const { return m_panelLines; }
    /** Lines of the panel that start with prefix. */
    QStringList PanelLines(const QString& prefix) const;
    /** Tells the panel stand-in to answer a notification ("click 3", "dismiss 3"). */
    void PanelCommand(const QString& command);

private:
    bool startPanel(bool withTrayWatcher, QString* why);
    void stopPanel();

    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_runtimeDir;
    QString m_socket;
    QByteArray m_busAddress;
    std::unique_ptr<QProcess> m_compositor;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_panel;
    QStringList m_panelLines;
    QByteArray m_panelPending;
    PulseTestServer m_pulse;
};

/** The program's tray icon as a panel sees it on the bus (StatusNotifierItem and its dbusmenu). */
class TrayItem final
{
public:
    TrayItem(QDBusConnection bus, QString service, QString path);

    QString Service() const { return m_service; }
    /** A property of org.kde.StatusNotifierItem; invalid when it could not be read. */
    QVariant Property(const QString& name) const;
    /** The tooltip's title and text. */
    std::pair<QString, QString> ToolTip() const;
    /** The largest image of IconPixmap (ARGB32, as the item sends it); null when there is none. */
    QImage IconPixmap() const;
    /** The labels of the top level of the item's menu, with their ids; separators are left out. */
    QList<std::pair<int, QString>> MenuItems() const;
    /** Activate(x, y), as a left click on the icon; false when the call failed. */
    bool Activate() const;
    /** Sends the menu's "clicked" event for an entry. */
    bool ClickMenuItem(int id) const;

private:
    QDBusConnection m_bus;
    QString m_service;
    QString m_path;
};

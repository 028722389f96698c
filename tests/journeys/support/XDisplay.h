#pragma once

#include <QHash>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

struct xcb_connection_t;

/** One top-level window as the window manager and the X server see it. */
struct XWindow {
    quint32 id = 0;
    QString title;
    QString wmClass;               // the class part of WM_CLASS
    qint64 pid = 0;                // _NET_WM_PID, 0 when not set
    bool viewable = false;         // mapped, and every ancestor mapped
    bool overrideRedirect = false; // popup menus, tooltips: not managed by the window manager
    QRect geometry;                // the client area in root coordinates
    QStringList types;             // _NET_WM_WINDOW_TYPE names without the prefix: "NORMAL", "DIALOG", "UTILITY"
    QStringList states;            // _NET_WM_STATE names without the prefix: "MODAL", "ABOVE", "MAXIMIZED_VERT"

    bool HasType(const char* type) const { return types.contains(QLatin1String(type)); }
    bool InState(const char* state) const { return states.contains(QLatin1String(state)); }
    QString Describe() const;
};

/**
 * A connection of the test to the X server the program runs on. Every question is a few round trips
 * on an open connection, cheap enough to poll every few milliseconds; nothing here sends input.
 */
class XDisplay final
{
public:
    XDisplay() = default;
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool Open(const QString& display);
    void Close();
    bool IsOpen() const { return m_connection != nullptr; }

    /** An EWMH window manager has announced itself on the root window. */
    bool WindowManagerRunning();
    /** Someone owns the selection, e.g. "_NET_SYSTEM_TRAY_S0" (a tray host). */
    bool SelectionOwned(const char* selection);

    /** Managed windows (the window manager's client list) and viewable popups of a process. */
    QList<XWindow> WindowsOf(qint64 pid);
    /** The process's icon embedded in the tray host, if it is there and viewable. */
    std::optional<XWindow> TrayIconOf(qint64 pid);
    /** The window is still there and viewable. */
    bool Viewable(quint32 window);
    /**
     * The window shows something drawn: its pixels are not all of one colour. On a black root
     * without a compositor an exposed window nobody painted yet reads back as one flat colour.
     */
    bool Painted(quint32 window);
    /** The window manager's frame around a client window (the client itself when unmanaged). */
    quint32 FrameOf(quint32 window);
    /** Every window of the screen with its name and geometry, for failure reports. */
    QString Dump();

private:
    quint32 atom(const char* name);
    QString atomName(quint32 atom);
    QByteArray property(quint32 window, quint32 property, quint32 type, quint32 maxLongs = 1024);
    QList<quint32> children(quint32 window, quint32* parent = nullptr);
    XWindow describe(quint32 window);
    void dumpTree(quint32 window, int depth, QString& out);

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    QHash<QByteArray, quint32> m_atoms;
    QHash<quint32, QString> m_atomNames;
};

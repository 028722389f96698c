#include "XDisplay.h"

#include <QSet>

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace {

// xcb replies are malloc'ed.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

QString stripped(const QString& name, const char* prefix)
{
    const QLatin1String p(prefix);
    return name.startsWith(p) ? name.mid(p.size()) : name;
}

} // namespace

QString XWindow::Describe() const
{
    return QStringLiteral("0x%1 \"%2\" class %3 pid %4 %5 %6x%7+%8+%9 types [%10] states [%11]%12")
        .arg(QString::number(id, 16), title, wmClass)
        .arg(pid)
        .arg(viewable ? QStringLiteral("viewable") : QStringLiteral("not viewable"))
        .arg(geometry.width())
        .arg(geometry.height())
        .arg(geometry.x())
        .arg(geometry.y())
        .arg(types.join(u','), states.join(u','), overrideRedirect ? QStringLiteral(" override-redirect") : QString());
}

XDisplay::~XDisplay()
{
    Close();
}

bool XDisplay::Open(const QString& display)
{
    Close();
    int screenNumber = 0;
    m_connection = xcb_connect(display.toLocal8Bit().constData(), &screenNumber);
    if (!m_connection || xcb_connection_has_error(m_connection)) {
        Close();
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;
    return true;
}

void XDisplay::Close()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
    m_atoms.clear();
    m_atomNames.clear();
}

quint32 XDisplay::atom(const char* name)
{
    const QByteArray key(name);
    if (const auto found = m_atoms.constFind(key); found != m_atoms.constEnd())
        return *found;
    auto r = reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(key.size()), key.constData()), nullptr));
    const quint32 value = r ? r->atom : quint32(XCB_ATOM_NONE);
    m_atoms.insert(key, value);
    return value;
}

QString XDisplay::atomName(quint32 value)
{
    if (const auto found = m_atomNames.constFind(value); found != m_atomNames.constEnd())
        return *found;
    auto r = reply(xcb_get_atom_name_reply(m_connection, xcb_get_atom_name(m_connection, value), nullptr));
    const QString name =
        r ? QString::fromLatin1(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get())) : QString();
    m_atomNames.insert(value, name);
    return name;
}

QByteArray XDisplay::property(quint32 window, quint32 name, quint32 type, quint32 maxLongs)
{
    auto r = reply(xcb_get_property_reply(m_connection,
                                          xcb_get_property(m_connection, 0, window, name, type, 0, maxLongs), nullptr));
    if (!r || r->type == XCB_ATOM_NONE)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                      xcb_get_property_value_length(r.get()));
}

QList<quint32> XDisplay::children(quint32 window, quint32* parent)
{
    QList<quint32> result;
    auto r = reply(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
    if (!r)
        return result;
    if (parent)
        *parent = r->parent;
    const xcb_window_t* list = xcb_query_tree_children(r.get());
    for (int i = 0; i < xcb_query_tree_children_length(r.get()); ++i)
        result.append(list[i]);
    return result;
}

bool XDisplay::WindowManagerRunning()
{
    return m_connection && !property(m_root, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW).isEmpty();
}

bool XDisplay::SelectionOwned(const char* selection)
{
    if (!m_connection)
        return false;
    auto r = reply(
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, atom(selection)), nullptr));
    return r && r->owner != XCB_WINDOW_NONE;
}

XWindow XDisplay::describe(quint32 window)
{
    XWindow w;
    w.id = window;
    QByteArray name = property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"));
    w.title = name.isEmpty() ? QString::fromLatin1(property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING))
                             : QString::fromUtf8(name);
    const QList<QByteArray> classes = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
    w.wmClass = classes.size() > 1 ? QString::fromLatin1(classes.at(1)) : QString();
    const QByteArray pid = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (pid.size() >= 4)
        w.pid = *reinterpret_cast<const quint32*>(pid.constData());
    const auto atomsOf = [this, window](const char* prop, const char* prefix) {
        QStringList names;
        const QByteArray raw = property(window, atom(prop), XCB_ATOM_ATOM);
        const auto* values = reinterpret_cast<const quint32*>(raw.constData());
        for (qsizetype i = 0; i < raw.size() / 4; ++i)
            names.append(stripped(atomName(values[i]), prefix));
        return names;
    };
    w.types = atomsOf("_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_");
    w.states = atomsOf("_NET_WM_STATE", "_NET_WM_STATE_");
    auto attributes =
        reply(xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    if (attributes) {
        w.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        w.overrideRedirect = attributes->override_redirect;
    }
    auto geometry = reply(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    auto origin = reply(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
    if (geometry && origin)
        w.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    return w;
}

QList<XWindow> XDisplay::WindowsOf(qint64 pid)
{
    QList<XWindow> result;
    if (!m_connection)
        return result;
    QSet<quint32> seen;
    const QByteArray clients = property(m_root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 4096);
    const auto* ids = reinterpret_cast<const quint32*>(clients.constData());
    for (qsizetype i = 0; i < clients.size() / 4; ++i) {
        const XWindow w = describe(ids[i]);
        seen.insert(w.id);
        if (w.pid == pid)
            result.append(w);
    }
    for (quint32 child : children(m_root)) {
        if (seen.contains(child))
            continue;
        auto attributes = reply(
            xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, child), nullptr));
        if (!attributes || !attributes->override_redirect || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const XWindow w = describe(child);
        if (w.pid == pid)
            result.append(w);
    }
    return result;
}

std::optional<XWindow> XDisplay::TrayIconOf(qint64 pid)
{
    if (!m_connection)
        return std::nullopt;
    // The icon is embedded below the tray host's panel, which the window manager may have framed in
    // turn: a small viewable window of the process that is not a top-level window of its own.
    QList<std::pair<quint32, int>> pending;
    for (quint32 top : children(m_root))
        pending.append({top, 1});
    while (!pending.isEmpty()) {
        const auto [window, depth] = pending.takeFirst();
        for (quint32 child : children(window)) {
            const XWindow w = describe(child);
            if (w.pid == pid && w.viewable && w.geometry.width() <= 128 && w.geometry.height() <= 128 &&
                !w.HasType("DIALOG") && !w.HasType("UTILITY"))
                return w;
            if (depth < 6)
                pending.append({child, depth + 1});
        }
    }
    return std::nullopt;
}

bool XDisplay::Viewable(quint32 window)
{
    if (!m_connection)
        return false;
    auto attributes =
        reply(xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool XDisplay::Painted(quint32 window)
{
    if (!Viewable(window))
        return false;
    auto geometry = reply(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!geometry || geometry->width < 2 || geometry->height < 2)
        return false;
    auto image = reply(xcb_get_image_reply(
        m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, geometry->width, geometry->height, ~0u),
        nullptr));
    if (!image || image->depth < 24)
        return false;
    const auto* pixels = reinterpret_cast<const quint32*>(xcb_get_image_data(image.get()));
    const int count = xcb_get_image_data_length(image.get()) / 4;
    QSet<quint32> colours;
    for (int i = 0; i < count && colours.size() < 3; i += 7)
        colours.insert(pixels[i] & 0xffffff);
    return colours.size() >= 3;
}

quint32 XDisplay::FrameOf(quint32 window)
{
    quint32 current = window;
    for (int depth = 0; depth < 8; ++depth) {
        quint32 parent = 0;
        children(current, &parent);
        if (parent == 0 || parent == m_root)
            return current;
        current = parent;
    }
    return window;
}

void XDisplay::dumpTree(quint32 window, int depth, QString& out)
{
    for (quint32 child : children(window)) {
        const XWindow w = describe(child);
        if (!w.title.isEmpty() || !w.wmClass.isEmpty())
            out += QString(depth * 2, u' ') + w.Describe() + u'\n';
        if (depth < 5)
            dumpTree(child, depth + 1, out);
    }
}

QString XDisplay::Dump()
{
    QString out;
    if (m_connection)
        dumpTree(m_root, 0, out);
    return out;
}

#include "WaylandSession.h"

#include "Desktop.h"
#include "TestSupport.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>

namespace {

constexpr int kReadyTimeoutMs = 15000;
const QString kBusName = QStringLiteral("wayland-session-panel");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

QString fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return text;
}

// An item's pixmaps as the bus carries them: an array of (width, height, ARGB bytes).
struct ItemPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};

QList<ItemPixmap> readPixmaps(const QDBusArgument& argument)
{
    QList<ItemPixmap> pixmaps;
    argument.beginArray();
    while (!argument.atEnd()) {
        ItemPixmap pixmap;
        argument.beginStructure();
        argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
        argument.endStructure();
        pixmaps.append(pixmap);
    }
    argument.endArray();
    return pixmaps;
}

} // namespace

WaylandSession::~WaylandSession()
{
    Stop();
}

bool WaylandSession::Start(bool withTrayWatcher, QString* why)
{
    Stop();
    m_scratch = std::make_unique<QTemporaryDir>();
    if (!m_scratch->isValid()) {
        fail(why, QStringLiteral("no temporary folder"));
        return false;
    }
    // The sound server's runtime folder (mode 700, this process's XDG_RUNTIME_DIR from here on) holds the
    // compositor's socket too, so that the session's programs find both where they look.
    QString pulseWhy;
    if (!m_pulse.Start(&pulseWhy)) {
        fail(why, QStringLiteral("PulseAudio: ") + pulseWhy);
        return false;
    }
    m_pulse.StartKeepAlive();
    m_runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    m_socket = QStringLiteral("larkbell-wayland");

    m_compositor = std::make_unique<QProcess>();
    m_compositor->setProcessChannelMode(QProcess::MergedChannels);
    m_compositor->setStandardOutputFile(m_scratch->filePath(QStringLiteral("weston.log")));
    DieWithTest(*m_compositor);
    // --debug opens the scene graph to clients; --no-config keeps a weston.ini of the machine out.
    m_compositor->start(QStringLiteral("weston"),
                        {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=") + m_socket,
                         QStringLiteral("--width=1280"), QStringLiteral("--height=800"),
                         QStringLiteral("--idle-time=0"), QStringLiteral("--use-pixman"), QStringLiteral("--no-config"),
                         QStringLiteral("--debug")});
    const QString socketPath = QDir(m_runtimeDir).filePath(m_socket);
    if (!m_compositor->waitForStarted(10000) ||
        !WaitUntil([&] { return QFileInfo::exists(socketPath) || m_compositor->state() != QProcess::Running; },
                   kReadyTimeoutMs) ||
        m_compositor->state() != QProcess::Running) {
        fail(why, QStringLiteral("weston did not start: ") +
                      QString::fromLocal8Bit(ReadFileBytes(m_scratch->filePath(QStringLiteral("weston.log")))));
        return false;
    }

    m_bus = std::make_unique<QProcess>();
    DieWithTest(*m_bus);
    m_bus->start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_bus->waitForStarted(10000) ||
        !WaitUntil([this] { return m_bus->canReadLine() || m_bus->state() != QProcess::Running; }, kReadyTimeoutMs)) {
        fail(why, QStringLiteral("dbus-daemon did not start"));
        return false;
    }
    m_busAddress = m_bus->readLine().trimmed();
    if (m_busAddress.isEmpty() || !Bus().isConnected()) {
        fail(why, QStringLiteral("no connection to the private session bus"));
        return false;
    }
    return startPanel(withTrayWatcher, why);
}

bool WaylandSession::RestartPanel(bool withTrayWatcher, QString* why)
{
    stopPanel();
    return startPanel(withTrayWatcher, why);
}

bool WaylandSession::startPanel(bool withTrayWatcher, QString* why)
{
    m_panelLines.clear();
    m_panelPending.clear();
    m_panel = std::make_unique<QProcess>();
    m_panel->setProcessEnvironment(Environment());
    m_panel->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    DieWithTest(*m_panel);
    QObject::connect(m_panel.get(), &QProcess::readyReadStandardOutput, m_panel.get(), [this] {
        m_panelPending += m_panel->readAllStandardOutput();
        for (qsizetype end = m_panelPending.indexOf('\n'); end >= 0; end = m_panelPending.indexOf('\n')) {
            m_panelLines.append(QString::fromUtf8(m_panelPending.left(end)));
            m_panelPending.remove(0, end + 1);
        }
    });
    m_panel->start(QStringLiteral(LARKBELL_PANEL_STANDIN),
                   withTrayWatcher ? QStringList() : QStringList{QStringLiteral("--no-watcher")});
    if (!m_panel->waitForStarted(10000) ||
        !WaitUntil(
            [this] { return m_panelLines.contains(QStringLiteral("ready")) || m_panel->state() != QProcess::Running; },
            kReadyTimeoutMs) ||
        m_panel->state() != QProcess::Running) {
        fail(why, QStringLiteral("the panel stand-in did not take its names on the bus"));
        return false;
    }
    return true;
}

void WaylandSession::stopPanel()
{
    StopProcess(m_panel);
    // Until the bus has seen the names go, a program started now would still find them.
    WaitUntil(
        [this] {
            const QDBusConnectionInterface* names = Bus().interface();
            return !names->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value() &&
                   !names->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
        },
        kReadyTimeoutMs);
}

void WaylandSession::Stop()
{
    StopProcess(m_panel);
    if (!m_busAddress.isEmpty())
        QDBusConnection::disconnectFromBus(kBusName);
    StopProcess(m_bus);
    StopProcess(m_compositor);
    m_pulse.Stop();
    m_scratch.reset();
    m_busAddress.clear();
}

QDBusConnection WaylandSession::Bus() const
{
    return QDBusConnection::connectToBus(QString::fromLatin1(m_busAddress), kBusName);
}

QProcessEnvironment WaylandSession::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "XAUTHORITY", "SESSION_MANAGER", "PULSE_SINK", "TZ", "LC_ALL",
                             "LARKBELL_DATA_DIR", "LARKBELL_TEST_CLOCK_OFFSET_MS", "QT_ACCESSIBILITY",
                             "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "QT_WAYLAND_DISABLE_WINDOWDECORATION"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_socket);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(m_busAddress));
    env.insert(QStringLiteral("PULSE_SERVER"),
               QStringLiteral("unix:") + m_runtimeDir + QStringLiteral("/pulse/native"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_scratch->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    return env;
}

QString WaylandSession::SceneGraph() const
{
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(QStringLiteral("weston-debug"), {QStringLiteral("scene-graph")});
    if (!tool.waitForFinished(5000)) {
        tool.kill();
        tool.waitForFinished(1000);
        return QString();
    }
    return QString::fromUtf8(tool.readAllStandardOutput());
}

QList<CompositorWindow> WaylandSession::Windows(qint64 pid) const
{
    static const QRegularExpression view(
        QStringLiteral(R"(View \d+ \(role xdg_toplevel, PID (\d+), .*top-level window '(.*)' of ([^,]*), 0x)"));
    static const QRegularExpression position(
        QStringLiteral(R"(position: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\))"));
    QList<CompositorWindow> windows;
    const QStringList lines = SceneGraph().split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = view.match(lines.at(i));
        if (!match.hasMatch() || match.captured(1).toLongLong() != pid)
            continue;
        CompositorWindow window{match.captured(2), match.captured(3), QRect()};
        if (i + 1 < lines.size()) {
            const QRegularExpressionMatch place = position.match(lines.at(i + 1));
            if (place.hasMatch())
                window.frame = QRect(QPoint(place.captured(1).toInt(), place.captured(2).toInt()),
                                     QPoint(place.captured(3).toInt() - 1, place.captured(4).toInt() - 1));
        }
        windows.append(window);
    }
    return windows;
}

QStringList WaylandSession::PanelLines(const QString& prefix) const
{
    QStringList lines;
    for (const QString& line : m_panelLines) {
        if (line.startsWith(prefix))
            lines.append(line);
    }
    return lines;
}

void WaylandSession::PanelCommand(const QString& command)
{
    if (m_panel)
        m_panel->write(command.toUtf8() + '\n');
}

// ---- the tray item ----

TrayItem::TrayItem(QDBusConnection bus, QString service, QString path)
    : m_bus(std::move(bus))
    , m_service(std::move(service))
    , m_path(std::move(path))
{}

QVariant TrayItem::Property(const QString& name) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_service, m_path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kItemInterface << name;
    const QDBusReply<QDBusVariant> reply = m_bus.call(call, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

std::pair<QString, QString> TrayItem::ToolTip() const
{
    // (icon name, icon pixmaps, title, text)
    const QVariant value = Property(QStringLiteral("ToolTip"));
    if (!value.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = value.value<QDBusArgument>();
    QString iconName;
    QString title;
    QString text;
    argument.beginStructure();
    argument >> iconName;
    readPixmaps(argument);
    argument >> title >> text;
    argument.endStructure();
    return {title, text};
}

QImage TrayItem::IconPixmap() const
{
    const QVariant value = Property(QStringLiteral("IconPixmap"));
    if (!value.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = value.value<QDBusArgument>();
    QImage largest;
    for (const ItemPixmap& pixmap : readPixmaps(argument)) {
        if (pixmap.width <= largest.width() || pixmap.bytes.size() != qsizetype(pixmap.width) * pixmap.height * 4)
            continue;
        // Network byte order ARGB: the bytes are A, R, G, B whatever the host's order.
        QImage image(pixmap.width, pixmap.height, QImage::Format_ARGB32);
        const auto* bytes = reinterpret_cast<const uchar*>(pixmap.bytes.constData());
        for (int y = 0; y < pixmap.height; ++y) {
            for (int x = 0; x < pixmap.width; ++x) {
                const uchar* p = bytes + (qsizetype(y) * pixmap.width + x) * 4;
                image.setPixel(x, y, qRgba(p[1], p[2], p[3], p[0]));
            }
        }
        largest = image;
    }
    return largest;
}

QList<std::pair<int, QString>> TrayItem::MenuItems() const
{
    QList<std::pair<int, QString>> items;
    const QVariant menuPath = Property(QStringLiteral("Menu"));
    const QString path = menuPath.value<QDBusObjectPath>().path();
    if (path.isEmpty())
        return items;
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, path, QStringLiteral("com.canonical.dbusmenu"),
                                                       QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return items;
    // (revision, (id, properties, children as variants of the same structure))
    const QDBusArgument root = reply.arguments().at(1).value<QDBusArgument>();
    int rootId = 0;
    QVariantMap rootProperties;
    root.beginStructure();
    root >> rootId >> rootProperties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument entry = child.variant().value<QDBusArgument>();
        int id = 0;
        QVariantMap properties;
        entry.beginStructure();
        entry >> id >> properties;
        entry.endStructure();
        if (properties.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
            continue;
        if (properties.contains(QStringLiteral("visible")) && !properties.value(QStringLiteral("visible")).toBool())
            continue;
        items.append({id, properties.value(QStringLiteral("label")).toString()});
    }
    root.endArray();
    root.endStructure();
    return items;
}

bool TrayItem::Activate() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_path, kItemInterface, QStringLiteral("Activate"));
    call << 10 << 10;
    return m_bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

bool TrayItem::ClickMenuItem(int id) const
{
    const QString path = Property(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, path, QStringLiteral("com.canonical.dbusmenu"),
                                                       QStringLiteral("Event"));
    call << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
    return m_bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

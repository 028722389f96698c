// What a Wayland panel offers a program on the session bus, without the panel: the tray's watcher
// (org.kde.StatusNotifierWatcher, with a host that claims to show the items) and a notification server
// (org.freedesktop.Notifications). It shows nothing; it reports on stdout, one line each:
//   ready                                  both names are taken
//   item <service> <path>                  an item registered itself
//   item-gone <service>                    its owner left the bus
//   notify <id> <urgency> <timeout> <summary>   a notification arrived (urgency 0-2, 1 when not given)
//   close <id>                             the program closed it
// and answers the notifications as a user would through commands on stdin, one a line:
//   click <id>                             the notification was clicked (ActionInvoked "default", then closed)
//   dismiss <id>                           the user closed it
// Usage: larkbell_panel_standin [--no-watcher] [--no-notifications]

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QSocketNotifier>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>
#include <unistd.h>

namespace {

void report(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString oneLine(QString text)
{
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    return text;
}

} // namespace

class Watcher final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit Watcher(QObject* parent)
        : QObject(parent)
        , m_owners(QString(), QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForUnregistration)
    {
        connect(&m_owners, &QDBusServiceWatcher::serviceUnregistered, this, &Watcher::ownerGone);
    }

    QStringList items() const { return m_items; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath)
    {
        // An item names either its bus name (path /StatusNotifierItem) or its path on the caller's name.
        const QString sender = message().service();
        const bool isPath = serviceOrPath.startsWith(u'/');
        const QString service = isPath ? sender : serviceOrPath;
        const QString path = isPath ? serviceOrPath : QStringLiteral("/StatusNotifierItem");
        const QString item = service + path;
        if (!m_items.contains(item)) {
            m_items.append(item);
            m_owners.addWatchedService(service);
        }
        report(QStringLiteral("item %1 %2").arg(service, path));
        emit StatusNotifierItemRegistered(item);
    }
    void RegisterStatusNotifierHost(const QString&) { emit StatusNotifierHostRegistered(); }

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    void ownerGone(const QString& service)
    {
        m_owners.removeWatchedService(service);
        for (qsizetype i = m_items.size() - 1; i >= 0; --i) {
            if (m_items.at(i).startsWith(service + u'/')) {
                emit StatusNotifierItemUnregistered(m_items.at(i));
                m_items.removeAt(i);
            }
        }
        report(QStringLiteral("item-gone %1").arg(service));
    }

    QStringList m_items;
    QDBusServiceWatcher m_owners;
};

class Notifications final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    using QObject::QObject;

    // Reasons of NotificationClosed.
    static constexpr uint kDismissed = 2;
    static constexpr uint kClosedByCall = 3;

    void answer(const QString& command, uint id)
    {
        if (!m_open.contains(id))
            return;
        m_open.removeAll(id);
        if (command == QLatin1String("click"))
            emit ActionInvoked(id, QStringLiteral("default"));
        emit NotificationClosed(id, kDismissed);
    }

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = QStringLiteral("Larkbell tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("panel stand-in");
    }
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString&,
                const QStringList&, const QVariantMap& hints, int timeout)
    {
        const uint id = replacesId != 0 && m_open.contains(replacesId) ? replacesId : ++m_lastId;
        if (!m_open.contains(id))
            m_open.append(id);
        // The urgency hint is a byte; missing means normal.
        const int urgency =
            hints.contains(QStringLiteral("urgency")) ? hints.value(QStringLiteral("urgency")).toInt() : 1;
        report(QStringLiteral("notify %1 %2 %3 %4").arg(id).arg(urgency).arg(timeout).arg(oneLine(summary)));
        return id;
    }
    void CloseNotification(uint id)
    {
        report(QStringLiteral("close %1").arg(id));
        if (m_open.removeAll(id) > 0)
            emit NotificationClosed(id, kClosedByCall);
    }

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& action);

private:
    uint m_lastId = 0;
    QList<uint> m_open;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fputs("no session bus\n", stderr);
        return 1;
    }
    auto* notifications = new Notifications(&app);
    if (!arguments.contains(QStringLiteral("--no-notifications"))) {
        bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), notifications,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        if (!bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
            std::fputs("the notification service is taken\n", stderr);
            return 1;
        }
    }
    if (!arguments.contains(QStringLiteral("--no-watcher"))) {
        auto* watcher = new Watcher(&app);
        bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), watcher,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                               QDBusConnection::ExportAllProperties);
        if (!bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
            std::fputs("the tray watcher service is taken\n", stderr);
            return 1;
        }
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false); // the test closed its end; keep serving the bus
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QStringList words = QString::fromUtf8(pending.left(end)).split(u' ', Qt::SkipEmptyParts);
            pending.remove(0, end + 1);
            if (words.size() == 2)
                notifications->answer(words.at(0), words.at(1).toUInt());
        }
    });
    report(QStringLiteral("ready"));
    return app.exec();
}

#include "panel_standin.moc"

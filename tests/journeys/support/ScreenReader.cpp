#include "ScreenReader.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {

struct Accessible {
    QString service;
    QString path;
};

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");

QDBusMessage call(QDBusConnection& bus, const Accessible& object, const QString& interface, const QString& method,
                  const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, 3000);
}

QList<Accessible> childrenOf(QDBusConnection& bus, const Accessible& object)
{
    QList<Accessible> children;
    const QDBusMessage reply = call(bus, object, kAccessible, QStringLiteral("GetChildren"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return children;
    const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        Accessible child;
        QDBusObjectPath path;
        list.beginStructure();
        list >> child.service >> path;
        list.endStructure();
        child.path = path.path();
        children.append(child);
    }
    list.endArray();
    return children;
}

QString roleOf(QDBusConnection& bus, const Accessible& object)
{
    const QDBusMessage reply = call(bus, object, kAccessible, QStringLiteral("GetRoleName"));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().first().toString()
               : QString();
}

QString nameOf(QDBusConnection& bus, const Accessible& object)
{
    const QDBusMessage reply = call(bus, object, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kAccessible, QStringLiteral("Name")});
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().first().value<QDBusVariant>().variant().toString()
               : QString();
}

} // namespace

ScreenReader::~ScreenReader()
{
    if (!m_a11yName.isEmpty())
        QDBusConnection::disconnectFromBus(m_a11yName);
    if (!m_sessionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_sessionName);
}

bool ScreenReader::Connect(const QByteArray& sessionBusAddress, QString* why)
{
    static int connections = 0;
    ++connections;
    m_sessionName = QStringLiteral("journey-session-%1").arg(connections);
    m_a11yName = QStringLiteral("journey-a11y-%1").arg(connections);
    QDBusConnection session = QDBusConnection::connectToBus(QString::fromLatin1(sessionBusAddress), m_sessionName);
    // Asking for the address starts the accessibility bus (D-Bus activation) when nobody has yet.
    const QDBusMessage address =
        session.call(QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                    QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
                     QDBus::Block, 10000);
    if (address.type() != QDBusMessage::ReplyMessage || address.arguments().isEmpty()) {
        *why = QStringLiteral("no accessibility bus on this desktop (at-spi2-core): ") + address.errorMessage();
        return false;
    }
    QDBusConnection a11y = QDBusConnection::connectToBus(address.arguments().first().toString(), m_a11yName);
    if (!a11y.isConnected()) {
        *why = QStringLiteral("cannot connect to the accessibility bus: ") + a11y.lastError().message();
        return false;
    }
    return true;
}

QList<SpokenItem> ScreenReader::Read(const QString& window)
{
    QList<SpokenItem> items;
    QDBusConnection bus(m_a11yName);
    if (!bus.isConnected())
        return items;
    const Accessible registry{QStringLiteral("org.a11y.atspi.Registry"),
                              QStringLiteral("/org/a11y/atspi/accessible/root")};
    for (const Accessible& application : childrenOf(bus, registry)) {
        for (const Accessible& top : childrenOf(bus, application)) {
            if (nameOf(bus, top) != window)
                continue;
            QList<std::pair<Accessible, int>> pending{{top, 0}};
            while (!pending.isEmpty()) {
                const auto [object, depth] = pending.takeFirst();
                for (const Accessible& child : childrenOf(bus, object)) {
                    items.append({roleOf(bus, child), nameOf(bus, child)});
                    if (depth < 4)
                        pending.append({child, depth + 1});
                }
            }
        }
    }
    return items;
}

QStringList ScreenReader::Names(const QString& window, const QString& role)
{
    QStringList names;
    for (const SpokenItem& item : Read(window)) {
        if (item.role == role)
            names.append(item.name);
    }
    return names;
}

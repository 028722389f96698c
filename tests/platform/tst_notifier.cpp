#include "platform/linux/LinuxDesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QTest>
#include <QThread>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A notification server on its own bus connection and thread, as a desktop's would be.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit FakeNotificationServer(QStringList capabilities = {QStringLiteral("actions"), QStringLiteral("body")})
        : m_capabilities(std::move(capabilities))
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notification-server")))
    {
        m_thread.start();
        moveToThread(&m_thread);
        m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
        m_bus.registerService(kService);
    }
    ~FakeNotificationServer() override
    {
        m_bus.unregisterObject(kPath);
        m_bus.unregisterService(kService);
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
        m_thread.quit();
        m_thread.wait();
    }

    QList<int> timeouts() const
    {
        QMutexLocker lock(&m_mutex);
        return m_timeouts;
    }
    QStringList bodies() const
    {
        QMutexLocker lock(&m_mutex);
        return m_bodies;
    }
    QList<uint> closedByCall() const
    {
        QMutexLocker lock(&m_mutex);
        return m_closedByCall;
    }
    QList<QStringList> actions() const
    {
        QMutexLocker lock(&m_mutex);
        return m_actions;
    }
    QList<QVariantMap> hints() const
    {
        QMutexLocker lock(&m_mutex);
        return m_hints;
    }
    int capabilityQueries() const
    {
        QMutexLocker lock(&m_mutex);
        return m_capabilityQueries;
    }
    uint lastId() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lastId;
    }

    void closeByUser(uint id) { emitSignal(QStringLiteral("NotificationClosed"), {id, 2u}); }
    void invokeDefault(uint id) { invoke(id, QStringLiteral("default")); }
    void invoke(uint id, const QString& action) { emitSignal(QStringLiteral("ActionInvoked"), {id, action}); }

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString&, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        QMutexLocker lock(&m_mutex);
        m_actions.append(actions);
        m_hints.append(hints);
        m_timeouts.append(timeout);
        m_bodies.append(body);
        m_lastId = replacesId != 0 ? replacesId : m_lastId + 1;
        return m_lastId;
    }
    void CloseNotification(uint id)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_closedByCall.append(id);
        }
        emitSignal(QStringLiteral("NotificationClosed"), {id, 3u});
    }
    QStringList GetCapabilities()
    {
        QMutexLocker lock(&m_mutex);
        ++m_capabilityQueries;
        return m_capabilities;
    }

private:
    void emitSignal(const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, name);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    const QStringList m_capabilities;
    QDBusConnection m_bus;
    QThread m_thread;
    mutable QMutex m_mutex;
    QList<int> m_timeouts;
    QStringList m_bodies;
    QList<uint> m_closedByCall;
    QList<QStringList> m_actions;
    QList<QVariantMap> m_hints;
    uint m_lastId = 0;
    int m_capabilityQueries = 0;
};

} // namespace

namespace {

// The back end, used through the interface the program sees, with what it reported counted.
struct Notifier {
    int clicked = 0;
    int closed = 0;
    QStringList chosen;
    LinuxDesktopNotifications backEnd{{
        .onClicked = [this] { ++clicked; },
        .onClosed = [this] { ++closed; },
        .onFailed = {},
        .onAction = [this](const std::string& key) { chosen.append(QString::fromStdString(key)); },
    }};
    DesktopNotifications& notifications = backEnd;
};

// Shows text and waits until the server has taken it and its answer has come back.
void showAnswered(Notifier& notifier, FakeNotificationServer& server, const std::string& text)
{
    QTRY_VERIFY_WITH_TIMEOUT(notifier.backEnd.Available(), 5000);
    const qsizetype before = server.bodies().size();
    QVERIFY(notifier.notifications.Show("Larkbell", text, 30000));
    QTRY_COMPARE_WITH_TIMEOUT(server.bodies().size(), before + 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(notifier.notifications.NotificationId(), server.lastId(), 5000);
}

} // namespace

class TestNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showReachesTheServer();
    void closingByTheUserIsReported();
    void clickIsReported();
    void cancelIsNotReportedAsClosed();
    void withoutAServerNothingIsShown();
    void actionsAndUrgencyReachTheServer();
    void aChosenActionIsReportedByItsKey();
    void aServerWithoutButtonsGetsTheNotificationWithoutThem();
    void aShortPlainNotificationStaysNormal();
};

namespace {

NotificationStyle alarmStyle()
{
    return {true, {{"snooze", "Snooze"}, {"dismiss", "Dismiss"}}};
}

uchar urgencyOf(const QVariantMap& hints)
{
    const QVariant urgency = hints.value(QStringLiteral("urgency"));
    // The notification protocol types it as a byte; a server may ignore any other.
    return urgency.metaType() == QMetaType::fromType<uchar>() ? urgency.value<uchar>() : uchar(0xff);
}

} // namespace

void TestNotifier::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("needs a session bus (the test runs under dbus-run-session)");
}

void TestNotifier::showReachesTheServer()
{
    FakeNotificationServer server;
    Notifier notifier;
    QTRY_VERIFY_WITH_TIMEOUT(notifier.backEnd.Available(), 5000);
    QVERIFY(notifier.notifications.Show("Larkbell", "07:00:00\r\nWake up", 6000000));
    QTRY_COMPARE_WITH_TIMEOUT(server.timeouts(), QList<int>{6000000}, 5000);
    QCOMPARE(server.bodies(), QStringList{QStringLiteral("07:00:00\nWake up")});
    QVERIFY(notifier.notifications.IsShown());
}

void TestNotifier::closingByTheUserIsReported()
{
    FakeNotificationServer server;
    Notifier notifier;
    showAnswered(notifier, server, "x");
    server.closeByUser(server.lastId() + 100); // somebody else's notification
    server.closeByUser(server.lastId());
    QTRY_COMPARE_WITH_TIMEOUT(notifier.closed, 1, 5000);
    QVERIFY(!notifier.notifications.IsShown());
}

void TestNotifier::clickIsReported()
{
    FakeNotificationServer server;
    Notifier notifier;
    showAnswered(notifier, server, "x");
    server.invokeDefault(server.lastId());
    QTRY_COMPARE_WITH_TIMEOUT(notifier.clicked, 1, 5000);
}

void TestNotifier::cancelIsNotReportedAsClosed()
{
    FakeNotificationServer server;
    Notifier notifier;
    showAnswered(notifier, server, "old");
    const uint old = server.lastId();
    notifier.notifications.Cancel();
    QTRY_COMPARE_WITH_TIMEOUT(server.closedByCall(), QList<uint>{old}, 5000);
    showAnswered(notifier, server, "new");
    // The old notification's closing arrives after the new one is up: it must not dismiss the new alarm.
    // The server's signals arrive in the order it sent them, so once a later click is in, so is that closing.
    server.invokeDefault(server.lastId());
    QTRY_COMPARE_WITH_TIMEOUT(notifier.clicked, 1, 5000);
    QCOMPARE(notifier.closed, 0);
    QVERIFY(notifier.notifications.IsShown());
}

void TestNotifier::withoutAServerNothingIsShown()
{
    Notifier notifier;
    QVERIFY(!notifier.backEnd.Available());
    QVERIFY(!notifier.notifications.Show("Larkbell", "x", 30000));
}

void TestNotifier::actionsAndUrgencyReachTheServer()
{
    FakeNotificationServer server;
    Notifier notifier;
    QTRY_VERIFY_WITH_TIMEOUT(notifier.backEnd.ServerShowsActions(), 5000);
    QVERIFY(notifier.notifications.Show("Larkbell", "07:00:00\r\nWake up", 5000, alarmStyle()));
    QTRY_COMPARE_WITH_TIMEOUT(server.actions().size(), 1, 5000);
    QCOMPARE(server.actions().constFirst(), (QStringList{"default", "OK", "snooze", "Snooze", "dismiss", "Dismiss"}));
    QCOMPARE(urgencyOf(server.hints().constFirst()), uchar(2));
    QCOMPARE(server.timeouts(), QList<int>{5000});
}

void TestNotifier::aChosenActionIsReportedByItsKey()
{
    FakeNotificationServer server;
    Notifier notifier;
    QTRY_VERIFY_WITH_TIMEOUT(notifier.backEnd.ServerShowsActions(), 5000);
    QVERIFY(notifier.notifications.Show("Larkbell", "x", 30000, alarmStyle()));
    QTRY_COMPARE_WITH_TIMEOUT(server.bodies().size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(notifier.notifications.NotificationId(), server.lastId(), 5000);
    server.invoke(server.lastId() + 1, QStringLiteral("dismiss")); // another program's notification
    server.invoke(server.lastId(), QStringLiteral("snooze"));
    QTRY_COMPARE_WITH_TIMEOUT(notifier.chosen, QStringList{QStringLiteral("snooze")}, 5000);
    // A click on the body is still a click, not an action.
    server.invokeDefault(server.lastId());
    QTRY_COMPARE_WITH_TIMEOUT(notifier.clicked, 1, 5000);
    QCOMPARE(notifier.chosen, QStringList{QStringLiteral("snooze")});
}

void TestNotifier::aServerWithoutButtonsGetsTheNotificationWithoutThem()
{
    FakeNotificationServer server({QStringLiteral("body")});
    Notifier notifier;
    // The server answers in order: once a later call's answer is in, so is the capabilities' one.
    QTRY_COMPARE_WITH_TIMEOUT(server.capabilityQueries(), 1, 5000);
    showAnswered(notifier, server, "first");
    QVERIFY(!notifier.backEnd.ServerShowsActions());
    QVERIFY(notifier.notifications.Show("Larkbell", "x", 5000, alarmStyle()));
    QTRY_COMPARE_WITH_TIMEOUT(server.actions().size(), 2, 5000);
    QCOMPARE(server.actions().at(1), (QStringList{"default", "OK"}));
    QCOMPARE(urgencyOf(server.hints().at(1)), uchar(2));
}

void TestNotifier::aShortPlainNotificationStaysNormal()
{
    FakeNotificationServer server;
    Notifier notifier;
    QTRY_VERIFY_WITH_TIMEOUT(notifier.backEnd.ServerShowsActions(), 5000);
    QVERIFY(notifier.notifications.Show("Larkbell", "x", 5000));
    QTRY_COMPARE_WITH_TIMEOUT(server.actions().size(), 1, 5000);
    QCOMPARE(server.actions().constFirst(), (QStringList{"default", "OK"}));
    QVERIFY(!server.hints().constFirst().contains(QStringLiteral("urgency")));
}

QTEST_GUILESS_MAIN(TestNotifier)
#include "tst_notifier.moc"

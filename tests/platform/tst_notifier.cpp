#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A notification server on its own bus connection and thread, as a desktop's would be: the program's
// blocking Notify call can then be answered.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    FakeNotificationServer()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notification-server")))
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

    QList<int> timeouts() const { QMutexLocker lock(&m_mutex); return m_timeouts; }
    QStringList bodies() const { QMutexLocker lock(&m_mutex); return m_bodies; }
    QList<uint> closedByCall() const { QMutexLocker lock(&m_mutex); return m_closedByCall; }
    uint lastId() const { QMutexLocker lock(&m_mutex); return m_lastId; }

    void closeByUser(uint id) { emitSignal(QStringLiteral("NotificationClosed"), {id, 2u}); }
    void invokeDefault(uint id) { emitSignal(QStringLiteral("ActionInvoked"), {id, QStringLiteral("default")}); }

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString&, const QString& body,
                const QStringList&, const QVariantMap&, int timeout)
    {
        QMutexLocker lock(&m_mutex);
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
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

private:
    void emitSignal(const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, name);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
    QThread m_thread;
    mutable QMutex m_mutex;
    QList<int> m_timeouts;
    QStringList m_bodies;
    QList<uint> m_closedByCall;
    uint m_lastId = 0;
};

} // namespace

namespace {

// Shows text and waits until the server has taken it and its answer has come back.
void showAnswered(DesktopNotifier& notifier, FakeNotificationServer& server, const QString& text)
{
    QTRY_VERIFY_WITH_TIMEOUT(notifier.Available(), 5000);
    const qsizetype before = server.bodies().size();
    QVERIFY(notifier.Show(QStringLiteral("Larkbell"), text, 30000));
    QTRY_COMPARE_WITH_TIMEOUT(server.bodies().size(), before + 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(notifier.NotificationId(), server.lastId(), 5000);
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
};

void TestNotifier::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("needs a session bus (the test runs under dbus-run-session)");
}

void TestNotifier::showReachesTheServer()
{
    FakeNotificationServer server;
    DesktopNotifier notifier;
    QTRY_VERIFY_WITH_TIMEOUT(notifier.Available(), 5000);
    QVERIFY(notifier.Show(QStringLiteral("Larkbell"), QStringLiteral("07:00:00\r\nWake up"), 6000000));
    QTRY_COMPARE_WITH_TIMEOUT(server.timeouts(), QList<int>{6000000}, 5000);
    QCOMPARE(server.bodies(), QStringList{QStringLiteral("07:00:00\nWake up")});
    QVERIFY(notifier.IsShown());
}

void TestNotifier::closingByTheUserIsReported()
{
    FakeNotificationServer server;
    DesktopNotifier notifier;
    QSignalSpy closed(&notifier, &DesktopNotifier::closed);
    showAnswered(notifier, server, QStringLiteral("x"));
    server.closeByUser(server.lastId() + 100); // somebody else's notification
    server.closeByUser(server.lastId());
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 5000);
    QVERIFY(!notifier.IsShown());
}

void TestNotifier::clickIsReported()
{
    FakeNotificationServer server;
    DesktopNotifier notifier;
    QSignalSpy clicked(&notifier, &DesktopNotifier::clicked);
    showAnswered(notifier, server, QStringLiteral("x"));
    server.invokeDefault(server.lastId());
    QTRY_COMPARE_WITH_TIMEOUT(clicked.size(), 1, 5000);
}

void TestNotifier::cancelIsNotReportedAsClosed()
{
    FakeNotificationServer server;
    DesktopNotifier notifier;
    QSignalSpy closed(&notifier, &DesktopNotifier::closed);
    showAnswered(notifier, server, QStringLiteral("old"));
    const uint old = server.lastId();
    notifier.Cancel();
    QTRY_COMPARE_WITH_TIMEOUT(server.closedByCall(), QList<uint>{old}, 5000);
    showAnswered(notifier, server, QStringLiteral("new"));
    // The old notification's closing arrives after the new one is up: it must not dismiss the new alarm.
    QTest::qWait(100);
    QCOMPARE(closed.size(), 0);
    QVERIFY(notifier.IsShown());
}

void TestNotifier::withoutAServerNothingIsShown()
{
    DesktopNotifier notifier;
    QVERIFY(!notifier.Available());
    QVERIFY(!notifier.Show(QStringLiteral("Larkbell"), QStringLiteral("x"), 30000));
}

QTEST_GUILESS_MAIN(TestNotifier)
#include "tst_notifier.moc"

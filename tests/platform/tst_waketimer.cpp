#include "platform/Platform.h"
#include "platform/linux/LinuxWakeTimer.h"

#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QDir>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <map>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 10000;
const QString kService = QStringLiteral("org.kde.Solid.PowerManagement");
const QString kPath = QStringLiteral("/org/kde/Solid/PowerManagement");

// Stands in for the desktop's power daemon, which is what could wake a sleeping computer: it keeps the
// requested wake-ups as the real one does, and refuses the past as it does. It answers from its own
// thread, since the timer under test calls it from the main thread.
class FakePowerDaemon : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.Solid.PowerManagement")

public:
    std::map<int, qulonglong> active() const
    {
        QMutexLocker lock(&m_mutex);
        return m_active;
    }
    int requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }

public slots:
    uint scheduleWakeup(const QString& service, const QDBusObjectPath& path, qulonglong timestamp)
    {
        QMutexLocker lock(&m_mutex);
        ++m_requests;
        if (service.isEmpty() || path.path().isEmpty() ||
            timestamp < static_cast<qulonglong>(QDateTime::currentSecsSinceEpoch())) {
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("You can not schedule wakeup in past"));
            return 0;
        }
        const int cookie = ++m_lastCookie;
        m_active[cookie] = timestamp;
        return static_cast<uint>(cookie);
    }
    void clearWakeup(int cookie)
    {
        QMutexLocker lock(&m_mutex);
        m_active.erase(cookie);
    }

private:
    mutable QMutex m_mutex;
    std::map<int, qulonglong> m_active; // cookie → wake time in seconds since the epoch
    int m_lastCookie = 0;
    int m_requests = 0;
};

// A power daemon of a version without wake-ups.
class OldPowerDaemon : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.Solid.PowerManagement")

public slots:
    QString currentProfile() { return QStringLiteral("Performance"); }
};

// A private message bus for the test, stopped by its process id when the test ends.
class PrivateBus final
{
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        m_process.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                                 QStringLiteral("--print-address=1")});
        if (!m_process.waitForStarted(kWaitMs))
            return;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(kWaitMs)) {
        }
        m_address = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(kWaitMs);
        }
    }
    QString address() const { return m_address; }

private:
    QProcess m_process;
    QString m_address;
};

qulonglong Seconds(WallTime t)
{
    return static_cast<qulonglong>(std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count());
}

bool KernelAllowsAlarmTimers()
{
    const int fd = ::timerfd_create(CLOCK_REALTIME_ALARM, TFD_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

class TestWakeTimer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void reportsTheWakePathOfThisMachine();
    void aKernelAlarmTimerNeedsAWakeCapableClock_data();
    void aKernelAlarmTimerNeedsAWakeCapableClock();
    void theKernelAlarmTimerIsArmedAndDisarmed();
    void withoutAWakePathTheTimerIsStillArmed();

    void thePowerDaemonIsUsedWhenItOffersWakeUps();
    void aPowerDaemonWithoutWakeUpsIsNoWakePath();
    void thePowerDaemonHoldsOneRequestAtATime();
    void aRequestReplacedBeforeTheDaemonAnsweredIsWithdrawn();
    void aWakeTimeInThePastIsNotRequested();
    void endingTheTimerWithdrawsItsRequest();

private:
    bool startDaemon(QObject* daemon);
    void stopDaemon();
    WakeOptions daemonOnly() const;

    std::unique_ptr<PrivateBus> m_bus;
    QThread m_daemonThread;
    QObject* m_daemon = nullptr;
};

void TestWakeTimer::initTestCase()
{
    // Qt registers the D-Bus types lazily; the stand-in daemon's slots need this one before export.
    qRegisterMetaType<QDBusObjectPath>();
    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->address().isEmpty()) {
        QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("daemon"));
        QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client"));
    }
    m_daemonThread.start();
}

void TestWakeTimer::cleanupTestCase()
{
    stopDaemon();
    m_daemonThread.quit();
    m_daemonThread.wait();
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("daemon"));
    m_bus.reset();
}

bool TestWakeTimer::startDaemon(QObject* daemon)
{
    stopDaemon();
    QDBusConnection bus(QStringLiteral("daemon"));
    if (!bus.isConnected()) {
        delete daemon;
        return false;
    }
    daemon->moveToThread(&m_daemonThread);
    m_daemon = daemon;
    return bus.registerObject(kPath, daemon, QDBusConnection::ExportAllSlots) && bus.registerService(kService);
}

void TestWakeTimer::stopDaemon()
{
    if (!m_daemon)
        return;
    QDBusConnection bus(QStringLiteral("daemon"));
    bus.unregisterService(kService);
    bus.unregisterObject(kPath);
    QMetaObject::invokeMethod(m_daemon, &QObject::deleteLater);
    m_daemon = nullptr;
}

WakeOptions TestWakeTimer::daemonOnly() const
{
    WakeOptions options;
    options.useRealtimeAlarm = false;
    options.busConnection = QStringLiteral("client");
    return options;
}

void TestWakeTimer::reportsTheWakePathOfThisMachine()
{
    const WakePath detected = DetectWakePath();
    qInfo("wake path here: %s (alarm timerfd allowed: %s, real-time clocks: %s)", WakePathName(detected),
          KernelAllowsAlarmTimers() ? "yes" : "no",
          qPrintable(QDir(QStringLiteral("/sys/class/rtc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(u' ')));
    const LinuxWakeTimer timer;
    QCOMPARE(timer.Path(), detected);
    QCOMPARE(CreatePlatform()->WakeTimersAllowed(), detected != WakePath::None);
    if (detected == WakePath::RealtimeAlarm)
        QVERIFY(KernelAllowsAlarmTimers());
}

void TestWakeTimer::aKernelAlarmTimerNeedsAWakeCapableClock_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("wakes");
    QTest::newRow("a clock with a wake alarm") << QStringList{QStringLiteral("rtc0/wakealarm")} << true;
    QTest::newRow("the second clock has the wake alarm")
        << QStringList{QStringLiteral("rtc0/name"), QStringLiteral("rtc1/wakealarm")} << true;
    QTest::newRow("a clock without a wake alarm") << QStringList{QStringLiteral("rtc0/name")} << false;
    QTest::newRow("no clock at all") << QStringList{} << false;
}

void TestWakeTimer::aKernelAlarmTimerNeedsAWakeCapableClock()
{
    QFETCH(QStringList, files);
    QFETCH(bool, wakes);
    // The kernel's list of clocks is the one thing the machine cannot be asked to change.
    QTemporaryDir rtcClass;
    QVERIFY(rtcClass.isValid());
    for (const QString& file : files) {
        QVERIFY(QDir(rtcClass.path()).mkpath(QFileInfo(file).path()));
        WriteFileBytes(rtcClass.filePath(file), "\n");
    }
    WakeOptions options;
    options.rtcClassFolder = rtcClass.path();
    options.usePowerDaemon = false;
    const WakePath expected = wakes && KernelAllowsAlarmTimers() ? WakePath::RealtimeAlarm : WakePath::None;
    QCOMPARE(DetectWakePath(options), expected);
    QCOMPARE(LinuxWakeTimer(options).Path(), expected);
}

void TestWakeTimer::theKernelAlarmTimerIsArmedAndDisarmed()
{
    if (!KernelAllowsAlarmTimers())
        QSKIP("this process may not create alarm timers (no CAP_WAKE_ALARM)");
    QTemporaryDir rtcClass;
    QVERIFY(QDir(rtcClass.path()).mkpath(QStringLiteral("rtc0")));
    WriteFileBytes(rtcClass.filePath(QStringLiteral("rtc0/wakealarm")), "\n");
    WakeOptions options;
    options.rtcClassFolder = rtcClass.path();
    options.usePowerDaemon = false;
    LinuxWakeTimer timer(options);
    QCOMPARE(timer.Path(), WakePath::RealtimeAlarm);

    const WallTime first = std::chrono::system_clock::now() + 1h;
    QVERIFY(timer.Arm(first));
    QVERIFY(timer.RequestedWake());
    QVERIFY(std::chrono::abs(*timer.RequestedWake() - first) < 1s);

    const WallTime second = std::chrono::system_clock::now() + 2h;
    QVERIFY(timer.Arm(second));
    QVERIFY(std::chrono::abs(*timer.RequestedWake() - second) < 1s);

    timer.Disarm();
    QVERIFY(!timer.RequestedWake());
}

void TestWakeTimer::withoutAWakePathTheTimerIsStillArmed()
{
    WakeOptions options;
    options.useRealtimeAlarm = false;
    options.usePowerDaemon = false;
    LinuxWakeTimer timer(options);
    QCOMPARE(timer.Path(), WakePath::None);
    QVERIFY(timer.Arm(std::chrono::system_clock::now() + 1h));
    QVERIFY(!timer.RequestedWake());
    timer.Disarm();
}

void TestWakeTimer::thePowerDaemonIsUsedWhenItOffersWakeUps()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    QCOMPARE(DetectWakePath(daemonOnly()), WakePath::None);
    auto* daemon = new FakePowerDaemon;
    QVERIFY(startDaemon(daemon));
    QCOMPARE(DetectWakePath(daemonOnly()), WakePath::PowerDaemon);

    LinuxWakeTimer timer(daemonOnly());
    QCOMPARE(timer.Path(), WakePath::PowerDaemon);
    const WallTime due = std::chrono::system_clock::now() + 1h + 500ms;
    QVERIFY(timer.Arm(due));
    QTRY_COMPARE_WITH_TIMEOUT(daemon->active().size(), size_t(1), kWaitMs);
    QCOMPARE(daemon->active().begin()->second, Seconds(due));
    QTRY_VERIFY_WITH_TIMEOUT(timer.RequestedWake().has_value(), kWaitMs);

    timer.Disarm();
    QTRY_COMPARE_WITH_TIMEOUT(daemon->active().size(), size_t(0), kWaitMs);
    QVERIFY(!timer.RequestedWake());
}

void TestWakeTimer::aPowerDaemonWithoutWakeUpsIsNoWakePath()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    QVERIFY(startDaemon(new OldPowerDaemon));
    QCOMPARE(DetectWakePath(daemonOnly()), WakePath::None);
    LinuxWakeTimer timer(daemonOnly());
    QCOMPARE(timer.Path(), WakePath::None);
    QVERIFY(timer.Arm(std::chrono::system_clock::now() + 1h));
}

void TestWakeTimer::thePowerDaemonHoldsOneRequestAtATime()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    auto* daemon = new FakePowerDaemon;
    QVERIFY(startDaemon(daemon));
    LinuxWakeTimer timer(daemonOnly());
    QCOMPARE(timer.Path(), WakePath::PowerDaemon);

    const WallTime first = std::chrono::system_clock::now() + 1h;
    QVERIFY(timer.Arm(first));
    QTRY_COMPARE_WITH_TIMEOUT(daemon->requests(), 1, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(timer.RequestedWake().has_value(), kWaitMs);

    const WallTime second = std::chrono::system_clock::now() + 3h;
    QVERIFY(timer.Arm(second));
    QTRY_COMPARE_WITH_TIMEOUT(daemon->requests(), 2, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(daemon->active().size(), size_t(1), kWaitMs);
    QCOMPARE(daemon->active().begin()->second, Seconds(second));
}

void TestWakeTimer::aRequestReplacedBeforeTheDaemonAnsweredIsWithdrawn()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    auto* daemon = new FakePowerDaemon;
    QVERIFY(startDaemon(daemon));
    LinuxWakeTimer timer(daemonOnly());
    const WallTime now = std::chrono::system_clock::now();
    // No event loop runs between these, so every answer arrives after the next request went out.
    QVERIFY(timer.Arm(now + 1h));
    QVERIFY(timer.Arm(now + 2h));
    QVERIFY(timer.Arm(now + 3h));
    QTRY_COMPARE_WITH_TIMEOUT(daemon->requests(), 3, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(daemon->active().size(), size_t(1), kWaitMs);
    QCOMPARE(daemon->active().begin()->second, Seconds(now + 3h));
}

void TestWakeTimer::aWakeTimeInThePastIsNotRequested()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    auto* daemon = new FakePowerDaemon;
    QVERIFY(startDaemon(daemon));
    LinuxWakeTimer timer(daemonOnly());
    QVERIFY(timer.Arm(std::chrono::system_clock::now() - 1min));
    QVERIFY(!timer.RequestedWake());
    // A later request is the first the daemon sees.
    QVERIFY(timer.Arm(std::chrono::system_clock::now() + 1h));
    QTRY_COMPARE_WITH_TIMEOUT(daemon->requests(), 1, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(daemon->active().size(), size_t(1), kWaitMs);
}

void TestWakeTimer::endingTheTimerWithdrawsItsRequest()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    auto* daemon = new FakePowerDaemon;
    QVERIFY(startDaemon(daemon));
    {
        LinuxWakeTimer answered(daemonOnly());
        QVERIFY(answered.Arm(std::chrono::system_clock::now() + 1h));
        QTRY_VERIFY_WITH_TIMEOUT(answered.RequestedWake().has_value(), kWaitMs);
        // Still unanswered when the timer ends.
        LinuxWakeTimer pending(daemonOnly());
        QVERIFY(pending.Arm(std::chrono::system_clock::now() + 2h));
    }
    QCOMPARE(daemon->requests(), 2);
    QCOMPARE(daemon->active().size(), size_t(0));
}

QTEST_GUILESS_MAIN(TestWakeTimer)
#include "tst_waketimer.moc"

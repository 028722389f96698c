#include "core/alarms/WakeTest.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxSleepTrial.h"
#include "platform/linux/LinuxWakeTimer.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QDir>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <linux/capability.h>
#include <map>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
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

// Stands in for logind: Suspend announces the sleep at once and the return `resumeAfterMs` later, as a
// computer that a wake-up brought back would. Nothing really sleeps.
class FakeLogind : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    std::atomic<int> resumeAfterMs{0};
    std::atomic<bool> refuse{false};
    std::atomic<int> suspends{0};

public slots:
    void Suspend(bool interactive)
    {
        Q_UNUSED(interactive)
        ++suspends;
        if (refuse) {
            sendErrorReply(QStringLiteral("org.freedesktop.login1.OperationInProgress"),
                           QStringLiteral("There's already a shutdown or sleep operation in progress"));
            return;
        }
        announce(true);
        QTimer::singleShot(resumeAfterMs.load(), this, [this] { announce(false); });
    }

private:
    void announce(bool start)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << start;
        QDBusConnection(QStringLiteral("daemon")).send(signal);
    }
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

// The kernel's list of clocks, as a folder of the test's: one clock that can raise wake alarms, or none.
std::unique_ptr<QTemporaryDir> RtcClass(bool wakeCapable)
{
    auto folder = std::make_unique<QTemporaryDir>();
    QDir(folder->path()).mkpath(QStringLiteral("rtc0"));
    WriteFileBytes(folder->filePath(wakeCapable ? QStringLiteral("rtc0/wakealarm") : QStringLiteral("rtc0/name")),
                   "\n");
    return folder;
}

// Runs the detection in a child process whose effective capabilities lack CAP_WAKE_ALARM (the parent may
// hold it as root), and reads its answer back.
std::optional<WakeStatus> DetectWithoutWakeCapability(const WakeOptions& options)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        int answer[3] = {-1, -1, -1};
        if (::syscall(SYS_capget, &header, data) == 0) {
            data[CAP_TO_INDEX(CAP_WAKE_ALARM)].effective &= ~CAP_TO_MASK(CAP_WAKE_ALARM);
            if (::syscall(SYS_capset, &header, data) == 0) {
                const WakeStatus status = DetectLinuxWakeStatus(options);
                answer[0] = int(status.path);
                answer[1] = int(status.works);
                answer[2] = int(status.reason);
            }
        }
        [[maybe_unused]] const ssize_t written = ::write(channel[1], answer, sizeof answer);
        ::_exit(0);
    }
    ::close(channel[1]);
    int answer[3] = {-1, -1, -1};
    const ssize_t got = ::read(channel[0], answer, sizeof answer);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (got != sizeof answer || answer[0] < 0)
        return std::nullopt;
    return WakeStatus{WakePath(answer[0]), WakeAbility(answer[1]), WakeReason(answer[2])};
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

// Global, where QCOMPARE finds them.
static bool operator==(const WakeStatus& a, const WakeStatus& b)
{
    return a.path == b.path && a.works == b.works && a.reason == b.reason;
}

static char* toString(const WakeStatus& status)
{
    return qstrdup(QStringLiteral("%1 / %2 / %3")
                       .arg(QLatin1StringView(WakePathName(status.path)),
                            QLatin1StringView(WakeAbilityName(status.works)),
                            QLatin1StringView(WakeReasonText(status.reason)))
                       .toUtf8()
                       .constData());
}

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
    void aWakeUpArmedBeforeTheDaemonAnsweredIsRequestedThen();
    void aRequestReplacedBeforeTheDaemonAnsweredIsWithdrawn();
    void aWakeTimeInThePastIsNotRequested();
    void endingTheTimerWithdrawsItsRequest();

    void theStatusNamesTheKernelTimerWhenItMayBeSet();
    void withoutTheCapabilityTheStatusSaysWhy();
    void theStatusAsksThePowerDaemonWhetherItCanWake();
    void aSleepTrialWakesOnTheKernelTimerAndReportsTheReturn();
    void aSleepTrialTheSystemRefusesIsReported();

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
    // The private bus stands for the system bus too, where the sleep trial finds logind.
    if (!m_bus->address().isEmpty())
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus->address().toUtf8());
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
    QTRY_COMPARE_WITH_TIMEOUT(timer.Path(), detected, kWaitMs);
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
    QTRY_COMPARE_WITH_TIMEOUT(timer.Path(), WakePath::PowerDaemon, kWaitMs);
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
    // A question asked after the timer's is answered after it; the event loop then delivers both.
    QCOMPARE(DetectWakePath(daemonOnly()), WakePath::None);
    QCoreApplication::processEvents();
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
    QTRY_COMPARE_WITH_TIMEOUT(timer.Path(), WakePath::PowerDaemon, kWaitMs);

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

void TestWakeTimer::aWakeUpArmedBeforeTheDaemonAnsweredIsRequestedThen()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    auto* daemon = new FakePowerDaemon;
    QVERIFY(startDaemon(daemon));
    // No event loop runs between these: the daemon has not said yet that it takes wake-ups.
    LinuxWakeTimer timer(daemonOnly());
    QCOMPARE(timer.Path(), WakePath::None);
    const WallTime due = std::chrono::system_clock::now() + 2h;
    QVERIFY(timer.Arm(std::chrono::system_clock::now() + 1h));
    QVERIFY(timer.Arm(due));
    QTRY_COMPARE_WITH_TIMEOUT(timer.Path(), WakePath::PowerDaemon, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(daemon->active().size(), size_t(1), kWaitMs);
    QCOMPARE(daemon->active().begin()->second, Seconds(due));
    QCOMPARE(daemon->requests(), 1); // only the wake-up that stands
}

void TestWakeTimer::aRequestReplacedBeforeTheDaemonAnsweredIsWithdrawn()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    auto* daemon = new FakePowerDaemon;
    QVERIFY(startDaemon(daemon));
    LinuxWakeTimer timer(daemonOnly());
    QTRY_COMPARE_WITH_TIMEOUT(timer.Path(), WakePath::PowerDaemon, kWaitMs);
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
    QTRY_COMPARE_WITH_TIMEOUT(timer.Path(), WakePath::PowerDaemon, kWaitMs);
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
        QTRY_COMPARE_WITH_TIMEOUT(answered.Path(), WakePath::PowerDaemon, kWaitMs);
        QVERIFY(answered.Arm(std::chrono::system_clock::now() + 1h));
        QTRY_VERIFY_WITH_TIMEOUT(answered.RequestedWake().has_value(), kWaitMs);
        // Still unanswered when the timer ends.
        LinuxWakeTimer pending(daemonOnly());
        QTRY_COMPARE_WITH_TIMEOUT(pending.Path(), WakePath::PowerDaemon, kWaitMs);
        QVERIFY(pending.Arm(std::chrono::system_clock::now() + 2h));
    }
    QCOMPARE(daemon->requests(), 2);
    QCOMPARE(daemon->active().size(), size_t(0));
}

void TestWakeTimer::theStatusNamesTheKernelTimerWhenItMayBeSet()
{
    if (!KernelAllowsAlarmTimers())
        QSKIP("this process may not create alarm timers (no CAP_WAKE_ALARM); run the tests as root");
    WakeOptions options;
    options.usePowerDaemon = false;
    const auto wakeClock = RtcClass(true);
    options.rtcClassFolder = wakeClock->path();
    QCOMPARE(DetectLinuxWakeStatus(options),
             (WakeStatus{WakePath::RealtimeAlarm, WakeAbility::Yes, WakeReason::CapabilityHeld}));
    // Allowed to set the timer, but nothing to raise it: the computer sleeps on.
    const auto plainClock = RtcClass(false);
    options.rtcClassFolder = plainClock->path();
    QCOMPARE(DetectLinuxWakeStatus(options),
             (WakeStatus{WakePath::RealtimeAlarm, WakeAbility::No, WakeReason::NoWakeClock}));
}

void TestWakeTimer::withoutTheCapabilityTheStatusSaysWhy()
{
    WakeOptions options;
    options.usePowerDaemon = false;
    const auto wakeClock = RtcClass(true);
    options.rtcClassFolder = wakeClock->path();
    const std::optional<WakeStatus> status = DetectWithoutWakeCapability(options);
    QVERIFY(status);
    QCOMPARE(*status, (WakeStatus{WakePath::None, WakeAbility::No, WakeReason::NoCapability}));
    QVERIFY(QByteArray(WakeReasonText(status->reason)).startsWith("no CAP_WAKE_ALARM: run as root"));
    // With neither the right nor a clock, the clock is what no setting can change.
    const auto plainClock = RtcClass(false);
    options.rtcClassFolder = plainClock->path();
    QCOMPARE(*DetectWithoutWakeCapability(options),
             (WakeStatus{WakePath::None, WakeAbility::No, WakeReason::NoWakeClock}));
}

void TestWakeTimer::theStatusAsksThePowerDaemonWhetherItCanWake()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    stopDaemon();
    WakeOptions options = daemonOnly();
    const auto wakeClock = RtcClass(true);
    options.rtcClassFolder = wakeClock->path();
    QCOMPARE(DetectLinuxWakeStatus(options), (WakeStatus{WakePath::None, WakeAbility::No, WakeReason::NoCapability}));

    QVERIFY(startDaemon(new FakePowerDaemon));
    // The stand-in lives in this process: whether it may set wake alarms is whether this process may.
    const WakeStatus expected =
        KernelAllowsAlarmTimers()
            ? WakeStatus{WakePath::PowerDaemon, WakeAbility::Yes, WakeReason::DaemonCanWake}
            : WakeStatus{WakePath::PowerDaemon, WakeAbility::No, WakeReason::DaemonLacksCapability};
    QCOMPARE(DetectLinuxWakeStatus(options), expected);
    const auto plainClock = RtcClass(false);
    options.rtcClassFolder = plainClock->path();
    QCOMPARE(DetectLinuxWakeStatus(options),
             (WakeStatus{WakePath::PowerDaemon, WakeAbility::No, WakeReason::NoWakeClock}));

    QVERIFY(startDaemon(new OldPowerDaemon));
    options.rtcClassFolder = wakeClock->path();
    QCOMPARE(DetectLinuxWakeStatus(options), (WakeStatus{WakePath::None, WakeAbility::No, WakeReason::NoCapability}));
}

void TestWakeTimer::aSleepTrialWakesOnTheKernelTimerAndReportsTheReturn()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    auto* logind = new FakeLogind;
    logind->resumeAfterMs = 1500;
    logind->moveToThread(&m_daemonThread);
    QDBusConnection bus(QStringLiteral("daemon"));
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), logind, QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    const auto cleanup = qScopeGuard([&bus, logind] {
        bus.unregisterService(QStringLiteral("org.freedesktop.login1"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        QMetaObject::invokeMethod(logind, &QObject::deleteLater);
    });

    WakeOptions wake;
    wake.usePowerDaemon = false;
    const auto wakeClock = RtcClass(true);
    wake.rtcClassFolder = wakeClock->path();
    const WallTime wakeAt = std::chrono::system_clock::now() + 1500ms;
    bool asleep = false;
    std::optional<WallTime> armedWhileAsleep;
    std::optional<WallTime> back;
    std::string failure;
    std::unique_ptr<LinuxSleepTrial> trial;
    SleepTrialEvents events;
    events.asleep = [&] {
        asleep = true;
        armedWhileAsleep = trial->Wake().RequestedWake();
    };
    events.resumed = [&](WallTime at, std::chrono::milliseconds slept) {
        back = at;
        QVERIFY(slept >= 0ms); // nothing slept for real here
    };
    events.failed = [&](const std::string& why) { failure = why; };
    trial = std::make_unique<LinuxSleepTrial>(wakeAt, events, wake); // on the system bus, as the program does

    QTRY_VERIFY_WITH_TIMEOUT(back.has_value() || !failure.empty(), kWaitMs);
    QVERIFY2(failure.empty(), failure.c_str());
    QVERIFY(asleep);
    QCOMPARE(logind->suspends.load(), 1);
    if (trial->Wake().Path() == WakePath::RealtimeAlarm) {
        QVERIFY(armedWhileAsleep);
        QVERIFY(std::chrono::abs(*armedWhileAsleep - wakeAt) < 1s);
    }
    const auto ms = [](WallTime t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    };
    QCOMPARE(JudgeWakeTest(QDateTime::fromMSecsSinceEpoch(ms(wakeAt), Qt::UTC),
                           QDateTime::fromMSecsSinceEpoch(ms(*back), Qt::UTC))
                 .outcome,
             WakeTestVerdict::Outcome::WokeByItself);
    QVERIFY(!trial->Wake().RequestedWake()); // back: the wake-up is withdrawn
}

void TestWakeTimer::aSleepTrialTheSystemRefusesIsReported()
{
    if (m_bus->address().isEmpty())
        QSKIP("dbus-daemon is not installed");
    std::string failure;
    SleepTrialEvents events;
    events.resumed = [](WallTime, std::chrono::milliseconds) { QFAIL("a refused sleep has no return"); };
    events.failed = [&failure](const std::string& why) { failure = why; };
    {
        // Nobody answers for logind.
        LinuxSleepTrial trial(std::chrono::system_clock::now() + 1min, events);
        QTRY_VERIFY_WITH_TIMEOUT(!failure.empty(), kWaitMs);
    }
    auto* logind = new FakeLogind;
    logind->refuse = true;
    logind->moveToThread(&m_daemonThread);
    QDBusConnection bus(QStringLiteral("daemon"));
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), logind, QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    const auto cleanup = qScopeGuard([&bus, logind] {
        bus.unregisterService(QStringLiteral("org.freedesktop.login1"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        QMetaObject::invokeMethod(logind, &QObject::deleteLater);
    });
    failure.clear();
    LinuxSleepTrial trial(std::chrono::system_clock::now() + 1min, events);
    QTRY_VERIFY_WITH_TIMEOUT(!failure.empty(), kWaitMs);
    QCOMPARE(failure, std::string("There's already a shutdown or sleep operation in progress"));
    QVERIFY(!trial.Wake().RequestedWake());
}

QTEST_GUILESS_MAIN(TestWakeTimer)
#include "tst_waketimer.moc"

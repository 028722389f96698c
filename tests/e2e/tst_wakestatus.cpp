// larkbell --wake-status, run as a real process the way a user or a script runs it: as root, as a plain user
// with and without the capability on the executable, with the capability taken away, and with a power
// daemon of another process on the session bus. No display, no running copy.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

namespace {

constexpr int kRunTimeoutMs = 20000;

struct Outcome {
    int exitCode = -1;
    QString output;
};

// The program needs no display for this and must not find one: a test machine's desktop would hide a
// program that wrongly opens a window.
QProcessEnvironment BareEnvironment(const QString& rtcFolder)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
        env.remove(QLatin1String(name));
    if (!rtcFolder.isEmpty())
        env.insert(QStringLiteral("LARKBELL_TEST_RTC_FOLDER"), rtcFolder);
    return env;
}

Outcome Run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(kRunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput())};
}

// Runs the program as the unprivileged user nobody, with no capabilities but what the file grants.
QStringList AsNobody(const QString& exe)
{
    return {QStringLiteral("--reuid=nobody"),
            QStringLiteral("--regid=nogroup"),
            QStringLiteral("--clear-groups"),
            QStringLiteral("--"),
            exe,
            QStringLiteral("--wake-status")};
}

// A message bus that every user may connect to, standing for a session's bus.
class OpenBus final
{
public:
    explicit OpenBus(const QString& folder)
    {
        const QString config = folder + QStringLiteral("/bus.conf");
        WriteFileBytes(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                               "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                               "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                               "<allow own=\"*\"/></policy></busconfig>\n");
        m_process.start(QStringLiteral("dbus-daemon"),
                        {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                         QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!m_process.waitForStarted(kRunTimeoutMs))
            return;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(kRunTimeoutMs)) {
        }
        m_address = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~OpenBus()
    {
        m_process.terminate();
        m_process.waitForFinished(kRunTimeoutMs);
    }
    QString address() const { return m_address; }

private:
    QProcess m_process;
    QString m_address;
};

// The stand-in power daemon in a process of its own; `launcher` may take capabilities away from it.
class PowerDaemonProcess final
{
public:
    PowerDaemonProcess(const QString& busAddress, const QStringList& launcher)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList command = launcher + QStringList{QStringLiteral(WAKE_STANDIN)};
        m_process.start(command.first(), command.mid(1));
        if (m_process.waitForStarted(kRunTimeoutMs)) {
            while (!m_process.canReadLine() && m_process.waitForReadyRead(kRunTimeoutMs)) {
            }
            m_ready = m_process.readLine().trimmed() == "ready";
        }
    }
    ~PowerDaemonProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(kRunTimeoutMs))
            m_process.kill();
    }
    bool ready() const { return m_ready; }

private:
    QProcess m_process;
    bool m_ready = false;
};

} // namespace

class TestWakeStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reportsThisMachine();
    void rootWakesThroughTheKernelTimer();
    void withoutTheCapabilityNothingWakes();
    void aPlainUserWakesOnlyWithTheCapabilityOnTheFile();
    void aPowerDaemonWakesWhenItHoldsTheCapability();

private:
    bool m_root = false;
    QTemporaryDir m_folder; // the fake clocks and the copy of the program, open to every user
    QString m_rtc;
    QString m_copy;
};

void TestWakeStatus::initTestCase()
{
    m_root = ::geteuid() == 0;
    QVERIFY(m_folder.isValid());
    QFile::setPermissions(m_folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                               QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    m_rtc = m_folder.filePath(QStringLiteral("rtc"));
    QVERIFY(QDir().mkpath(m_rtc + QStringLiteral("/rtc0")));
    WriteFileBytes(m_rtc + QStringLiteral("/rtc0/wakealarm"), "\n"); // a clock that can raise wake alarms
    m_copy = m_folder.filePath(QStringLiteral("larkbell"));
    QVERIFY(QFile::copy(QStringLiteral(LARKBELL_EXE), m_copy));
}

void TestWakeStatus::reportsThisMachine()
{
    // What this machine really offers: whatever it is, the exit code agrees with what is printed.
    const Outcome outcome = Run(QStringLiteral(LARKBELL_EXE), {QStringLiteral("--wake-status")}, BareEnvironment({}));
    qInfo("%s", qPrintable(outcome.output.trimmed()));
    QVERIFY(outcome.output.startsWith(QStringLiteral("wake path: ")));
    QCOMPARE(outcome.exitCode, outcome.output.contains(QStringLiteral("\ncan wake: yes\n")) ? 0 : 1);
}

void TestWakeStatus::rootWakesThroughTheKernelTimer()
{
    if (!m_root)
        QSKIP("needs root");
    const Outcome outcome = Run(QStringLiteral(LARKBELL_EXE), {QStringLiteral("-wake-status")}, BareEnvironment(m_rtc));
    QCOMPARE(outcome.output, QStringLiteral("wake path: real-time alarm\ncan wake: yes\nreason: CAP_WAKE_ALARM held "
                                            "and a real-time clock can raise wake alarms\n"));
    QCOMPARE(outcome.exitCode, 0);
}

void TestWakeStatus::withoutTheCapabilityNothingWakes()
{
    if (!m_root || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("needs root and setpriv");
    const Outcome outcome = Run(QStringLiteral("setpriv"),
                                {QStringLiteral("--inh-caps=-all"), QStringLiteral("--bounding-set=-wake_alarm"),
                                 QStringLiteral("--"), QStringLiteral(LARKBELL_EXE), QStringLiteral("--wake-status")},
                                BareEnvironment(m_rtc));
    QCOMPARE(outcome.output, QStringLiteral("wake path: none\ncan wake: no\nreason: no CAP_WAKE_ALARM: run as root, "
                                            "install the package, or log in on a local seat with systemd 254+\n"));
    QCOMPARE(outcome.exitCode, 1);
}

void TestWakeStatus::aPlainUserWakesOnlyWithTheCapabilityOnTheFile()
{
    if (!m_root || QStandardPaths::findExecutable(QStringLiteral("setcap")).isEmpty())
        QSKIP("needs root, setpriv and setcap");
    Outcome outcome = Run(QStringLiteral("setpriv"), AsNobody(m_copy), BareEnvironment(m_rtc));
    QVERIFY2(outcome.output.startsWith(QStringLiteral("wake path: none\ncan wake: no\nreason: no CAP_WAKE_ALARM")),
             qPrintable(outcome.output));
    QCOMPARE(outcome.exitCode, 1);

    // What the package does on installation.
    QCOMPARE(QProcess::execute(QStringLiteral("setcap"), {QStringLiteral("cap_wake_alarm+ep"), m_copy}), 0);
    outcome = Run(QStringLiteral("setpriv"), AsNobody(m_copy), BareEnvironment(m_rtc));
    QVERIFY2(outcome.output.startsWith(QStringLiteral("wake path: real-time alarm\ncan wake: yes\n")),
             qPrintable(outcome.output));
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(QProcess::execute(QStringLiteral("setcap"), {QStringLiteral("-r"), m_copy}), 0);
}

void TestWakeStatus::aPowerDaemonWakesWhenItHoldsTheCapability()
{
    if (!m_root || QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("needs root, setpriv and dbus-daemon");
    OpenBus bus(m_folder.path());
    QVERIFY(!bus.address().isEmpty());
    QProcessEnvironment env = BareEnvironment(m_rtc);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    {
        const PowerDaemonProcess daemon(bus.address(), {});
        QVERIFY(daemon.ready());
        const Outcome outcome = Run(QStringLiteral("setpriv"), AsNobody(m_copy), env);
        QCOMPARE(outcome.output, QStringLiteral("wake path: power daemon\ncan wake: yes\n"
                                                "reason: the power daemon holds CAP_WAKE_ALARM\n"));
        QCOMPARE(outcome.exitCode, 0);
    }
    {
        // A daemon as shipped without the right to set wake alarms takes requests it cannot keep.
        const PowerDaemonProcess daemon(bus.address(),
                                        {QStringLiteral("setpriv"), QStringLiteral("--inh-caps=-all"),
                                         QStringLiteral("--bounding-set=-wake_alarm"), QStringLiteral("--")});
        QVERIFY(daemon.ready());
        const Outcome outcome = Run(QStringLiteral("setpriv"), AsNobody(m_copy), env);
        QCOMPARE(outcome.output, QStringLiteral("wake path: power daemon\ncan wake: no\nreason: the power daemon "
                                                "takes wake-up requests but lacks CAP_WAKE_ALARM\n"));
        QCOMPARE(outcome.exitCode, 1);
    }
}

QTEST_GUILESS_MAIN(TestWakeStatus)
#include "tst_wakestatus.moc"

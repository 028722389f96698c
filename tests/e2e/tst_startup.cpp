// The real program, started the way users and the session start it, on its own data folder.
#include "PulseTestServer.h"
#include "TestSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kStartTimeoutMs = 15000;

class Program
{
public:
    Program(const QString& exe, const QString& dataDir)
        : m_exe(exe)
        , m_dataDir(dataDir)
    {}

    QProcess* start(const QStringList& arguments)
    {
        auto* process = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LARKBELL_DATA_DIR"), m_dataDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (m_clockOffsetMs != 0)
            env.insert(QStringLiteral("LARKBELL_TEST_CLOCK_OFFSET_MS"), QString::number(m_clockOffsetMs));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(m_exe, arguments);
        m_processes.append(process);
        return process;
    }

    /** Copies started from now on run on a clock moved by offsetMs. */
    void setClockOffset(qint64 offsetMs) { m_clockOffsetMs = offsetMs; }

    /** Runs a copy to completion and returns its exit code. */
    int run(const QStringList& arguments)
    {
        QProcess* process = start(arguments);
        if (!process->waitForFinished(kStartTimeoutMs))
            return -1;
        return process->exitCode();
    }

    QString log() const { return QString::fromUtf8(readOrEmpty(m_dataDir + QStringLiteral("/Log.txt"))); }
    bool started() const { return log().contains(QStringLiteral("Tray icon shown")); }

    QStringList savedAlarms() const
    {
        TAppIni ini(m_dataDir, QString());
        ini.SetFileName(m_dataDir + QStringLiteral("/Data.ini"));
        return ini.ReadList(Settings::Alarms);
    }

    ~Program()
    {
        for (QProcess* process : std::as_const(m_processes)) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
            delete process;
        }
    }

private:
    static QByteArray readOrEmpty(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    qint64 m_clockOffsetMs = 0;
    QString m_exe;
    QString m_dataDir;
    QList<QProcess*> m_processes;
};

QString exePath()
{
    return QStringLiteral(LARKBELL_EXE);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWritesTheFirstAlarmAndCloseEndsTheCopy();
    void secondStartHandsOverAndEnds();
    void aSecondDebugStartKeepsTheRunningCopysLog();
    void terminateSignalSavesAndEnds();
    void copyInAnotherFolderRunsAlongside();
    void alarmDueNextMinuteRingsAndDisablesItself();
};

void TestStartup::firstStartWritesTheFirstAlarmAndCloseEndsTheCopy()
{
    QTemporaryDir data;
    Program program(exePath(), data.path());
    QProcess* first = program.start({QStringLiteral("-debug"), QStringLiteral("/AutoRun")});
    QTRY_VERIFY_WITH_TIMEOUT(program.started(), kStartTimeoutMs);
    const QStringList alarms = program.savedAlarms();
    QCOMPARE(alarms.size(), 1);
    const AlarmRecord alarm = ParseAlarmString(alarms.first());
    QCOMPARE(alarm.Time, QTime(9, 0));
    QCOMPARE(alarm.Label, QStringLiteral("Good morning!"));
    TAppIni ini(data.path(), QString());
    ini.SetFileName(data.filePath(QStringLiteral("Data.ini")));
    QVERIFY(ini.Read(Settings::FirstStarted));

    QCOMPARE(program.run({QStringLiteral("-CLOSE")}), 0);
    QVERIFY(first->waitForFinished(kStartTimeoutMs));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QVERIFY(program.log().contains(QStringLiteral("Exit")));
    QCOMPARE(program.savedAlarms(), alarms);
}

void TestStartup::secondStartHandsOverAndEnds()
{
    QTemporaryDir data;
    Program program(exePath(), data.path());
    QProcess* first = program.start({QStringLiteral("-debug"), QStringLiteral("-autorun")});
    QTRY_VERIFY_WITH_TIMEOUT(program.started(), kStartTimeoutMs);
    QCOMPARE(program.run({}), 0);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(program.log().count(QStringLiteral("Tray icon shown")), 1);
    QCOMPARE(program.run({QStringLiteral("-close")}), 0);
    QVERIFY(first->waitForFinished(kStartTimeoutMs));
}

void TestStartup::aSecondDebugStartKeepsTheRunningCopysLog()
{
    QTemporaryDir data;
    Program program(exePath(), data.path());
    QProcess* first = program.start({QStringLiteral("-debug"), QStringLiteral("-autorun")});
    QTRY_VERIFY_WITH_TIMEOUT(program.started(), kStartTimeoutMs);
    const QString before = program.log();
    // The second copy only learns at the claim that a copy runs: by then it must not have touched the log.
    QCOMPARE(program.run({QStringLiteral("-debug")}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(program.log().contains(QStringLiteral("Request from another copy: 1425")),
                             kStartTimeoutMs);
    QVERIFY2(program.log().startsWith(before), qPrintable(program.log()));
    QCOMPARE(program.log().count(QStringLiteral("Start: ")), 1);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(program.run({QStringLiteral("-close")}), 0);
    QVERIFY(first->waitForFinished(kStartTimeoutMs));
}

void TestStartup::terminateSignalSavesAndEnds()
{
    QTemporaryDir data;
    Program program(exePath(), data.path());
    QProcess* first = program.start({QStringLiteral("-debug"), QStringLiteral("-autorun")});
    QTRY_VERIFY_WITH_TIMEOUT(program.started(), kStartTimeoutMs);
    first->terminate();
    QVERIFY(first->waitForFinished(kStartTimeoutMs));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QVERIFY(program.log().contains(QStringLiteral("Exit")));
}

void TestStartup::copyInAnotherFolderRunsAlongside()
{
    QTemporaryDir copyFolder;
    const QString copy = copyFolder.filePath(QStringLiteral("larkbell"));
    QVERIFY(QFile::copy(exePath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(exePath())));
    QTemporaryDir dataA;
    QTemporaryDir dataB;
    Program original(exePath(), dataA.path());
    Program other(copy, dataB.path());
    QProcess* a = original.start({QStringLiteral("-debug"), QStringLiteral("-autorun")});
    QProcess* b = other.start({QStringLiteral("-debug"), QStringLiteral("-autorun")});
    QTRY_VERIFY_WITH_TIMEOUT(original.started() && other.started(), kStartTimeoutMs);
    QCOMPARE(a->state(), QProcess::Running);
    QCOMPARE(b->state(), QProcess::Running);
    QCOMPARE(other.run({QStringLiteral("-close")}), 0);
    QVERIFY(b->waitForFinished(kStartTimeoutMs));
    QCOMPARE(a->state(), QProcess::Running);
    QCOMPARE(original.run({QStringLiteral("-close")}), 0);
    QVERIFY(a->waitForFinished(kStartTimeoutMs));
}

void TestStartup::alarmDueNextMinuteRingsAndDisablesItself()
{
    // A one-time alarm with a sound and a volume rings on a real sound server, a second start
    // dismisses it as OK does, and the system volume and mute come back as they were. The program
    // runs on a clock five seconds short of the alarm's minute, so the test does not wait for one.
    PulseTestServer pulse;
    QString why;
    QVERIFY2(pulse.Start(&why), qPrintable(why));
    QVERIFY(pulse.StartKeepAlive());
    QVERIFY(pulse.Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("40%")}));
    QVERIFY(pulse.Pactl({QStringLiteral("set-sink-mute"), PulseTestServer::SinkName(), QStringLiteral("1")}));
    SinkMonitor monitor;
    QVERIFY(monitor.Start());

    QTemporaryDir data;
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime shortOfTheAlarm(now.date(), QTime(12, 0).addSecs(-5));
    AlarmRecord alarm;
    alarm.Time = QTime(12, 0);
    alarm.Label = QStringLiteral("End to end");
    alarm.Sound = QStringLiteral("Birds");
    alarm.Volume = 90; // loud enough for the monitor's threshold after the sink's own volume
    alarm.MonitorOn = false;
    {
        TAppIni ini(data.path(), QString());
        ini.SetFileName(data.filePath(QStringLiteral("Data.ini")));
        ini.WriteList(Settings::Alarms, {BuildAlarmString(alarm)});
        ini.Write(Settings::FirstStarted, true);
    }
    Program program(exePath(), data.path());
    program.setClockOffset(now.msecsTo(shortOfTheAlarm));
    QProcess* running = program.start({QStringLiteral("-debug"), QStringLiteral("-autorun")});
    QTRY_VERIFY_WITH_TIMEOUT(program.started(), kStartTimeoutMs);
    monitor.Reset();
    QTRY_VERIFY_WITH_TIMEOUT(program.log().contains(QStringLiteral("Alarm fired")), 15000);
    qInfo().noquote() << "Firing:" << program.log().section(QStringLiteral("Alarm fired"), 1).section(u'\n', 0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(program.savedAlarms().value(0).mid(4, 1), QStringLiteral("0"), 5000);

    QTRY_VERIFY_WITH_TIMEOUT(!pulse.SinkMuted() && pulse.SinkVolumePercent() == 90, 5000);
    QVERIFY2(monitor.WaitForSound(5000) >= 0,
             qPrintable(QStringLiteral("no sound reached the sink\n") + program.log()));

    QCOMPARE(program.run({}), 0); // a second start dismisses the ringing alarm, like its OK button
    QTRY_VERIFY_WITH_TIMEOUT(pulse.SinkMuted() && pulse.SinkVolumePercent() == 40, 5000);
    QVERIFY(monitor.WaitForQuiet(500, 5000));
    QCOMPARE(running->state(), QProcess::Running);
    QCOMPARE(program.run({QStringLiteral("-close")}), 0);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"

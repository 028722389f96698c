// Alarms missed while the program was not running, as a user meets them: the program is killed before an
// alarm and started again after its time. A little late, the alarm rings and says when it was due; much
// later, a notification and a line above the list report it until the user acknowledges it, across restarts.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "ScreenReader.h"
#include "ShiftedClock.h"
#include "User.h"

#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLib.h"

#include <QLocale>
#include <QProcess>
#include <QTest>

#include <algorithm>

namespace {

constexpr qint64 kMinuteMs = 60 * 1000;
const QString kLabel = QStringLiteral("Good morning!");
const QString kMissedLine = QStringLiteral("Missed while the computer was off: ");

QString logOf(Program& program)
{
    return QStringLiteral("\n--- Log.txt\n") + program.LogText();
}

// The program's short time of day as an English-speaking user's desktop shows it.
QString shortTime(QTime time)
{
    return FormatShortTime(time, QLocale(QLocale::English, QLocale::UnitedStates));
}

ProgramSetup setupAt(const QStringList& alarms, qint64 offsetMs, bool autorun = true)
{
    ProgramSetup setup;
    setup.alarms = alarms;
    setup.clockOffsetMs = offsetMs;
    setup.autorun = autorun;
    setup.environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    setup.environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    return setup;
}

bool closeProgram(Program& program)
{
    program.RunSecondCopy({QStringLiteral("-close")}, 5000);
    if (program.WaitForExit(5000))
        return true;
    program.Kill();
    return false;
}

} // namespace

class TestMissedJourney : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString why;
        JOURNEY_VERIFY(
            Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, &m_tone, &why),
            qPrintable(why));
        m_readerReady = m_reader.Connect(m_desktop.BusAddress(), &m_readerWhy);
    }

    void cleanupTestCase()
    {
        if (m_busWatch.state() != QProcess::NotRunning) {
            m_busWatch.kill();
            m_busWatch.waitForFinished(2000);
        }
        m_desktop.Stop();
    }

    // Killed a minute before a daily 7:00 alarm, started again at 7:09: it rings at once, and the window
    // says it was due at 7:00.
    void insideTheLimitItRingsLate()
    {
        AlarmRecord alarm = Journey::Alarm(QTime(7, 0), m_tone, true, 60);
        alarm.Days = Journey::EveryDay();
        alarm.Label = kLabel;
        const ShiftedClock::Ring ring = ShiftedClock::PlanRing(alarm.Time, int(kMinuteMs));
        Program program(m_desktop, m_exe);
        runAndKill(program, {Journey::Stored(alarm)}, ring.offsetMs);

        const qint64 lateOffset = ring.offsetMs + 9 * kMinuteMs;
        QString why;
        JOURNEY_VERIFY(program.Start(setupAt({}, lateOffset), &why, true), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 5000),
                       qPrintable(QStringLiteral("the late alarm did not ring") + logOf(program)));
        JOURNEY_VERIFY(program.LogCount(QStringLiteral("Ringing late: 1")) == 1, qPrintable(logOf(program)));
        JOURNEY_VERIFY(program.LogCount(QStringLiteral("Missed alarms notice")) == 0, qPrintable(logOf(program)));
        const QString due = QStringLiteral("Due at ") + shortTime(alarm.Time);
        if (m_readerReady) {
            QStringList labels;
            const bool said = WaitUntil(
                [&] {
                    labels = m_reader.Names(QStringLiteral("Larkbell"), QStringLiteral("label"));
                    return std::any_of(labels.cbegin(), labels.cend(), [&](const QString& label) {
                        return label.contains(due) && label.contains(kLabel);
                    });
                },
                5000, 100);
            JOURNEY_VERIFY(said, qPrintable(QStringLiteral("the alarm window reads [%1], not \"%2\"")
                                                .arg(labels.join(QStringLiteral(" | ")), due)));
        } else {
            qInfo("the alarm window's text is not read: %s", qPrintable(m_readerWhy));
        }
        // A daily alarm stays on for tomorrow.
        const AlarmRecord saved = ParseAlarmString(program.SavedAlarms().value(0));
        QVERIFY(saved.Enabled);
        QVERIFY(!saved.Missed);
        closeProgram(program);
    }

    // Killed before a one-time 7:00 alarm, started again at 7:30: it does not ring; a notification and a line
    // in the main window report it, the alarm is switched off and marked, and the line stays across a restart
    // until the user acknowledges it.
    void outsideTheLimitItIsListed()
    {
        AlarmRecord alarm = Journey::Alarm(QTime(7, 0), m_tone, true, 60);
        alarm.Label = kLabel;
        const ShiftedClock::Ring ring = ShiftedClock::PlanRing(alarm.Time, int(kMinuteMs));
        Program program(m_desktop, m_exe);
        runAndKill(program, {Journey::Stored(alarm)}, ring.offsetMs);

        QString why;
        // Watches the calls to the notification server, as the server itself receives them.
        m_busWatch.setProcessEnvironment(m_desktop.SessionEnvironment());
        DieWithTest(m_busWatch);
        m_busWatch.start(
            QStringLiteral("dbus-monitor"),
            {QStringLiteral("--session"), QStringLiteral("interface='org.freedesktop.Notifications',member='Notify'")});
        JOURNEY_VERIFY(m_busWatch.waitForStarted(5000), "dbus-monitor did not start");
        // It says it is on the bus before it reports anything else.
        JOURNEY_VERIFY(WaitUntil(
                           [&] {
                               m_notified += QString::fromUtf8(m_busWatch.readAllStandardOutput());
                               return !m_notified.isEmpty();
                           },
                           5000, 20),
                       "dbus-monitor reports nothing");
        const qint64 lateOffset = ring.offsetMs + 30 * kMinuteMs;
        JOURNEY_VERIFY(program.Start(setupAt({}, lateOffset, false), &why, true), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(program.WaitForLog(QStringLiteral("Missed alarms notice"), 1, 5000),
                       qPrintable(QStringLiteral("no notice of the missed alarm") + logOf(program)));
        const QString line = kMissedLine +
                             QLocale(QLocale::English).dayName(ring.date.dayOfWeek(), QLocale::ShortFormat) + u' ' +
                             shortTime(alarm.Time) + u' ' + kLabel;

        // The notification went to the desktop's notification server with the line.
        JOURNEY_VERIFY(WaitUntil(
                           [&] {
                               m_notified += QString::fromUtf8(m_busWatch.readAllStandardOutput());
                               return m_notified.contains(line);
                           },
                           5000, 50),
                       qPrintable(QStringLiteral("no notification says \"%1\"").arg(line) + logOf(program)));

        // Nothing rang, the alarm is off and marked, the list of missed ones saved.
        QVERIFY(!program.Find(WindowKind::Alarm));
        QCOMPARE(program.LogCount(QStringLiteral("Alarm fired")), 0);
        QCOMPARE(program.LogCount(QStringLiteral("Ringing late")), 0);
        const AlarmRecord saved = ParseAlarmString(program.SavedAlarms().value(0));
        QVERIFY(!saved.Enabled);
        QVERIFY(saved.Missed);
        QCOMPARE(program.SavedValue(QStringLiteral("MissedAlarmsListCount")),
                 std::optional<QString>(QStringLiteral("1")));
        JOURNEY_VERIFY(mainWindowSays(program, line), qPrintable(m_lastRead));

        // A restart keeps the line and does not notify again.
        JOURNEY_VERIFY(closeProgram(program), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(program.Start(setupAt({}, lateOffset + kMinuteMs, false), &why, true), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(mainWindowSays(program, line), qPrintable(m_lastRead));
        QCOMPARE(program.LogCount(QStringLiteral("Missed alarms notice")), 0);

        // Got it, from the keyboard: the line goes, in the window and in the file, and stays gone.
        XWindow main;
        JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Main, 5000, &main), "no main window");
        User user(program);
        JOURNEY_VERIFY(user.KeysTo(main, QStringLiteral("alt+g")), qPrintable(user.LastError()));
        JOURNEY_VERIFY(WaitUntil(
                           [&] {
                               return program.SavedValue(QStringLiteral("MissedAlarmsListCount")) ==
                                      std::optional<QString>(QStringLiteral("0"));
                           },
                           5000, 50),
                       "Got it did not clear the list");
        if (m_readerReady)
            JOURNEY_VERIFY(WaitUntil([&] { return !mainWindowSays(program, line, 0); }, 5000, 100), "the line stays");
        JOURNEY_VERIFY(closeProgram(program), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(program.Start(setupAt({}, lateOffset + 2 * kMinuteMs, false), &why, true), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        if (m_readerReady)
            QVERIFY(!mainWindowSays(program, line, 2000));
        QCOMPARE(program.SavedValue(QStringLiteral("MissedAlarmsListCount")),
                 std::optional<QString>(QStringLiteral("0")));
        // Switching the alarm on again takes its mark away.
        JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Main, 5000, &main), "no main window");
        JOURNEY_VERIFY(user.KeysTo(main, QStringLiteral("ctrl+e")), qPrintable(user.LastError()));
        JOURNEY_VERIFY(WaitUntil(
                           [&] {
                               const AlarmRecord on = ParseAlarmString(program.SavedAlarms().value(0));
                               return on.Enabled && !on.Missed;
                           },
                           5000, 50),
                       "switching the alarm on kept its missed mark");
        closeProgram(program);
    }

private:
    // Runs the program with its clock a minute before the alarm until it has noted that it runs, then kills it.
    void runAndKill(Program& program, const QStringList& alarms, qint64 offsetMs)
    {
        QString why;
        JOURNEY_VERIFY(program.Start(setupAt(alarms, offsetMs), &why), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(
            WaitUntil([&] { return program.SavedValue(QStringLiteral("LastRunTime")).has_value(); }, 5000, 20),
            qPrintable(QStringLiteral("the run was never noted") + logOf(program)));
        program.Kill();
        QVERIFY(!program.Running());
        QCOMPARE(program.LogCount(QStringLiteral("Alarm fired")), 0);
    }

    // The main window reads the line within timeoutMs (0: now).
    bool mainWindowSays(Program& program, const QString& line, int timeoutMs = 5000)
    {
        if (!m_readerReady) {
            qInfo("the main window's text is not read: %s", qPrintable(m_readerWhy));
            return timeoutMs > 0;
        }
        QStringList labels;
        const auto says = [&] {
            // The main window's title is its clock: read under the title it has now.
            const std::optional<XWindow> main = program.Find(WindowKind::Main);
            labels = main ? m_reader.Names(main->title, QStringLiteral("label")) : QStringList();
            return std::any_of(labels.cbegin(), labels.cend(),
                               [&](const QString& label) { return label.contains(line); });
        };
        const bool found = timeoutMs > 0 ? WaitUntil(says, timeoutMs, 100) : says();
        m_lastRead = QStringLiteral("the main window reads [%1], looking for \"%2\"")
                         .arg(labels.join(QStringLiteral(" | ")), line);
        return found;
    }

    Desktop m_desktop;
    QString m_exe;
    QString m_tone;
    ScreenReader m_reader;
    bool m_readerReady = false;
    QString m_readerWhy;
    QString m_lastRead;
    QProcess m_busWatch;
    QString m_notified;
};

QTEST_GUILESS_MAIN(TestMissedJourney)
#include "tst_missed.moc"

// What the user is told about waking the computer, on a real desktop: the program finds out after it
// starts, and the alarm editor the user opens with Ctrl+N says whether this computer will wake up for
// the alarm, read the way a screen reader reads it.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "ScreenReader.h"
#include "TestSupport.h"
#include "User.h"

#include <QDir>
#include <QTest>

#include <unistd.h>

namespace {

QString logOf(Program& program)
{
    return QStringLiteral("\n--- Log.txt\n") + program.LogText();
}

} // namespace

class TestWakeJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void theEditorSaysWhetherTheComputerWakes_data();
    void theEditorSaysWhetherTheComputerWakes();

private:
    Desktop m_desktop;
    QString m_exe;
};

void TestWakeJourneys::initTestCase()
{
    QString why;
    JOURNEY_VERIFY(Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, nullptr, &why),
                   qPrintable(why));
}

void TestWakeJourneys::cleanupTestCase()
{
    m_desktop.Stop();
}

void TestWakeJourneys::theEditorSaysWhetherTheComputerWakes_data()
{
    QTest::addColumn<bool>("wakeClock");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("told");
    // The program runs as root here: it may set kernel wake alarms, and the clock decides.
    QTest::newRow("a clock that can wake") << true << QStringLiteral("Wake path: real-time alarm; can wake: yes")
                                           << QStringLiteral("This computer will wake up for this alarm.");
    QTest::newRow("no such clock") << false << QStringLiteral("Wake path: real-time alarm; can wake: no")
                                   << QStringLiteral("This computer will not wake up for this alarm: no clock of this "
                                                     "computer can wake it.");
}

void TestWakeJourneys::theEditorSaysWhetherTheComputerWakes()
{
    QFETCH(bool, wakeClock);
    QFETCH(QString, logged);
    QFETCH(QString, told);
    if (::geteuid() != 0)
        QSKIP("the program must be allowed to set wake alarms: run the journeys as root");
    ScreenReader reader;
    QString why;
    if (!reader.Connect(m_desktop.BusAddress(), &why))
        QSKIP(qPrintable(why));

    // The machine's clocks cannot be chosen; the program is shown a folder of the test's instead.
    const QString clocks =
        m_desktop.Scratch() + (wakeClock ? QStringLiteral("/rtc-wake") : QStringLiteral("/rtc-none"));
    QVERIFY(QDir().mkpath(clocks + QStringLiteral("/rtc0")));
    if (wakeClock)
        WriteFileBytes(clocks + QStringLiteral("/rtc0/wakealarm"), "\n");

    AlarmRecord alarm = Journey::Alarm(QTime(7, 0), QString());
    alarm.WakeUp = true;
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(alarm)};
    setup.environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    setup.environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    setup.environment.insert(QStringLiteral("LARKBELL_TEST_RTC_FOLDER"), clocks);
    Program program(m_desktop, m_exe);
    User user(program);
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(program.WaitForLog(logged, 1, 10000), qPrintable(logOf(program)));

    XWindow main;
    JOURNEY_VERIFY(user.OpenMainWindowFromTray(&main), qPrintable(user.LastError()));
    JOURNEY_VERIFY(user.KeysTo(main, QStringLiteral("ctrl+n")) && program.WaitForWindow(WindowKind::Editor, 3000),
                   qPrintable(user.LastError() + program.Diagnostics()));
    QStringList labels;
    WaitUntil(
        [&] {
            labels = reader.Names(QStringLiteral("Alarm"), QStringLiteral("label"));
            return labels.contains(told);
        },
        5000, 100);
    JOURNEY_VERIFY(labels.contains(told),
                   qPrintable(QStringLiteral("the editor's labels read [%1]").arg(labels.join(QStringLiteral(" | ")))));

    JOURNEY_VERIFY(user.Keys(QStringLiteral("Escape")) && program.WaitForNoWindow(WindowKind::Editor, 3000),
                   qPrintable(user.LastError() + program.Diagnostics()));
    JOURNEY_VERIFY(user.OpenTrayMenu() && user.ChooseLastItem() && program.WaitForExit(5000),
                   qPrintable(user.LastError() + program.Diagnostics()));
}

QTEST_GUILESS_MAIN(TestWakeJourneys)
#include "tst_wake.moc"

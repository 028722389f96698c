// Skipping the next time of a repeating alarm from the tray menu, on a real desktop: the skip is saved
// and kept over a restart, the skipped minute passes without a ring, and the following day is armed.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "ShiftedClock.h"
#include "User.h"

#include <QTest>

namespace {

// Long enough to open the tray menu and restart the program once before the alarm's minute.
constexpr int kLeadMs = 25000;
// How long after the skipped minute the program is watched for a ring.
constexpr int kQuietAfterMs = 4000;

QString logOf(Program& program)
{
    return QStringLiteral("\n--- Log.txt\n") + program.LogText();
}

QString armedFor(QDate date, QTime time)
{
    return QStringLiteral("Alarm timer armed for ") + date.toString(QStringLiteral("yyyy-MM-dd")) + u' ' +
           time.toString(QStringLiteral("HH:mm:ss"));
}

QDate savedSkip(const Program& program)
{
    return AlarmField::SkipDate(program.SavedAlarms().value(0));
}

} // namespace

class TestSkipJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void aSkippedTimeStaysQuietAndTheNextOneIsArmed();

private:
    bool restart(Program& program, const ProgramSetup& setup);

    Desktop m_desktop;
    QString m_exe;
    QString m_ringSound;
};

void TestSkipJourneys::initTestCase()
{
    QString why;
    JOURNEY_VERIFY(
        Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, &m_ringSound, &why),
        qPrintable(why));
}

void TestSkipJourneys::cleanupTestCase()
{
    m_desktop.Stop();
}

bool TestSkipJourneys::restart(Program& program, const ProgramSetup& setup)
{
    // Exit from the tray menu, as the user ends it; then started again on the same data folder.
    User user(program);
    if (!user.OpenTrayMenu() || !user.ChooseLastItem() || !program.WaitForExit(5000)) {
        qWarning("exit through the tray menu failed: %s", qPrintable(user.LastError()));
        return false;
    }
    QString why;
    if (!program.Start(setup, &why, true)) {
        qWarning("%s", qPrintable(why));
        return false;
    }
    return program.WaitUntilStarted();
}

void TestSkipJourneys::aSkippedTimeStaysQuietAndTheNextOneIsArmed()
{
    Program program(m_desktop, m_exe);
    User user(program);
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    const QDate tomorrow = ring.date.addDays(1);
    AlarmRecord alarm = Journey::Alarm(QTime(7, 0), m_ringSound);
    alarm.Days = Journey::EveryDay();
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(alarm)};
    setup.clockOffsetMs = ring.offsetMs;
    setup.environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(program.WaitForLog(armedFor(ring.date, ring.time), 1, 3000), qPrintable(logOf(program)));

    // The tray menu: Open, Run at startup, Add, then the skip of the alarm due first.
    JOURNEY_VERIFY(user.OpenTrayMenu(), qPrintable(user.LastError()));
    JOURNEY_VERIFY(user.Keys(QStringLiteral("Down Down Down Down Return")), qPrintable(user.LastError()));
    JOURNEY_VERIFY(program.WaitForLog(QStringLiteral("Skip of "), 1, 3000),
                   qPrintable(QStringLiteral("the fourth item of the tray menu did not skip") + logOf(program)));
    JOURNEY_VERIFY(WaitUntil([&] { return savedSkip(program) == ring.date; }, 3000),
                   qPrintable(QStringLiteral("Data.ini holds no skip: ") + program.SavedAlarms().join(u'\n')));
    JOURNEY_VERIFY(program.WaitForLog(armedFor(tomorrow, ring.time), 1, 3000), qPrintable(logOf(program)));

    // A restart keeps it.
    JOURNEY_VERIFY(restart(program, setup), qPrintable(program.Diagnostics()));
    QCOMPARE(savedSkip(program), ring.date);
    JOURNEY_VERIFY(program.WaitForLog(armedFor(tomorrow, ring.time), 1, 3000), qPrintable(logOf(program)));
    JOURNEY_VERIFY(ShiftedClock::NowMs() < ring.realDueMs,
                   "the program took so long to start that the skipped minute has already come");

    // The skipped minute passes without a ring.
    const qint64 quietUntil = ring.realDueMs + kQuietAfterMs;
    const bool rang = WaitUntil(
        [&] { return program.LogCount(QStringLiteral("Alarm fired")) > 0 || program.Find(WindowKind::Alarm); },
        int(qMax<qint64>(0, quietUntil - ShiftedClock::NowMs())));
    JOURNEY_VERIFY(!rang, qPrintable(QStringLiteral("the skipped alarm rang") + logOf(program)));
    JOURNEY_VERIFY(program.Running(), qPrintable(program.Diagnostics()));

    // Gone by, the skip is forgotten at the next start, and the following day's time stays armed.
    JOURNEY_VERIFY(restart(program, setup), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(WaitUntil([&] { return !savedSkip(program).isValid(); }, 3000),
                   qPrintable(QStringLiteral("the skip is still saved: ") + program.SavedAlarms().join(u'\n')));
    JOURNEY_VERIFY(program.WaitForLog(armedFor(tomorrow, ring.time), 1, 3000), qPrintable(logOf(program)));
    QCOMPARE(program.LogCount(QStringLiteral("Alarm fired")), 0);
    JOURNEY_VERIFY(user.OpenTrayMenu() && user.ChooseLastItem() && program.WaitForExit(5000),
                   qPrintable(user.LastError() + program.Diagnostics()));
}

QTEST_GUILESS_MAIN(TestSkipJourneys)
#include "tst_skip.moc"

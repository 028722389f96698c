// Snoozing as a user does it on a real desktop: the Snooze button's menu of lengths, opened with the
// mouse or the keyboard, the tray hint that says until when the alarm waits, and the ring that comes
// back at that time.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "ShiftedClock.h"
#include "User.h"

#include <QRegularExpression>
#include <QTest>

namespace {

constexpr int kLeadMs = 2000;
// The arrow beside Snooze, at the foot of the alarm window, in the window's client coordinates.
constexpr int kLengthsX = 24 + 177 - 34 / 2;
constexpr int kLengthsY = 240 + 57 / 2;

QString logOf(Program& program)
{
    return QStringLiteral("\n--- Log.txt\n") + program.LogText();
}

/** The tray hints the program logged, oldest first. */
QStringList trayHints(const Program& program)
{
    QStringList hints;
    for (const QString& message : program.LogMessages()) {
        if (message.startsWith(QLatin1String("Tray hint: ")))
            hints.append(message.mid(11));
    }
    return hints;
}

/** The last logged hint that says until when a snooze waits, or empty. */
QString snoozedHint(const Program& program)
{
    const QStringList hints = trayHints(program);
    for (auto it = hints.crbegin(); it != hints.crend(); ++it) {
        if (it->startsWith(QLatin1String("Snoozed until ")))
            return *it;
    }
    return QString();
}

/** The hour and minute a "Snoozed until" hint names, in either clock the locale may use. */
QTime snoozedUntil(const QString& hint)
{
    static const QRegularExpression time(QStringLiteral("^Snoozed until (\\d{1,2}):(\\d{2})\\s*([AP]M)?"));
    const QRegularExpressionMatch m = time.match(hint);
    if (!m.hasMatch())
        return QTime();
    int hour = m.captured(1).toInt();
    if (m.captured(3) == QLatin1String("PM") && hour < 12)
        hour += 12;
    else if (m.captured(3) == QLatin1String("AM") && hour == 12)
        hour = 0;
    return QTime(hour, m.captured(2).toInt());
}

int soundStarts(const Program& program)
{
    return program.LogCount(QStringLiteral("Sound \""));
}

} // namespace

class TestSnoozeJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void aLengthChosenFromTheMenuRingsAgainThen();
    void theKeyboardOpensTheLengths();

private:
    bool startRinging(Program& program, ShiftedClock::Ring& ring, XWindow* alarmWindow);
    void closeProgram(Program& program);

    Desktop m_desktop;
    QString m_exe;
    QString m_ringSound;
};

void TestSnoozeJourneys::initTestCase()
{
    QString why;
    JOURNEY_VERIFY(
        Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, &m_ringSound, &why),
        qPrintable(why));
}

void TestSnoozeJourneys::cleanupTestCase()
{
    m_desktop.Stop();
}

bool TestSnoozeJourneys::startRinging(Program& program, ShiftedClock::Ring& ring, XWindow* alarmWindow)
{
    ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    AlarmRecord alarm = Journey::Alarm(QTime(7, 0), m_ringSound);
    alarm.Days = Journey::EveryDay();
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(alarm)};
    setup.clockOffsetMs = ring.offsetMs;
    // The locale's short time is what the hint shows; a known one keeps its reading simple.
    setup.environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    QString why;
    if (!program.Start(setup, &why)) {
        qWarning("%s", qPrintable(why));
        return false;
    }
    return program.WaitUntilStarted() &&
           program.WaitForLog(QStringLiteral("Alarm fired"), 1,
                              int(qMax<qint64>(0, ring.realDueMs - ShiftedClock::NowMs())) + 4000) &&
           program.WaitForWindow(WindowKind::Alarm, 3000, alarmWindow);
}

void TestSnoozeJourneys::closeProgram(Program& program)
{
    if (!program.Running())
        return;
    program.RunSecondCopy({QStringLiteral("-close")}, 5000);
    if (!program.WaitForExit(3000))
        program.Kill();
}

void TestSnoozeJourneys::aLengthChosenFromTheMenuRingsAgainThen()
{
    Program program(m_desktop, m_exe);
    User user(program);
    ShiftedClock::Ring ring;
    XWindow alarmWindow;
    JOURNEY_VERIFY(startRinging(program, ring, &alarmWindow), qPrintable(QStringLiteral("no ring") + logOf(program)));
    // Seconds before the ring, hidden in the tray, the hint names the alarm's time rather than a count.
    const QString before = trayHints(program).value(0);
    JOURNEY_VERIFY(!before.startsWith(QLatin1String("Rings in ")) && before.contains(QLatin1String("7:00 AM")),
                   qPrintable(QStringLiteral("the hint before the ring: ") + before + logOf(program)));

    // The arrow beside Snooze opens the lengths; the first one, 5 minutes, is taken.
    JOURNEY_VERIFY(user.Click(alarmWindow, kLengthsX, kLengthsY), qPrintable(user.LastError()));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Menu, 3000), "the arrow beside Snooze opened no menu");
    JOURNEY_VERIFY(program.Find(WindowKind::Alarm).has_value(), "opening the menu answered the alarm");
    JOURNEY_VERIFY(user.Keys(QStringLiteral("Down Return")), qPrintable(user.LastError()));
    JOURNEY_VERIFY(program.WaitForNoWindow(WindowKind::Alarm, 3000), "choosing a length did not close the alarm");
    const qint64 snoozedAtMs = ShiftedClock::NowMs();

    // The tray hint says until when.
    JOURNEY_VERIFY(WaitUntil([&] { return !snoozedHint(program).isEmpty(); }, 3000),
                   qPrintable(QStringLiteral("no snoozed hint") + logOf(program)));
    const QString hint = snoozedHint(program);
    const QTime until = snoozedUntil(hint);
    const QTime expected = QDateTime::fromMSecsSinceEpoch(ring.ProgramMs(snoozedAtMs) + 5 * 60 * 1000).time();
    JOURNEY_VERIFY(until.isValid() && until.hour() == expected.hour() && qAbs(until.minute() - expected.minute()) <= 1,
                   qPrintable(QStringLiteral("hint \"%1\", the snooze ends at %2").arg(hint, expected.toString()) +
                              logOf(program)));

    // Five minutes on, the alarm rings again, and the hint goes back to the next alarm.
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 5 * 60 * 1000 + 10000),
                   qPrintable(QStringLiteral("the snoozed alarm did not come back") + logOf(program)));
    const qint64 backAfterMs = ShiftedClock::NowMs() - snoozedAtMs;
    JOURNEY_VERIFY(backAfterMs >= 5 * 60 * 1000 - 1500 && backAfterMs <= 5 * 60 * 1000 + 5000,
                   qPrintable(QStringLiteral("back after %1 ms").arg(backAfterMs)));
    QCOMPARE(soundStarts(program), 2);
    JOURNEY_VERIFY(
        WaitUntil([&] { return trayHints(program).constLast().startsWith(QLatin1String("Rings in ")); }, 3000),
        qPrintable(QStringLiteral("the hint still says snoozed") + logOf(program)));
    closeProgram(program);
}

void TestSnoozeJourneys::theKeyboardOpensTheLengths()
{
    Program program(m_desktop, m_exe);
    User user(program);
    ShiftedClock::Ring ring;
    XWindow alarmWindow;
    JOURNEY_VERIFY(startRinging(program, ring, &alarmWindow), qPrintable(QStringLiteral("no ring") + logOf(program)));

    // Snooze has the focus: Alt+Down opens the lengths at the usual one (9 minutes), Down takes 10.
    JOURNEY_VERIFY(user.KeysTo(alarmWindow, QStringLiteral("alt+Down")), qPrintable(user.LastError()));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Menu, 3000), "Alt+Down on Snooze opened no menu");
    JOURNEY_VERIFY(user.Keys(QStringLiteral("Down Return")), qPrintable(user.LastError()));
    JOURNEY_VERIFY(program.WaitForNoWindow(WindowKind::Alarm, 3000), "choosing a length did not close the alarm");
    const qint64 snoozedAtMs = ShiftedClock::NowMs();
    JOURNEY_VERIFY(WaitUntil([&] { return !snoozedHint(program).isEmpty(); }, 3000),
                   qPrintable(QStringLiteral("no snoozed hint") + logOf(program)));
    const QTime until = snoozedUntil(snoozedHint(program));
    const QTime expected = QDateTime::fromMSecsSinceEpoch(ring.ProgramMs(snoozedAtMs) + 10 * 60 * 1000).time();
    JOURNEY_VERIFY(until.isValid() && until.hour() == expected.hour() && qAbs(until.minute() - expected.minute()) <= 1,
                   qPrintable(snoozedHint(program) + QStringLiteral(", the snooze ends at ") + expected.toString()));
    QCOMPARE(soundStarts(program), 1);
    closeProgram(program);
}

QTEST_GUILESS_MAIN(TestSnoozeJourneys)
#include "tst_snooze.moc"

#include "TimeZoneScope.h"
#include "core/alarms/LocalTime.h"
#include "core/alarms/TimeLeft.h"

#include <QTest>
#include <QTimeZone>

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

QString left(qint64 ms, int step = 1)
{
    return FormatTimeLeft(ms, TimeLeftUnits(), step);
}

} // namespace

class TestTimeLeft : public QObject
{
    Q_OBJECT

private slots:
    void minutesHoursAndDays_data();
    void minutesHoursAndDays();
    void exactlyDueAndPastAreNothingLeft();
    void coarseStepsRoundUpToTheStep();
    void translatedUnits();
    void refreshLandsWhereTheTextChanges_data();
    void refreshLandsWhereTheTextChanges();
    void refreshesAtMostOncePerStepOverADay();
    void realTimeAcrossDaylightSavingNights();
};

void TestTimeLeft::minutesHoursAndDays_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("one second") << kSecond << QStringLiteral("1 min");
    QTest::newRow("a minute exactly") << kMinute << QStringLiteral("1 min");
    QTest::newRow("a minute and a millisecond") << kMinute + 1 << QStringLiteral("2 min");
    QTest::newRow("59 minutes") << 59 * kMinute << QStringLiteral("59 min");
    QTest::newRow("just over 59 minutes") << 59 * kMinute + 1 << QStringLiteral("1 h");
    QTest::newRow("an hour exactly") << kHour << QStringLiteral("1 h");
    QTest::newRow("an hour and a second") << kHour + kSecond << QStringLiteral("1 h 1 min");
    QTest::newRow("7 h 11 min 30 s") << 7 * kHour + 11 * kMinute + 30 * kSecond << QStringLiteral("7 h 12 min");
    QTest::newRow("7 h 12 min") << 7 * kHour + 12 * kMinute << QStringLiteral("7 h 12 min");
    QTest::newRow("23 h 59 min") << 23 * kHour + 59 * kMinute << QStringLiteral("23 h 59 min");
    QTest::newRow("a day less a second") << kDay - kSecond << QStringLiteral("1 d");
    QTest::newRow("a day exactly") << kDay << QStringLiteral("1 d");
    QTest::newRow("a day and a minute") << kDay + kMinute << QStringLiteral("1 d 1 h");
    QTest::newRow("2 d 2 h 30 min") << 2 * kDay + 2 * kHour + 30 * kMinute << QStringLiteral("2 d 3 h");
    QTest::newRow("6 d 23 h 30 min") << 6 * kDay + 23 * kHour + 30 * kMinute << QStringLiteral("7 d");
    QTest::newRow("30 days") << 30 * kDay << QStringLiteral("30 d");
}

void TestTimeLeft::minutesHoursAndDays()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(left(ms), text);
}

void TestTimeLeft::exactlyDueAndPastAreNothingLeft()
{
    QCOMPARE(left(0), QStringLiteral("0 min"));
    QCOMPARE(left(-kMinute), QStringLiteral("0 min"));
    QCOMPARE(left(1), QStringLiteral("1 min"));
    QCOMPARE(MsecsUntilTimeLeftStep(0, 1), -1);
    QCOMPARE(MsecsUntilTimeLeftStep(-5 * kMinute, 10), -1);
}

void TestTimeLeft::coarseStepsRoundUpToTheStep()
{
    QCOMPARE(left(7 * kHour + 12 * kMinute, 10), QStringLiteral("7 h 20 min"));
    QCOMPARE(left(7 * kHour + 10 * kMinute, 10), QStringLiteral("7 h 10 min"));
    QCOMPARE(left(7 * kHour + 10 * kMinute + 1, 10), QStringLiteral("7 h 20 min"));
    QCOMPARE(left(7 * kHour + 51 * kMinute, 10), QStringLiteral("8 h"));
    QCOMPARE(left(3 * kMinute, 10), QStringLiteral("10 min"));
    QCOMPARE(left(23 * kHour + 55 * kMinute, 10), QStringLiteral("1 d"));
    // A step of nothing is taken as a minute rather than dividing by zero.
    QCOMPARE(left(90 * kSecond, 0), QStringLiteral("2 min"));
}

void TestTimeLeft::translatedUnits()
{
    const TimeLeftUnits german{QStringLiteral("%1 Tg."), QStringLiteral("%1 Std."), QStringLiteral("%1 Min.")};
    QCOMPARE(FormatTimeLeft(2 * kHour + 5 * kMinute, german), QStringLiteral("2 Std. 5 Min."));
    QCOMPARE(FormatTimeLeft(3 * kDay + kHour, german), QStringLiteral("3 Tg. 1 Std."));
    // The number may stand after the unit.
    const TimeLeftUnits after{QStringLiteral("d%1"), QStringLiteral("h%1"), QStringLiteral("m%1")};
    QCOMPARE(FormatTimeLeft(kHour + 2 * kMinute, after), QStringLiteral("h1 m2"));
}

void TestTimeLeft::refreshLandsWhereTheTextChanges_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<int>("step");
    QTest::addColumn<qint64>("wait");
    QTest::newRow("mid-minute") << 7 * kHour + 11 * kMinute + 30 * kSecond << 1 << 30 * kSecond;
    QTest::newRow("on a minute") << 7 * kHour + 12 * kMinute << 1 << kMinute;
    QTest::newRow("coarse, mid-step") << 7 * kHour + 12 * kMinute << 10 << 2 * kMinute;
    QTest::newRow("coarse, on a step") << 7 * kHour + 10 * kMinute << 10 << 10 * kMinute;
    QTest::newRow("last minute") << 45 * kSecond << 1 << qint64(-1);
    QTest::newRow("last step") << 9 * kMinute << 10 << qint64(-1);
    QTest::newRow("days count hours") << 2 * kDay + 25 * kMinute << 10 << 25 * kMinute;
    QTest::newRow("a day and a bit") << kDay + 5 * kMinute << 10 << 5 * kMinute;
}

void TestTimeLeft::refreshLandsWhereTheTextChanges()
{
    QFETCH(qint64, ms);
    QFETCH(int, step);
    QFETCH(qint64, wait);
    QCOMPARE(MsecsUntilTimeLeftStep(ms, step), wait);
    if (wait < 0)
        return;
    // Until the refresh the text stays what it was; at it, it shows one step less.
    QCOMPARE(left(ms - wait + 1, step), left(ms, step));
    QVERIFY(left(ms - wait, step) != left(ms, step));
}

void TestTimeLeft::refreshesAtMostOncePerStepOverADay()
{
    // An alarm a day and a half away, followed from refresh to refresh as the tray would.
    qint64 remaining = kDay + 12 * kHour + 7 * kMinute + 13 * kSecond;
    int refreshes = 0;
    QString shown = left(remaining, 10);
    for (qint64 wait = MsecsUntilTimeLeftStep(remaining, 10); wait > 0; wait = MsecsUntilTimeLeftStep(remaining, 10)) {
        QVERIFY2(wait <= kHour, qPrintable(QString::number(wait)));
        remaining -= wait;
        ++refreshes;
        const QString now = left(remaining, 10);
        QVERIFY2(now != shown, qPrintable(now)); // no refresh that changes nothing
        shown = now;
    }
    QCOMPARE(shown, QStringLiteral("10 min"));
    QVERIFY(remaining > 0 && remaining <= 10 * kMinute);
    // 12 hours in hour steps above a day, then 24 hours in 10-minute steps, less the last.
    QCOMPARE(refreshes, 13 + 24 * 6 - 1);
}

void TestTimeLeft::realTimeAcrossDaylightSavingNights()
{
    const TimeZoneScope berlin("Europe/Berlin");
    const UtcOffsetAt offsets = ZoneOffsets(QTimeZone("Europe/Berlin"));
    // Spring: the clocks skip 02:00-03:00, so from 01:00 to 07:00 only five hours pass.
    const QDateTime springNight(QDate(2026, 3, 29), QTime(1, 0), QTimeZone("Europe/Berlin"));
    const qint64 spring = MsecsUntil({QDate(2026, 3, 29), QTime(7, 0)}, springNight, offsets);
    QCOMPARE(spring, 5 * kHour);
    QCOMPARE(left(spring), QStringLiteral("5 h"));
    // Autumn: 02:00-03:00 comes twice, so seven hours pass.
    const QDateTime autumnNight(QDate(2026, 10, 25), QTime(1, 0), QTimeZone("Europe/Berlin"));
    QCOMPARE(MsecsUntil({QDate(2026, 10, 25), QTime(7, 0)}, autumnNight, offsets), 7 * kHour);
    // An alarm in the skipped hour rings when the clock has jumped past it: at 03:00, an hour on.
    QCOMPARE(MsecsUntil({QDate(2026, 3, 29), QTime(2, 30)}, springNight, offsets), kHour);
    // Exactly due.
    const QDateTime seven(QDate(2026, 3, 29), QTime(7, 0), QTimeZone("Europe/Berlin"));
    QCOMPARE(MsecsUntil({QDate(2026, 3, 29), QTime(7, 0)}, seven, offsets), 0);
    QCOMPARE(left(0), QStringLiteral("0 min"));
}

QTEST_GUILESS_MAIN(TestTimeLeft)
#include "tst_timeleft.moc"

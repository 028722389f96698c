// The program's clock. This executable runs with LARKBELL_TEST_CLOCK_OFFSET_MS set (see CMakeLists.txt), as an
// end-to-end test starts the program.
#include "core/alarms/AppClock.h"
#include "core/mglib/DebugLog.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Minus a day, an hour, a minute, a second and a millisecond: every field of the clock moves.
constexpr qint64 kEnvironmentOffsetMs = -90061001;

} // namespace

class TestAppClock : public QObject
{
    Q_OBJECT

private slots:
    void parseOffset_data();
    void parseOffset();
    void programClockTakesItsOffsetFromTheEnvironmentOnce();
    void shiftedClockReadsTheSystemClockPlusTheOffset();
    void timersStandAtTheShiftedInstantOnTheSystemClock();
    void offsetIsLoggedOnlyWhenThereIsOne();
};

void TestAppClock::parseOffset_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("absent or empty") << QByteArray() << qint64(0);
    QTest::newRow("blank") << QByteArray("  ") << qint64(0);
    QTest::newRow("zero") << QByteArray("0") << qint64(0);
    QTest::newRow("ahead") << QByteArray("90061001") << qint64(90061001);
    QTest::newRow("behind") << QByteArray("-3600000") << qint64(-3600000);
    QTest::newRow("explicit plus sign") << QByteArray("+1500") << qint64(1500);
    QTest::newRow("surrounding blanks") << QByteArray(" 42\n") << qint64(42);
    QTest::newRow("a year ahead") << QByteArray("31536000000") << qint64(31536000000);
    QTest::newRow("trailing text") << QByteArray("12ms") << qint64(0);
    QTest::newRow("fraction") << QByteArray("1.5") << qint64(0);
    QTest::newRow("hexadecimal") << QByteArray("0x10") << qint64(0);
    QTest::newRow("words") << QByteArray("soon") << qint64(0);
    QTest::newRow("beyond 64 bits") << QByteArray("99999999999999999999") << qint64(0);
    QTest::newRow("beyond any date the program can show") << QByteArray("-9000000000000000000") << qint64(0);
}

void TestAppClock::parseOffset()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, expected);
    QCOMPARE(AppClock::ParseOffset(value), expected);
}

void TestAppClock::programClockTakesItsOffsetFromTheEnvironmentOnce()
{
    QCOMPARE(qgetenv("LARKBELL_TEST_CLOCK_OFFSET_MS").toLongLong(), kEnvironmentOffsetMs);
    QCOMPARE(AppClock::Program().OffsetMs(), kEnvironmentOffsetMs);
    qputenv("LARKBELL_TEST_CLOCK_OFFSET_MS", "5000");
    QCOMPARE(AppClock::Program().OffsetMs(), kEnvironmentOffsetMs);
    qputenv("LARKBELL_TEST_CLOCK_OFFSET_MS", QByteArray::number(kEnvironmentOffsetMs));
}

void TestAppClock::shiftedClockReadsTheSystemClockPlusTheOffset()
{
    const AppClock& clock = AppClock::Program();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const qint64 nowMs = clock.NowMSecs();
    const QDateTime nowUtc = clock.NowUtc();
    const QDateTime now = clock.Now();
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    for (qint64 read : {nowMs, nowUtc.toMSecsSinceEpoch(), now.toMSecsSinceEpoch()}) {
        QVERIFY(read >= before + kEnvironmentOffsetMs);
        QVERIFY(read <= after + kEnvironmentOffsetMs);
    }
    QCOMPARE(nowUtc.timeSpec(), Qt::UTC);
    // What the windows show: local time, as the system's own local time shows the shifted instant.
    QCOMPARE(now.timeSpec(), Qt::LocalTime);
    const QDateTime expected = QDateTime::fromMSecsSinceEpoch(now.toMSecsSinceEpoch(), Qt::LocalTime);
    QCOMPARE(now.date(), expected.date());
    QCOMPARE(now.time(), expected.time());

    // Date and time of day come from one reading, a day and more behind the system's.
    const QDate date = clock.CurrentDate();
    const QDate realDate = QDateTime::currentDateTime().date();
    QVERIFY(date == realDate.addDays(-1) || date == realDate.addDays(-2));
    const AppClock unshifted;
    QCOMPARE(unshifted.OffsetMs(), 0);
    const qint64 real = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(qAbs(unshifted.NowMSecs() - real) < 1000);
}

void TestAppClock::timersStandAtTheShiftedInstantOnTheSystemClock()
{
    const QDateTime due(QDate(2026, 12, 8), QTime(7, 0), Qt::UTC);
    QCOMPARE(AppClock(90061001).ToSystemClock(due), QDateTime(QDate(2026, 12, 7), QTime(5, 58, 58, 999), Qt::UTC));
    QCOMPARE(AppClock(-1500).ToSystemClock(due), QDateTime(QDate(2026, 12, 8), QTime(7, 0, 1, 500), Qt::UTC));
    QCOMPARE(AppClock().ToSystemClock(due), due);
}

void TestAppClock::offsetIsLoggedOnlyWhenThereIsOne()
{
    QTemporaryDir dir;
    SetLogFolder(dir.path());
    SetDebugMode(true);
    StartLogFile();
    AppClock().LogOffset();
    const QDate dayBefore = AppClock::Program().CurrentDate();
    AppClock::Program().LogOffset();
    const QDate dayAfter = AppClock::Program().CurrentDate();
    SetDebugMode(false);
    QFile log(dir.filePath(QStringLiteral("Log.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll()).trimmed();
    QVERIFY2(text.endsWith(QStringLiteral(" : Clock offset for tests: -90061001 ms")), qPrintable(text));
    QCOMPARE(text.count(u'\n'), 0);
    // The log's time stamps are the program's time, like every time it shows.
    const QLocale locale = QLocale::system();
    QVERIFY2(text.startsWith(locale.toString(dayBefore, QLocale::ShortFormat) + u' ') ||
                 text.startsWith(locale.toString(dayAfter, QLocale::ShortFormat) + u' '),
             qPrintable(text));
}

QTEST_GUILESS_MAIN(TestAppClock)
#include "tst_appclock.moc"

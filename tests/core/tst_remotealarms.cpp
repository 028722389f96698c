#include "TimeZoneScope.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/RemoteAlarms.h"
#include "core/app/CommandLine.h"

#include <QTest>

namespace {

QDateTime utc(const QString& text)
{
    QDateTime at = QDateTime::fromString(text, Qt::ISODate);
    at.setTimeSpec(Qt::UTC);
    return at;
}

} // namespace

class TestRemoteAlarms : public QObject
{
    Q_OBJECT

private slots:
    void dueTextCarriesTheOffsetOfItsInstant_data();
    void dueTextCarriesTheOffsetOfItsInstant();
    void dueTextOfNothingIsEmpty();
    void listedAlarmsKeepOrderAndFields();
    void repeatDaysStartOnMonday();
    void dueLabelsJoinTheAlarmsOfOneMinute();
    void commandLineLines();
    void remoteSwitches_data();
    void remoteSwitches();
    void olderSwitchesStayAsTheyWere();
};

void TestRemoteAlarms::dueTextCarriesTheOffsetOfItsInstant_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<QString>("utcInstant");
    QTest::addColumn<QString>("expected");
    QTest::newRow("UTC") << QByteArray("UTC0") << QStringLiteral("2026-12-10T07:00:00")
                         << QStringLiteral("2026-12-10T07:00:00+00:00");
    QTest::newRow("Berlin winter") << QByteArray("Europe/Berlin") << QStringLiteral("2026-12-10T06:00:00")
                                   << QStringLiteral("2026-12-10T07:00:00+01:00");
    // The morning after the spring-forward night: the offset of the alarm's own instant, not of today.
    QTest::newRow("Berlin after spring forward") << QByteArray("Europe/Berlin") << QStringLiteral("2026-03-29T05:00:00")
                                                 << QStringLiteral("2026-03-29T07:00:00+02:00");
    QTest::newRow("Berlin before spring forward")
        << QByteArray("Europe/Berlin") << QStringLiteral("2026-03-29T00:30:00")
        << QStringLiteral("2026-03-29T01:30:00+01:00");
    // The repeated hour of the fall-back night: the same wall time twice, told apart by the offset.
    QTest::newRow("fall back, first") << QByteArray("Europe/Berlin") << QStringLiteral("2026-10-25T00:30:00")
                                      << QStringLiteral("2026-10-25T02:30:00+02:00");
    QTest::newRow("fall back, second") << QByteArray("Europe/Berlin") << QStringLiteral("2026-10-25T01:30:00")
                                       << QStringLiteral("2026-10-25T02:30:00+01:00");
    QTest::newRow("west, half hours") << QByteArray("America/St_Johns") << QStringLiteral("2026-12-10T10:30:00")
                                      << QStringLiteral("2026-12-10T07:00:00-03:30");
    QTest::newRow("east, quarter hours") << QByteArray("Asia/Kathmandu") << QStringLiteral("2026-12-10T01:15:00")
                                         << QStringLiteral("2026-12-10T07:00:00+05:45");
}

void TestRemoteAlarms::dueTextCarriesTheOffsetOfItsInstant()
{
    QFETCH(QByteArray, tz);
    QFETCH(QString, utcInstant);
    QFETCH(QString, expected);
    const TimeZoneScope zone(tz);
    const QDateTime instant = utc(utcInstant);
    QCOMPARE(DueText(instant, SystemUtcOffset), expected);
    // Whoever reads it back gets the same instant.
    QCOMPARE(QDateTime::fromString(expected, Qt::ISODate).toMSecsSinceEpoch(), instant.toMSecsSinceEpoch());
    // Seconds and milliseconds of the instant do not change the minute it names.
    QCOMPARE(DueText(instant.addMSecs(999), SystemUtcOffset).left(16), expected.left(16));
}

void TestRemoteAlarms::dueTextOfNothingIsEmpty()
{
    QCOMPARE(DueText(QDateTime(), SystemUtcOffset), QString());
}

void TestRemoteAlarms::listedAlarmsKeepOrderAndFields()
{
    AlarmRecord daily;
    daily.Time = QTime(6, 45);
    daily.Days = {true, true, true, true, true, true, true};
    daily.Label = QStringLiteral("Two\r\nlines");
    AlarmRecord once;
    once.Time = QTime(23, 5);
    once.Enabled = false;
    once.Label = QString();
    const QList<RemoteAlarm> alarms = RemoteAlarms({BuildAlarmString(daily), BuildAlarmString(once)});
    QCOMPARE(alarms.size(), 2);
    QCOMPARE(alarms.at(0), (RemoteAlarm{0, QStringLiteral("06:45"), QStringLiteral("Mon,Tue,Wed,Thu,Fri,Sat,Sun"),
                                        QStringLiteral("Two\nlines"), true}));
    QCOMPARE(alarms.at(1), (RemoteAlarm{1, QStringLiteral("23:05"), QString(), QString(), false}));
    QVERIFY(RemoteAlarms({}).isEmpty());
}

void TestRemoteAlarms::repeatDaysStartOnMonday()
{
    // Stored Sunday first.
    QCOMPARE(RepeatDaysText({true, false, false, false, false, false, true}), QStringLiteral("Sat,Sun"));
    QCOMPARE(RepeatDaysText({false, true, false, true, false, true, false}), QStringLiteral("Mon,Wed,Fri"));
    QCOMPARE(RepeatDaysText({}), QString());
}

void TestRemoteAlarms::dueLabelsJoinTheAlarmsOfOneMinute()
{
    AlarmRecord a;
    a.Label = QStringLiteral("A");
    AlarmRecord b;
    b.Label = QStringLiteral("B\r\nb");
    const QStringList list{BuildAlarmString(a), BuildAlarmString(b), BuildAlarmString(a)};
    QCOMPARE(DueLabels(list, {1, 2}), QStringLiteral("B\nb\nA"));
    QCOMPARE(DueLabels(list, {0, 7, -1}), QStringLiteral("A")); // out of range: left out
    QCOMPARE(DueLabels(list, {}), QString());
}

void TestRemoteAlarms::commandLineLines()
{
    // The wall time the running copy gave, whatever zone the shell is in.
    const TimeZoneScope zone(QByteArray("Asia/Tokyo"));
    QCOMPARE(NextAlarmLine(QStringLiteral("2026-12-10T07:00:00+01:00"), QStringLiteral("Up\nnow")),
             QStringLiteral("2026-12-10 07:00  Up / now"));
    QCOMPARE(NextAlarmLine(QStringLiteral("2026-12-10T07:00:00+01:00"), QString()), QStringLiteral("2026-12-10 07:00"));
    QCOMPARE(RemoteAlarmLine({3, QStringLiteral("07:00"), QStringLiteral("Mon"), QStringLiteral("x\ny"), true}),
             QStringLiteral("3  on   07:00  Mon  x / y"));
    QCOMPARE(RemoteAlarmLine({12, QStringLiteral("21:30"), QString(), QString(), false}),
             QStringLiteral("12  off  21:30  once"));
}

void TestRemoteAlarms::remoteSwitches_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("remote");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::newRow("--dismiss") << QStringList{"--dismiss"} << int(RemoteCommand::Dismiss) << false << false;
    QTest::newRow("-snooze") << QStringList{"-snooze"} << int(RemoteCommand::Snooze) << false << false;
    QTest::newRow("/NEXT") << QStringList{"/NEXT"} << int(RemoteCommand::Next) << false << false;
    QTest::newRow("--List") << QStringList{"--List"} << int(RemoteCommand::List) << false << false;
    QTest::newRow("--help") << QStringList{"--help"} << int(RemoteCommand::None) << true << false;
    QTest::newRow("/?") << QStringList{"/?"} << int(RemoteCommand::None) << true << false;
    QTest::newRow("-h") << QStringList{"-h"} << int(RemoteCommand::None) << true << false;
    QTest::newRow("--version") << QStringList{"--version"} << int(RemoteCommand::None) << false << true;
    QTest::newRow("the last request counts")
        << QStringList{"--next", "--list"} << int(RemoteCommand::List) << false << false;
    QTest::newRow("three dashes are no switch")
        << QStringList{"---dismiss"} << int(RemoteCommand::None) << false << false;
    QTest::newRow("a word is no switch") << QStringList{"dismiss"} << int(RemoteCommand::None) << false << false;
}

void TestRemoteAlarms::remoteSwitches()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, remote);
    QFETCH(bool, help);
    QFETCH(bool, version);
    const CommandLine line = CommandLine::Parse(arguments);
    QCOMPARE(int(line.remote), remote);
    QCOMPARE(line.help, help);
    QCOMPARE(line.version, version);
    QVERIFY(!line.close && !line.autorun && !line.uninstall && !line.debug);
}

void TestRemoteAlarms::olderSwitchesStayAsTheyWere()
{
    const CommandLine line = CommandLine::Parse({"-CLOSE", "/autorun", "-Uninstall", "-debug"});
    QVERIFY(line.close && line.autorun && line.uninstall && line.debug);
    QCOMPARE(line.remote, RemoteCommand::None);
    QVERIFY(!line.help && !line.version);
    // Single-letter words that were never switches stay ignored.
    const CommandLine other = CommandLine::Parse({"-x", "close", "-"});
    QVERIFY(!other.close && !other.help && other.remote == RemoteCommand::None);
}

QTEST_GUILESS_MAIN(TestRemoteAlarms)
#include "tst_remotealarms.moc"

#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLib.h"

#include <QTest>

namespace {

QString firstStartExample()
{
    return QStringLiteral("540 111011111011175 1") + QString(5, u' ') + QStringLiteral("Good morning!") +
           QString(287, u' ') + QStringLiteral("Birds");
}

// A string with the given columns 1..26 and label/sound, built by hand rather than by the code under test.
QString handMade(const QString& head26, const QString& label, const QString& sound)
{
    return head26 + label + QString(300 - label.size(), u' ') + sound;
}

// Three base-36 digits counting days from 2000-01-01, as columns 24-26 hold a skipped date.
QString base36Days(QDate date)
{
    return QString::number(QDate(2000, 1, 1).daysTo(date), 36).toUpper().rightJustified(3, u'0');
}

DayTexts englishDays(int firstWeekdayOffset)
{
    DayTexts texts;
    texts.shortDayNames = {QStringLiteral("Sun"), QStringLiteral("Mon"), QStringLiteral("Tue"), QStringLiteral("Wed"),
                           QStringLiteral("Thu"), QStringLiteral("Fri"), QStringLiteral("Sat")};
    texts.firstWeekdayOffset = firstWeekdayOffset;
    return texts;
}

} // namespace

class TestAlarmRecord : public QObject
{
    Q_OBJECT

private slots:
    void firstStartAlarmIsWrittenByteExact();
    void parsingTheExampleGivesItsFields();
    void buildThenParseIsIdentity_data();
    void buildThenParseIsIdentity();
    void extendedColumns_data();
    void extendedColumns();
    void malformedStrings_data();
    void malformedStrings();
    void fieldReadersAgreeWithTheParser_data();
    void fieldReadersAgreeWithTheParser();
    void labelsAreEscapedAndCut();
    void labelCutNeverSplitsACharacter();
    void loneLineBreaksNeverReachTheFile();
    void timesAtTheEndsOfTheDay();
    void describeDays_data();
    void describeDays();
    void newAlarmDefaults();
    void stockSoundNamesResolveIntoTheSoundsFolder_data();
    void stockSoundNamesResolveIntoTheSoundsFolder();
};

void TestAlarmRecord::firstStartAlarmIsWrittenByteExact()
{
    const AlarmRecord alarm = FirstStartAlarm(QStringLiteral("Good morning!"), 75, [](const QString&) { return true; });
    const QString s = BuildAlarmString(alarm);
    QCOMPARE(s, firstStartExample());
    QCOMPARE(s.size(), 331);
    QCOMPARE(ParseAlarmString(s), alarm);
}

void TestAlarmRecord::parsingTheExampleGivesItsFields()
{
    const AlarmRecord a = ParseAlarmString(firstStartExample());
    QCOMPARE(a.Time, QTime(9, 0));
    QVERIFY(a.Enabled && a.Snooze && a.WakeUp && a.MonitorOn && a.SoundLoop && a.VolumeOn && a.ShowMessage);
    QCOMPARE(a.Days, (std::array<bool, 7>{false, true, true, true, true, true, false}));
    QCOMPARE(a.Volume, 75);
    QCOMPARE(a.Label, QStringLiteral("Good morning!"));
    QCOMPARE(a.Sound, QStringLiteral("Birds"));
    QVERIFY(!a.IsOneTime());
}

void TestAlarmRecord::buildThenParseIsIdentity_data()
{
    QTest::addColumn<AlarmRecord>("alarm");
    AlarmRecord everythingOff;
    everythingOff.Time = QTime(23, 59);
    everythingOff.Enabled = everythingOff.Snooze = everythingOff.WakeUp = everythingOff.MonitorOn = false;
    everythingOff.VolumeOn = everythingOff.ShowMessage = everythingOff.SoundLoop = false;
    everythingOff.Volume = 0;
    QTest::newRow("every switch off, empty label and sound") << everythingOff;
    AlarmRecord weekend;
    weekend.Time = QTime(0, 0);
    weekend.Days = {true, false, false, false, false, false, true};
    weekend.Label = QStringLiteral("Line one\r\nLine two");
    weekend.Sound = QStringLiteral("/home/me/My Music/wake up.ogg");
    weekend.Volume = 100;
    QTest::newRow("two-line label and a path with spaces") << weekend;
    AlarmRecord unicode;
    unicode.Label = QStringLiteral("Подъём \U0001F514");
    unicode.Sound = QStringLiteral("/музыка/звонок.mp3");
    QTest::newRow("Cyrillic and emoji") << unicode;
    AlarmRecord extended;
    extended.Days = {false, true, false, false, false, false, false};
    extended.RampSeconds = 300;
    extended.Missed = true;
    extended.SnoozeMinutes = 35;
    extended.SkipDate = QDate(2126, 12, 31);
    QTest::newRow("every extended field at its largest") << extended;
    AlarmRecord rampOnly;
    rampOnly.RampSeconds = 15;
    rampOnly.SnoozeMinutes = 1;
    rampOnly.SkipDate = QDate(2000, 1, 1);
    QTest::newRow("extended fields at their smallest") << rampOnly;
}

void TestAlarmRecord::buildThenParseIsIdentity()
{
    QFETCH(AlarmRecord, alarm);
    const QString s = BuildAlarmString(alarm);
    QVERIFY(CodePointLength(s) >= 326);
    QCOMPARE(ParseAlarmString(s), alarm);
    QCOMPARE(BuildAlarmString(ParseAlarmString(s)), s);
}

void TestAlarmRecord::extendedColumns_data()
{
    QTest::addColumn<QString>("columns22to26");
    QTest::addColumn<int>("ramp");
    QTest::addColumn<bool>("missed");
    QTest::addColumn<int>("snooze");
    QTest::addColumn<QDate>("skip");
    QTest::newRow("blank") << QStringLiteral("     ") << 0 << false << 0 << QDate();
    QTest::newRow("30 s ramp, 9 min snooze, skip on 2026-12-08")
        << QStringLiteral("29") + base36Days(QDate(2026, 12, 8)) << 30 << false << 9 << QDate(2026, 12, 8);
    QTest::newRow("missed one-time alarm without ramp") << QStringLiteral("8    ") << 0 << true << 0 << QDate();
    QTest::newRow("ramp index past the list reads as none") << QStringLiteral("7    ") << 0 << false << 0 << QDate();
    QTest::newRow("lower case and punctuation read as blank") << QStringLiteral("az?b!") << 0 << false << 0 << QDate();
    QTest::newRow("snooze 0 is the global length") << QStringLiteral(" 0   ") << 0 << false << 0 << QDate();
    QTest::newRow("a partly blank date is no date") << QStringLiteral("  1 2") << 0 << false << 0 << QDate();
}

void TestAlarmRecord::extendedColumns()
{
    QFETCH(QString, columns22to26);
    const QString s = handMade(QStringLiteral("420 1111111111111") + QStringLiteral("1001") + columns22to26,
                               QStringLiteral("x"), QString());
    const AlarmRecord a = ParseAlarmString(s);
    QTEST(a.RampSeconds, "ramp");
    QTEST(a.Missed, "missed");
    QTEST(a.SnoozeMinutes, "snooze");
    QTEST(a.SkipDate, "skip");
    QCOMPARE(a.Label, QStringLiteral("x"));
    QCOMPARE(a.Time, QTime(7, 0));
    QVERIFY(a.ShowMessage);
}

void TestAlarmRecord::malformedStrings_data()
{
    QTest::addColumn<QString>("s");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("anyDay");
    QTest::addColumn<int>("volume");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("sound");
    QTest::newRow("empty string: 08:00, flags set, no days, volume 100")
        << QString() << QTime(8, 0) << true << false << 100 << QString() << QString();
    QTest::newRow("13 characters: flags read, too short for days")
        << QStringLiteral("600 011111111") << QTime(10, 0) << false << false << 100 << QString() << QString();
    QTest::newRow("garbage time and volume take defaults")
        << handMade(QStringLiteral("ab  1110000000111xy 1     "), QStringLiteral("L"), QString()) << QTime(8, 0) << true
        << false << 100 << QStringLiteral("L") << QString();
    QTest::newRow("volume 250 reads as 100")
        << handMade(QStringLiteral("60  1110000000111250     "), QString(), QString()) << QTime(1, 0) << true << false
        << 100 << QString() << QString();
    QTest::newRow("volume -5 reads as 0")
        << handMade(QStringLiteral("60  1110000000111-5 1     "), QString(), QString()) << QTime(1, 0) << true << false
        << 0 << QString() << QString();
    QTest::newRow("stored 1500 reads as 23:00")
        << handMade(QStringLiteral("15001110000000111100     "), QString(), QString()) << QTime(23, 0) << true << false
        << 100 << QString() << QString();
    QTest::newRow("negative minutes read as the default")
        << handMade(QStringLiteral("-60 1110000000111100     "), QString(), QString()) << QTime(8, 0) << true << false
        << 100 << QString() << QString();
    QTest::newRow("sound with trailing blanks loses them")
        << handMade(QStringLiteral("60  1111111111111100 1     "), QStringLiteral("x"), QStringLiteral("Birds  \t "))
        << QTime(1, 0) << true << true << 100 << QStringLiteral("x") << QStringLiteral("Birds");
    QTest::newRow("over-long string keeps everything after column 326 as the sound")
        << handMade(QStringLiteral("60  1111111111111100 1     "), QStringLiteral("x"), QString(5000, u'y'))
        << QTime(1, 0) << true << true << 100 << QStringLiteral("x") << QString(5000, u'y');
    QTest::newRow("binary garbage never crashes") << QString::fromLatin1(QByteArray("\x01\x02\xff\x00\x7f\x80", 6))
                                                  << QTime(8, 0) << true << false << 100 << QString() << QString();
}

void TestAlarmRecord::malformedStrings()
{
    QFETCH(QString, s);
    const AlarmRecord a = ParseAlarmString(s);
    QTEST(a.Time, "time");
    QTEST(a.Enabled, "enabled");
    QTEST(!a.IsOneTime(), "anyDay");
    QTEST(a.Volume, "volume");
    QTEST(a.Label, "label");
    QTEST(a.Sound, "sound");
}

void TestAlarmRecord::fieldReadersAgreeWithTheParser_data()
{
    QTest::addColumn<QString>("s");
    QTest::newRow("example") << firstStartExample();
    QTest::newRow("empty") << QString();
    QTest::newRow("short") << QStringLiteral("600 011111111");
    QTest::newRow("garbage") << QStringLiteral("zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz");
}

void TestAlarmRecord::fieldReadersAgreeWithTheParser()
{
    QFETCH(QString, s);
    const AlarmRecord a = ParseAlarmString(s);
    QCOMPARE(AlarmField::Time(s), a.Time);
    QCOMPARE(AlarmField::Enabled(s), a.Enabled);
    QCOMPARE(AlarmField::Snooze(s), a.Snooze);
    QCOMPARE(AlarmField::WakeUp(s), a.WakeUp);
    QCOMPARE(AlarmField::MonitorOn(s), a.MonitorOn);
    QCOMPARE(AlarmField::SoundLoop(s), a.SoundLoop);
    QCOMPARE(AlarmField::VolumeOn(s), a.VolumeOn);
    QCOMPARE(AlarmField::Volume(s), a.Volume);
    QCOMPARE(AlarmField::ShowMessage(s), a.ShowMessage);
    QCOMPARE(AlarmField::Label(s), a.Label);
    QCOMPARE(AlarmField::Sound(s), a.Sound);
    QCOMPARE(AlarmField::RampSeconds(s), a.RampSeconds);
    QCOMPARE(AlarmField::SnoozeMinutes(s), a.SnoozeMinutes);
    QCOMPARE(AlarmField::SkipDate(s), a.SkipDate);
    QCOMPARE(AlarmField::Missed(s), a.Missed);
}

void TestAlarmRecord::labelsAreEscapedAndCut()
{
    AlarmRecord a;
    a.Label = QStringLiteral("a\r\nb");
    QString s = BuildAlarmString(a);
    QCOMPARE(s.mid(26, 4), QStringLiteral("a||b"));
    QCOMPARE(ParseAlarmString(s).Label, QStringLiteral("a\r\nb"));

    a.Label = QStringLiteral("typed || bars");
    QCOMPARE(ParseAlarmString(BuildAlarmString(a)).Label, QStringLiteral("typed \r\n bars"));

    a.Label = QStringLiteral("  padded  ");
    QCOMPARE(ParseAlarmString(BuildAlarmString(a)).Label, QStringLiteral("padded"));

    a.Label = QString(310, u'x');
    a.Sound = QStringLiteral("Birds");
    s = BuildAlarmString(a);
    QCOMPARE(s.size(), 326 + 5);
    QCOMPARE(ParseAlarmString(s).Label, QString(300, u'x'));
    QCOMPARE(ParseAlarmString(s).Sound, QStringLiteral("Birds"));
}

void TestAlarmRecord::labelCutNeverSplitsACharacter()
{
    AlarmRecord a;
    a.Label = QString(299, u'ж') + QStringLiteral("\U0001F514\U0001F514");
    a.Sound = QStringLiteral("Bells1");
    const QString s = BuildAlarmString(a);
    QCOMPARE(CodePointLength(s), 326 + 6);
    const AlarmRecord back = ParseAlarmString(s);
    QCOMPARE(back.Label, QString(299, u'ж') + QStringLiteral("\U0001F514"));
    QCOMPARE(back.Sound, QStringLiteral("Bells1"));
}

void TestAlarmRecord::loneLineBreaksNeverReachTheFile()
{
    AlarmRecord a;
    a.Label = QStringLiteral("one\ntwo\rthree");
    a.Sound = QStringLiteral("bad\nsound");
    const QString s = BuildAlarmString(a);
    QVERIFY(!s.contains(u'\n'));
    QVERIFY(!s.contains(u'\r'));
    QCOMPARE(ParseAlarmString(s).Label, QStringLiteral("one\r\ntwo\r\nthree"));
}

void TestAlarmRecord::timesAtTheEndsOfTheDay()
{
    AlarmRecord a;
    a.Time = QTime(23, 59);
    a.Enabled = false;
    QVERIFY(BuildAlarmString(a).startsWith(QStringLiteral("14390"))); // four columns, then the Enabled flag
    a.Time = QTime(0, 0);
    QVERIFY(BuildAlarmString(a).startsWith(QStringLiteral("0   ")));
    QCOMPARE(AlarmField::Minutes(QStringLiteral("1500")), 1500); // the sort key is not capped
}

void TestAlarmRecord::describeDays_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("firstWeekdayOffset");
    QTest::addColumn<QString>("expected");
    QTest::newRow("every day") << "1111111" << 0 << "Every day";
    QTest::newRow("weekdays") << "0111110" << 1 << "Weekdays";
    QTest::newRow("weekends") << "1000001" << 1 << "Weekends";
    QTest::newRow("no day") << "0000000" << 0 << "";
    QTest::newRow("Sunday and Friday, Monday-first") << "1000010" << 1 << "Fri, Sun";
    QTest::newRow("Sunday and Friday, Sunday-first") << "1000010" << 0 << "Sun, Fri";
    QTest::newRow("other characters count as set") << "x111111" << 0 << "Sun, Mon, Tue, Wed, Thu, Fri, Sat";
    QTest::newRow("short mask describes nothing") << "111" << 0 << "";
}

void TestAlarmRecord::describeDays()
{
    QFETCH(QString, mask);
    QFETCH(int, firstWeekdayOffset);
    QFETCH(QString, expected);
    const QString s = QStringLiteral("540 111") + mask + (mask.size() == 7 ? QStringLiteral("1111001") : QString());
    QCOMPARE(DescribeDays(s, englishDays(firstWeekdayOffset)), expected);
}

void TestAlarmRecord::newAlarmDefaults()
{
    const auto none = [](const QString&) { return false; };
    const auto all = [](const QString&) { return true; };
    AlarmRecord a = NewAlarm(QTime(7, 42, 31, 500), 12, QStringLiteral("Alarm"), 64, all);
    QCOMPARE(a.Time, QTime(7, 42));
    QCOMPARE(a.Sound, QStringLiteral("Christmas"));
    QCOMPARE(a.Volume, 64);
    QVERIFY(a.IsOneTime());
    QVERIFY(a.Snooze && a.WakeUp && a.MonitorOn && a.VolumeOn && a.ShowMessage && a.SoundLoop);
    QCOMPARE(NewAlarm(QTime(7, 0), 11, QStringLiteral("Alarm"), 64, all).Sound, QStringLiteral("Bells1"));
    QCOMPARE(NewAlarm(QTime(7, 0), 11, QStringLiteral("Alarm"), 64, none).Sound, QString());
    QCOMPARE(FirstStartAlarm(QStringLiteral("Hi"), 50, none).Sound, QString());
}

void TestAlarmRecord::stockSoundNamesResolveIntoTheSoundsFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("stock name") << "Birds"
                                << "/opt/lb/Sounds/Birds.mp3";
    QTest::newRow("file name with extension is a path") << "song.ogg"
                                                        << "song.ogg";
    QTest::newRow("absolute path without extension is unchanged") << "/music/Birds"
                                                                  << "/music/Birds";
    QTest::newRow("drive path is unchanged") << "C:\\Sounds\\Birds"
                                             << "C:\\Sounds\\Birds";
    QTest::newRow("empty stays empty") << ""
                                       << "";
}

void TestAlarmRecord::stockSoundNamesResolveIntoTheSoundsFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(ResolveSoundName(name, QStringLiteral("/opt/lb/Sounds/")), expected);
}

QTEST_GUILESS_MAIN(TestAlarmRecord)
#include "tst_alarmrecord.moc"

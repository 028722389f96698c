#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/alarms/LocalTime.h"
#include "core/alarms/Schedule.h"
#include "core/alarms/SkipNext.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <memory>

namespace {

const QLocale kLocale(QLocale::English, QLocale::UnitedStates);
const QString kDaily = QStringLiteral("1111111");
const QString kOneTime = QStringLiteral("0000000");

AlarmRecord alarm(int hour, int minute, const QString& days, QDate skip = {}, bool wake = false)
{
    AlarmRecord a;
    a.Time = QTime(hour, minute);
    for (int i = 0; i < 7; ++i)
        a.Days[size_t(i)] = days.at(i) == u'1';
    a.SkipDate = skip;
    a.WakeUp = wake;
    a.Label = QStringLiteral("Alarm %1:%2").arg(hour).arg(minute);
    return a;
}

LocalDateTime at(int y, int m, int d, int h, int min, int s = 0)
{
    return {QDate(y, m, d), QTime(h, min, s)};
}

QDateTime utc(int y, int m, int d, int h, int min, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s), Qt::UTC);
}

// A scheduler on a clock the test sets, in a zone the test chooses, saving into its own Data.ini.
struct Rig {
    struct Timers final : ScheduleTimers {
        QDateTime alarm;
        QDateTime wake;
        bool ArmAlarm(const QDateTime& utc) override
        {
            alarm = utc;
            return true;
        }
        WakeArming ArmWake(const QDateTime& utc, bool) override
        {
            wake = utc;
            return {true, false, {}};
        }
    };

    QTemporaryDir dir;
    TAppIni ini{dir.path(), QString()};
    Timers timers;
    QDateTime now;
    UtcOffsetAt offsets;
    std::unique_ptr<AlarmScheduler> scheduler;

    explicit Rig(const QTimeZone& zone = QTimeZone(QByteArrayLiteral("UTC")))
        : offsets(ZoneOffsets(zone))
    {
        ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
        start();
    }

    // A new scheduler on the same Data.ini, as a restart makes it.
    void start()
    {
        SchedulerClock clock;
        clock.now = [this] { return now; };
        clock.offsetAt = offsets;
        scheduler = std::make_unique<AlarmScheduler>(ini, timers, clock);
        scheduler->SetLocale(kLocale);
        scheduler->LoadAlarms();
    }

    void put(const QList<AlarmRecord>& alarms)
    {
        QStringList strings;
        for (const AlarmRecord& a : alarms)
            strings.append(BuildAlarmString(a));
        scheduler->SetAlarms(strings);
        scheduler->SaveAndRebuild();
    }

    QDate storedSkip(int index) const { return AlarmField::SkipDate(ini.ReadList(Settings::Alarms).value(index)); }
    QDate skip(int index) const { return AlarmField::SkipDate(scheduler->Alarms().value(index)); }
};

} // namespace

class TestSkipNext : public QObject
{
    Q_OBJECT

private slots:
    void nextOccurrenceAndToggling_data();
    void nextOccurrenceAndToggling();
    void oneTimeAlarmsCannotSkip();
    void pendingSkipFollowsTheAlarmsDays();
    void scheduleLeavesTheSkippedOccurrenceOut();
    void skipTodayButLaterGoesToTomorrow();
    void skipOnTheLastDayOfAMonth();
    void anotherAlarmOfTheSkippedMinuteStillRings();
    void skipClearsItselfWhenTheFollowingOccurrenceFires();
    void skipClearsItselfAtStartAndOnRebuild();
    void pendingSkipSurvivesARestart();
    void editingClearsASkipThatNoLongerMatches();
    void alarmMadeOneTimeRingsOnItsSkippedDay();
    void skipOnASpringForwardNight();
    void skipOnAFallBackNightStaysSkippedInTheRepeatedHour();
    void nextSkippableAlarmForTheTray();
    void dayTextLeavesOutTheYear_data();
    void dayTextLeavesOutTheYear();
};

void TestSkipNext::nextOccurrenceAndToggling_data()
{
    QTest::addColumn<QString>("days");
    QTest::addColumn<int>("hour");
    QTest::addColumn<LocalDateTime>("now");
    QTest::addColumn<LocalDateTime>("next");
    // Tuesday 8 December 2026.
    QTest::newRow("later today") << kDaily << 7 << at(2026, 12, 8, 6, 59, 59) << at(2026, 12, 8, 7, 0);
    QTest::newRow("at the minute: tomorrow") << kDaily << 7 << at(2026, 12, 8, 7, 0, 0) << at(2026, 12, 9, 7, 0);
    QTest::newRow("saturdays from a tuesday")
        << QStringLiteral("0000001") << 7 << at(2026, 12, 8, 8, 0) << at(2026, 12, 12, 7, 0);
    QTest::newRow("tuesdays after today's")
        << QStringLiteral("0010000") << 7 << at(2026, 12, 8, 8, 0) << at(2026, 12, 15, 7, 0);
    QTest::newRow("across the year") << QStringLiteral("0000100") << 7 << at(2026, 12, 31, 8, 0)
                                     << at(2027, 1, 7, 7, 0);
}

void TestSkipNext::nextOccurrenceAndToggling()
{
    QFETCH(QString, days);
    QFETCH(int, hour);
    QFETCH(LocalDateTime, now);
    QFETCH(LocalDateTime, next);
    const AlarmRecord plain = alarm(hour, 0, days);
    QCOMPARE(NextRepeat(plain, now), next);
    QCOMPARE(SkipTarget(plain, now), next);

    const AlarmRecord skipped = ToggleSkip(plain, now);
    QCOMPARE(skipped.SkipDate, next.date);
    QVERIFY(SkipPending(skipped, now));
    // The command names the same occurrence while the skip stands, so it can take it back.
    QCOMPARE(SkipTarget(skipped, now), next);
    QCOMPARE(NextRepeat(skipped, now), next);
    const AlarmRecord back = ToggleSkip(skipped, now);
    QCOMPARE(back, plain);
    // The string keeps it: Data.ini and backups carry the skip.
    QCOMPARE(ParseAlarmString(BuildAlarmString(skipped)).SkipDate, next.date);
}

void TestSkipNext::oneTimeAlarmsCannotSkip()
{
    const AlarmRecord once = alarm(7, 0, kOneTime);
    const LocalDateTime now = at(2026, 12, 8, 6, 0);
    QCOMPARE(NextRepeat(once, now), std::nullopt);
    QCOMPARE(ToggleSkip(once, now), once);
    // A date left over from when it repeated does nothing.
    AlarmRecord leftOver = once;
    leftOver.SkipDate = QDate(2026, 12, 8);
    QVERIFY(!SkipPending(leftOver, now));
    const ScheduleResult r = RebuildSchedule({BuildAlarmString(leftOver)}, now, kLocale);
    QCOMPARE(r.alarmAt, at(2026, 12, 8, 7, 0));
}

void TestSkipNext::pendingSkipFollowsTheAlarmsDays()
{
    const LocalDateTime now = at(2026, 12, 8, 6, 0); // Tuesday
    QVERIFY(SkipPending(alarm(7, 0, kDaily, QDate(2026, 12, 8)), now));
    QVERIFY(!SkipPending(alarm(5, 0, kDaily, QDate(2026, 12, 8)), now));                    // gone by today
    QVERIFY(!SkipPending(alarm(7, 0, kDaily, QDate(2026, 12, 7)), now));                    // yesterday
    QVERIFY(!SkipPending(alarm(7, 0, QStringLiteral("0100000"), QDate(2026, 12, 8)), now)); // Mondays only
    QVERIFY(SkipPending(alarm(7, 0, QStringLiteral("0010000"), QDate(2026, 12, 15)), now));

    QString cleared;
    const QString stale = BuildAlarmString(alarm(5, 0, kDaily, QDate(2026, 12, 8)));
    QCOMPARE(SpentSkip(stale, now, &cleared), QDate(2026, 12, 8));
    QCOMPARE(cleared, BuildAlarmString(alarm(5, 0, kDaily)));
    cleared.clear();
    QCOMPARE(SpentSkip(BuildAlarmString(alarm(7, 0, kDaily, QDate(2026, 12, 8))), now, &cleared), QDate());
    QCOMPARE(SpentSkip(BuildAlarmString(alarm(7, 0, kDaily)), now, &cleared), QDate());
    QVERIFY(cleared.isEmpty());
}

void TestSkipNext::scheduleLeavesTheSkippedOccurrenceOut()
{
    // Daily 07:00 skipping Wednesday, a weekday alarm at 08:00 waking the computer: the panel passes over
    // Wednesday's 07:00, and so do the alarm and wake timers when it would have come first.
    const QStringList alarms = {BuildAlarmString(alarm(7, 0, kDaily, QDate(2026, 12, 9), true)),
                                BuildAlarmString(alarm(8, 0, QStringLiteral("0111110")))};
    const ScheduleResult r = RebuildSchedule(alarms, at(2026, 12, 8, 9, 0), kLocale);
    QCOMPARE(r.alarmAt, at(2026, 12, 9, 8, 0));
    QCOMPARE(r.dueIndexes, QList<int>{1});
    QCOMPARE(r.nextAlarmIndex, 1);
    QCOMPARE(r.wakeAt, at(2026, 12, 10, 7, 0).addSecs(-ScheduleResult::kWakeLeadSeconds));
    QCOMPARE(r.panel.size(), 3);
    QCOMPARE(r.panel.at(1).listIndex, 0);
    QVERIFY2(r.panel.at(1).text.startsWith(kLocale.toString(QDate(2026, 12, 10), QLocale::ShortFormat)),
             qPrintable(r.panel.at(1).text));

    Rig rig;
    rig.now = utc(2026, 12, 8, 9, 0);
    rig.put({alarm(7, 0, kDaily, QDate(2026, 12, 9), true)});
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 10, 7, 0));
    QCOMPARE(rig.timers.wake, utc(2026, 12, 10, 6, 59, 50));
    QCOMPARE(rig.storedSkip(0), QDate(2026, 12, 9));
}

void TestSkipNext::skipTodayButLaterGoesToTomorrow()
{
    const LocalDateTime now = at(2026, 12, 8, 6, 15);
    const AlarmRecord skipped = ToggleSkip(alarm(7, 0, kDaily), now);
    QCOMPARE(skipped.SkipDate, QDate(2026, 12, 8));
    const ScheduleResult r = RebuildSchedule({BuildAlarmString(skipped)}, now, kLocale);
    QCOMPARE(r.alarmAt, at(2026, 12, 9, 7, 0));
    QCOMPARE(r.dueIndexes, QList<int>{0});
    // Nothing clears it before its time: a rebuild a minute before still leaves today out.
    Rig rig;
    rig.now = utc(2026, 12, 8, 6, 59);
    rig.put({skipped});
    QCOMPARE(rig.skip(0), QDate(2026, 12, 8));
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 9, 7, 0));
}

void TestSkipNext::skipOnTheLastDayOfAMonth()
{
    // Thursday 31 December 2026 and Tuesday 30 June 2026, last days of their months.
    const AlarmRecord dec = ToggleSkip(alarm(7, 0, kDaily), at(2026, 12, 30, 22, 0));
    QCOMPARE(dec.SkipDate, QDate(2026, 12, 31));
    QCOMPARE(RebuildSchedule({BuildAlarmString(dec)}, at(2026, 12, 30, 22, 0), kLocale).alarmAt, at(2027, 1, 1, 7, 0));
    const AlarmRecord tuesdays = ToggleSkip(alarm(23, 59, QStringLiteral("0010000")), at(2026, 6, 28, 12, 0));
    QCOMPARE(tuesdays.SkipDate, QDate(2026, 6, 30));
    QCOMPARE(RebuildSchedule({BuildAlarmString(tuesdays)}, at(2026, 6, 28, 12, 0), kLocale).alarmAt,
             at(2026, 7, 7, 23, 59));
    QCOMPARE(ParseAlarmString(BuildAlarmString(tuesdays)).SkipDate, QDate(2026, 6, 30));
}

void TestSkipNext::anotherAlarmOfTheSkippedMinuteStillRings()
{
    const QStringList alarms = {BuildAlarmString(alarm(7, 0, kDaily, QDate(2026, 12, 9))),
                                BuildAlarmString(alarm(7, 0, kDaily))};
    const ScheduleResult r = RebuildSchedule(alarms, at(2026, 12, 8, 9, 0), kLocale);
    QCOMPARE(r.alarmAt, at(2026, 12, 9, 7, 0));
    QCOMPARE(r.dueIndexes, QList<int>{1});
    QCOMPARE(r.nextAlarmIndex, 1);
}

void TestSkipNext::skipClearsItselfWhenTheFollowingOccurrenceFires()
{
    Rig rig;
    rig.now = utc(2026, 12, 7, 20, 0); // Monday evening: Tuesday's 07:00 is skipped
    rig.put({ToggleSkip(alarm(7, 0, kDaily), rig.scheduler->WallNow())});
    QCOMPARE(rig.storedSkip(0), QDate(2026, 12, 8));
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 9, 7, 0));

    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmsDue);
    rig.now = utc(2026, 12, 9, 7, 0, 0).addMSecs(120);
    rig.scheduler->FireDueAlarm();
    QCOMPARE(due.count(), 1);
    QCOMPARE(AlarmField::Time(due.first().first().toStringList().first()), QTime(7, 0));
    QVERIFY(!rig.skip(0).isValid());
    QVERIFY(!rig.storedSkip(0).isValid());
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 10, 7, 0));
}

void TestSkipNext::skipClearsItselfAtStartAndOnRebuild()
{
    Rig rig;
    rig.now = utc(2026, 12, 7, 20, 0);
    rig.put({ToggleSkip(alarm(7, 0, kDaily), rig.scheduler->WallNow()), alarm(12, 0, kDaily)});
    QCOMPARE(rig.storedSkip(0), QDate(2026, 12, 8));

    // Past the skipped occurrence, a rebuild for any reason (here the clock changed) forgets it.
    rig.now = utc(2026, 12, 8, 7, 0, 30);
    rig.scheduler->Rebuild();
    QVERIFY(!rig.skip(0).isValid());
    QVERIFY(!rig.storedSkip(0).isValid());
    QCOMPARE(rig.scheduler->Schedule().alarmAt, at(2026, 12, 8, 12, 0));

    // A skip stored by a run that ended before its time goes at the next start.
    rig.now = utc(2026, 12, 7, 20, 0);
    rig.put({ToggleSkip(alarm(7, 0, kDaily), rig.scheduler->WallNow())});
    QCOMPARE(rig.storedSkip(0), QDate(2026, 12, 8));
    rig.now = utc(2026, 12, 10, 9, 0);
    rig.start();
    QCOMPARE(rig.skip(0), QDate(2026, 12, 8)); // loaded as stored
    rig.scheduler->Rebuild();
    QVERIFY(!rig.storedSkip(0).isValid());
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 11, 7, 0));
}

void TestSkipNext::pendingSkipSurvivesARestart()
{
    Rig rig;
    rig.now = utc(2026, 12, 7, 20, 0);
    rig.put({ToggleSkip(alarm(7, 0, kDaily), rig.scheduler->WallNow())});
    rig.now = utc(2026, 12, 8, 6, 0);
    rig.start();
    rig.scheduler->Rebuild();
    QCOMPARE(rig.storedSkip(0), QDate(2026, 12, 8));
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 9, 7, 0));
}

void TestSkipNext::editingClearsASkipThatNoLongerMatches()
{
    Rig rig;
    rig.now = utc(2026, 12, 8, 6, 0); // Tuesday
    rig.put({alarm(7, 0, kDaily, QDate(2026, 12, 8)), alarm(7, 0, kDaily, QDate(2026, 12, 9)),
             alarm(7, 0, kDaily, QDate(2026, 12, 9))});
    // Wednesdays taken out; today's occurrence moved to before now; only the time moved, still ahead.
    rig.put({alarm(5, 0, kDaily, QDate(2026, 12, 8)), alarm(7, 0, QStringLiteral("1110111"), QDate(2026, 12, 9)),
             alarm(9, 0, kDaily, QDate(2026, 12, 9))});
    QVERIFY(!rig.storedSkip(0).isValid());
    QVERIFY(!rig.storedSkip(1).isValid());
    QCOMPARE(rig.storedSkip(2), QDate(2026, 12, 9));
    QCOMPARE(rig.scheduler->Schedule().alarmAt, at(2026, 12, 8, 7, 0));
    QCOMPARE(rig.scheduler->Schedule().dueIndexes, QList<int>{1});
}

void TestSkipNext::alarmMadeOneTimeRingsOnItsSkippedDay()
{
    Rig rig;
    rig.now = utc(2026, 12, 8, 6, 0);
    rig.put({alarm(7, 0, kDaily, QDate(2026, 12, 8))});
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 9, 7, 0));
    rig.put({alarm(7, 0, kOneTime, QDate(2026, 12, 8))});
    QVERIFY(!rig.storedSkip(0).isValid());
    QCOMPARE(rig.timers.alarm, utc(2026, 12, 8, 7, 0));
}

void TestSkipNext::skipOnASpringForwardNight()
{
    // Berlin, Sunday 29 March 2026: the clock goes from 02:00 to 03:00, so 02:30 rings at 03:00 (01:00 UTC).
    Rig rig(QTimeZone("Europe/Berlin"));
    rig.now = utc(2026, 3, 28, 21, 0);
    rig.put({alarm(2, 30, kDaily, {}, true)});
    QCOMPARE(rig.timers.alarm, utc(2026, 3, 29, 1, 0));
    rig.put({ToggleSkip(alarm(2, 30, kDaily, {}, true), rig.scheduler->WallNow())});
    QCOMPARE(rig.storedSkip(0), QDate(2026, 3, 29));
    QCOMPARE(rig.timers.alarm, utc(2026, 3, 30, 0, 30));
    QCOMPARE(rig.timers.wake, utc(2026, 3, 30, 0, 29, 50));
    // Just after the jump the skipped time has gone by: forgotten, Monday's stays armed.
    rig.now = utc(2026, 3, 29, 1, 0, 5);
    rig.scheduler->Rebuild();
    QVERIFY(!rig.storedSkip(0).isValid());
    QCOMPARE(rig.timers.alarm, utc(2026, 3, 30, 0, 30));
}

void TestSkipNext::skipOnAFallBackNightStaysSkippedInTheRepeatedHour()
{
    // Berlin, Sunday 25 October 2026: 03:00 summer time becomes 02:00 winter time, so 02:30 comes twice
    // (00:30 and 01:30 UTC). A skipped 02:30 rings at neither.
    Rig rig(QTimeZone("Europe/Berlin"));
    rig.now = utc(2026, 10, 25, 0, 10); // 02:10, first pass
    rig.put({ToggleSkip(alarm(2, 30, kDaily), rig.scheduler->WallNow())});
    QCOMPARE(rig.storedSkip(0), QDate(2026, 10, 25));
    QCOMPARE(rig.timers.alarm, utc(2026, 10, 26, 1, 30));
    rig.now = utc(2026, 10, 25, 0, 45); // 02:45 first pass: gone by
    rig.scheduler->Rebuild();
    QVERIFY(!rig.storedSkip(0).isValid());
    rig.now = utc(2026, 10, 25, 1, 10); // 02:10 again
    rig.scheduler->Rebuild();
    QCOMPARE(rig.scheduler->Schedule().alarmAt, at(2026, 10, 26, 2, 30));
    QCOMPARE(rig.timers.alarm, utc(2026, 10, 26, 1, 30));
}

void TestSkipNext::nextSkippableAlarmForTheTray()
{
    const LocalDateTime now = at(2026, 12, 8, 6, 0);
    QStringList alarms = {BuildAlarmString(alarm(6, 30, kOneTime)), BuildAlarmString(alarm(9, 0, kDaily)),
                          BuildAlarmString(alarm(7, 0, QStringLiteral("0010000"))),
                          BuildAlarmString(alarm(6, 45, kDaily))};
    AlarmRecord off = alarm(6, 10, kDaily);
    off.Enabled = false;
    alarms.append(BuildAlarmString(off));
    QCOMPARE(NextSkippableAlarm(alarms, now), 3);
    // Skipped, it is still the one the tray names, so the same item takes the skip back.
    alarms[3] = BuildAlarmString(ToggleSkip(ParseAlarmString(alarms.at(3)), now));
    QCOMPARE(NextSkippableAlarm(alarms, now), 3);
    QCOMPARE(NextSkippableAlarm({BuildAlarmString(alarm(6, 30, kOneTime))}, now), -1);
    QCOMPARE(NextSkippableAlarm({}, now), -1);
}

void TestSkipNext::dayTextLeavesOutTheYear_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("expected"); // empty: only the general checks
    QTest::newRow("en_US") << QLocale(QStringLiteral("en_US")) << QStringLiteral("Tue, Dec 8");
    QTest::newRow("en_GB") << QLocale(QStringLiteral("en_GB")) << QStringLiteral("Tue, 8 Dec");
    for (const char* name :
         {"de_DE", "es_ES", "fr_FR", "it_IT", "pl_PL", "ru_RU", "uk_UA", "ja_JP", "hu_HU", "zh_CN", "ko_KR", "lt_LT"})
        QTest::newRow(name) << QLocale(QLatin1String(name)) << QString();
}

void TestSkipNext::dayTextLeavesOutTheYear()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, expected);
    const QDate date(2026, 12, 8);
    const QString text = ShortDayText(date, locale);
    if (!expected.isEmpty())
        QCOMPARE(text, expected);
    QVERIFY2(!text.contains(QStringLiteral("2026")) && !text.contains(QStringLiteral("26")), qPrintable(text));
    QVERIFY2(text.contains(locale.toString(8)), qPrintable(text));
    QVERIFY2(text.contains(locale.dayName(2, QLocale::ShortFormat)), qPrintable(text));
    const QString occurrence = SkipOccurrenceText({date, QTime(7, 0)}, locale);
    QCOMPARE(occurrence, text + QStringLiteral(", ") + FormatShortTime(QTime(7, 0), locale));
}

QTEST_GUILESS_MAIN(TestSkipNext)
#include "tst_skipnext.moc"

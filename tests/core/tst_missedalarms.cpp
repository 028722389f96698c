#include "core/alarms/AlarmRecord.h"
#include "core/alarms/LocalTime.h"
#include "core/alarms/MissedAlarmWatch.h"
#include "core/alarms/MissedAlarms.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

namespace {

const QString kDaily = QStringLiteral("1111111");
const QString kOnce = QStringLiteral("0000000");

QString alarmAt(int hour, int minute, const QString& days, const QString& label = QStringLiteral("Alarm"))
{
    AlarmRecord a;
    a.Time = QTime(hour, minute);
    for (int i = 0; i < 7; ++i)
        a.Days[i] = days.at(i) == u'1';
    a.Label = label;
    return BuildAlarmString(a);
}

QDateTime utc(int y, int m, int d, int h, int min, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s), Qt::UTC);
}

LocalDateTime wall(int y, int m, int d, int h, int min)
{
    return {QDate(y, m, d), QTime(h, min)};
}

int noOffset(qint64)
{
    return 0;
}

UtcOffsetAt zone(const char* id)
{
    return ZoneOffsets(QTimeZone(id));
}

QList<QDateTime> dueTimes(const QList<DueOccurrence>& occurrences)
{
    QList<QDateTime> times;
    for (const DueOccurrence& o : occurrences)
        times.append(o.dueUtc);
    return times;
}

struct StandingTimers final : ScheduleTimers {
    QDateTime alarm;
    bool ArmAlarm(const QDateTime& utc) override
    {
        alarm = utc;
        return true;
    }
    WakeArming ArmWake(const QDateTime&, bool) override { return {}; }
};

// A scheduler and its watch on a Data.ini of their own, on a clock the test moves.
struct Rig {
    QTemporaryDir dir;
    QDateTime now = utc(2026, 12, 7, 6, 0);
    StandingTimers timers;
    TAppIni ini{dir.path(), QString()};
    std::unique_ptr<AlarmScheduler> scheduler;
    std::unique_ptr<MissedAlarmWatch> watch;

    Rig() { ini.SetFileName(dir.filePath(QStringLiteral("Data.ini"))); }

    void start()
    {
        SchedulerClock clock;
        clock.now = [this] { return now; };
        clock.offsetAt = noOffset;
        watch.reset();
        scheduler = std::make_unique<AlarmScheduler>(ini, timers, clock);
        watch = std::make_unique<MissedAlarmWatch>(ini, *scheduler, clock);
        scheduler->LoadAlarms();
        scheduler->Rebuild();
        watch->CatchUpAtStart();
    }

    QString lastRunText() const { return ini.ReadString(QString::fromUtf16(Settings::LastRunTime), QString()); }
};

} // namespace

class TestMissedAlarms : public QObject
{
    Q_OBJECT

private slots:
    // The program was killed before a 07:00 alarm and started again after it.
    void killedAndStartedAgain_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("late");
        QTest::addColumn<bool>("missed");
        QTest::newRow("inside the limit") << utc(2026, 12, 7, 7, 10) << 15 << true << false;
        QTest::newRow("exactly at the limit") << utc(2026, 12, 7, 7, 15) << 15 << true << false;
        QTest::newRow("a second past the limit") << utc(2026, 12, 7, 7, 15, 1) << 15 << false << true;
        QTest::newRow("outside the limit") << utc(2026, 12, 7, 9, 0) << 15 << false << true;
        QTest::newRow("a longer limit") << utc(2026, 12, 7, 7, 50) << 60 << true << false;
        QTest::newRow("limit off, minutes late") << utc(2026, 12, 7, 7, 2) << 0 << false << true;
        QTest::newRow("limit off, a moment late") << utc(2026, 12, 7, 7, 0, 5) << 0 << true << false;
        QTest::newRow("before the alarm") << utc(2026, 12, 7, 6, 59) << 15 << false << false;
    }
    void killedAndStartedAgain()
    {
        QFETCH(QDateTime, now);
        QFETCH(int, limit);
        QFETCH(bool, late);
        QFETCH(bool, missed);
        const QStringList alarms{alarmAt(7, 0, kDaily, QStringLiteral("Good morning!"))};
        const CatchUpResult r = CatchUpAlarms(alarms, utc(2026, 12, 7, 6, 30), now, noOffset, limit);
        QCOMPARE(r.late.size(), late ? 1 : 0);
        QCOMPARE(r.missed.size(), missed ? 1 : 0);
        for (const DueOccurrence& o : r.late + r.missed) {
            QCOMPARE(o.index, 0);
            QCOMPARE(o.alarm, alarms.first());
            QCOMPARE(o.due, wall(2026, 12, 7, 7, 0));
            QCOMPARE(o.dueUtc, utc(2026, 12, 7, 7, 0));
        }
        // A repeating alarm stays as it is: its next occurrence is tomorrow's.
        QVERIFY(!r.changed);
        QCOMPARE(r.alarms, alarms);
    }

    void oneTimeAlarms()
    {
        const QStringList alarms{alarmAt(7, 0, kOnce, QStringLiteral("Dentist")),
                                 alarmAt(8, 0, kOnce, QStringLiteral("Bus"))};
        // 07:00 is long gone at 08:05, 08:00 rings late.
        const CatchUpResult r = CatchUpAlarms(alarms, utc(2026, 12, 7, 6, 0), utc(2026, 12, 7, 8, 5), noOffset, 15);
        QCOMPARE(r.missed.size(), 1);
        QCOMPARE(r.missed.first().index, 0);
        QCOMPARE(r.late.size(), 1);
        QCOMPARE(r.late.first().index, 1);
        QVERIFY(r.changed);
        const AlarmRecord missed = ParseAlarmString(r.alarms.at(0));
        QVERIFY(!missed.Enabled);
        QVERIFY(missed.Missed);
        QCOMPARE(missed.Label, QStringLiteral("Dentist"));
        // One that rings late is switched off as any one-time alarm that rang, and is not marked.
        const AlarmRecord rang = ParseAlarmString(r.alarms.at(1));
        QVERIFY(!rang.Enabled);
        QVERIFY(!rang.Missed);

        // Off for days: a one-time alarm had one occurrence, not one a day.
        const CatchUpResult days = CatchUpAlarms(alarms, utc(2026, 12, 1, 6, 0), utc(2026, 12, 7, 9, 0), noOffset, 15);
        QCOMPARE(days.missed.size(), 2);
        QCOMPARE(dueTimes(days.missed), (QList<QDateTime>{utc(2026, 12, 1, 7, 0), utc(2026, 12, 1, 8, 0)}));
    }

    void disabledAlarmsAreNeverMissed()
    {
        AlarmRecord off = ParseAlarmString(alarmAt(7, 0, kDaily));
        off.Enabled = false;
        const QStringList alarms{BuildAlarmString(off)};
        const CatchUpResult r = CatchUpAlarms(alarms, utc(2026, 12, 7, 6, 0), utc(2026, 12, 7, 9, 0), noOffset, 15);
        QVERIFY(r.IsEmpty());
        QVERIFY(!r.changed);
    }

    // The run was last marked when the user saved a one-time alarm for 09:00 at 10:00: it is meant for
    // tomorrow and was not due while the program was away.
    void createdAfterItsTimeIsNotMissed()
    {
        const QStringList alarms{alarmAt(9, 0, kOnce)};
        const CatchUpResult sameDay =
            CatchUpAlarms(alarms, utc(2026, 12, 7, 10, 0), utc(2026, 12, 7, 23, 0), noOffset, 15);
        QVERIFY(sameDay.IsEmpty());
        QVERIFY(!sameDay.changed);
        // Tomorrow at 09:05 it is due, five minutes ago.
        const CatchUpResult tomorrow =
            CatchUpAlarms(alarms, utc(2026, 12, 7, 10, 0), utc(2026, 12, 8, 9, 5), noOffset, 15);
        QCOMPARE(tomorrow.late.size(), 1);
        QCOMPARE(tomorrow.late.first().dueUtc, utc(2026, 12, 8, 9, 0));
    }

    // The machine slept from 06:30 to 10:00 and the alarm timer fired late on resume: the catch-up starts
    // a second before the instant it was armed for, and takes in every alarm the sleep passed over.
    void lateFiringAfterSuspend()
    {
        const QStringList alarms{alarmAt(7, 0, kDaily), alarmAt(8, 0, kOnce), alarmAt(9, 55, kDaily),
                                 alarmAt(11, 0, kDaily)};
        const QDateTime armedFor = utc(2026, 12, 7, 7, 0);
        const CatchUpResult r = CatchUpAlarms(alarms, armedFor.addSecs(-1), utc(2026, 12, 7, 10, 0), noOffset, 15);
        QCOMPARE(dueTimes(r.missed), (QList<QDateTime>{utc(2026, 12, 7, 7, 0), utc(2026, 12, 7, 8, 0)}));
        QCOMPARE(dueTimes(r.late), QList<QDateTime>{utc(2026, 12, 7, 9, 55)});
        QCOMPARE(r.late.first().index, 2);
        QVERIFY(ParseAlarmString(r.alarms.at(1)).Missed);
    }

    // Off for three days: every occurrence is listed oldest first, alarms of one minute in list order, and
    // only the latest occurrence of an alarm can still ring.
    void severalMissedAtOnce()
    {
        const QStringList alarms{alarmAt(6, 0, kDaily, QStringLiteral("A")), alarmAt(6, 0, kOnce, QStringLiteral("B")),
                                 alarmAt(7, 0, QStringLiteral("0111110"), QStringLiteral("C"))};
        // 2026-12-05 is a Saturday.
        const CatchUpResult r = CatchUpAlarms(alarms, utc(2026, 12, 5, 5, 0), utc(2026, 12, 7, 7, 5), noOffset, 15);
        QList<std::pair<int, QDateTime>> missed;
        for (const DueOccurrence& o : r.missed)
            missed.append({o.index, o.dueUtc});
        const QList<std::pair<int, QDateTime>> expected{{0, utc(2026, 12, 5, 6, 0)},
                                                        {1, utc(2026, 12, 5, 6, 0)},
                                                        {0, utc(2026, 12, 6, 6, 0)},
                                                        {0, utc(2026, 12, 7, 6, 0)}};
        QCOMPARE(missed, expected);
        QCOMPARE(r.late.size(), 1);
        QCOMPARE(r.late.first().index, 2);
        QCOMPARE(r.late.first().due, wall(2026, 12, 7, 7, 0));
    }

    void longAbsenceIsBounded()
    {
        const QStringList alarms{alarmAt(6, 0, kDaily), alarmAt(18, 0, kDaily)};
        const CatchUpResult r = CatchUpAlarms(alarms, utc(2025, 1, 1, 0, 0), utc(2026, 12, 7, 12, 0), noOffset, 15);
        QCOMPARE(r.missed.size(), kMaxMissedOccurrences);
        // The most recent are kept.
        QCOMPARE(r.missed.last().dueUtc, utc(2026, 12, 7, 6, 0));
        QVERIFY(r.missed.first().dueUtc >= utc(2026, 12, 7, 12, 0).addDays(-kCatchUpDays));
    }

    void nothingWithoutAPastRun()
    {
        const QStringList alarms{alarmAt(7, 0, kDaily)};
        QVERIFY(CatchUpAlarms(alarms, QDateTime(), utc(2026, 12, 7, 9, 0), noOffset, 15).IsEmpty());
        // A last run ahead of the clock (the clock was set back) looks for nothing.
        QVERIFY(CatchUpAlarms(alarms, utc(2026, 12, 8, 9, 0), utc(2026, 12, 7, 9, 0), noOffset, 15).IsEmpty());
    }

    // Spring forward in Berlin on 2026-03-29: 02:00 becomes 03:00. An alarm at 02:30 rings at 03:00, so at
    // 03:10 it is ten minutes late, not forty.
    void daylightSavingGap()
    {
        const UtcOffsetAt berlin = zone("Europe/Berlin");
        const QStringList alarms{alarmAt(2, 30, kDaily)};
        const QDateTime since = LocalToUtc(wall(2026, 3, 29, 1, 0), berlin);
        const QDateTime now = LocalToUtc(wall(2026, 3, 29, 3, 10), berlin);
        const CatchUpResult r = CatchUpAlarms(alarms, since, now, berlin, 15);
        QCOMPARE(r.missed.size(), 0);
        QCOMPARE(r.late.size(), 1);
        QCOMPARE(r.late.first().dueUtc, utc(2026, 3, 29, 1, 0));
        QCOMPARE(r.late.first().due, wall(2026, 3, 29, 2, 30));
        // At 03:20 it is twenty minutes late.
        const CatchUpResult later =
            CatchUpAlarms(alarms, since, LocalToUtc(wall(2026, 3, 29, 3, 20), berlin), berlin, 15);
        QCOMPARE(later.missed.size(), 1);
    }

    // Fall back in Berlin on 2026-10-25: 03:00 becomes 02:00 and 02:30 comes twice. Started at 02:10 of the
    // second pass, the first 02:30 lies before the last run; the second one is what is due.
    void daylightSavingOverlap()
    {
        const UtcOffsetAt berlin = zone("Europe/Berlin");
        const QStringList alarms{alarmAt(2, 30, kDaily)};
        const QDateTime since = utc(2026, 10, 25, 1, 10); // 02:10 CET
        const QDateTime now = utc(2026, 10, 25, 1, 40);   // 02:40 CET
        const CatchUpResult r = CatchUpAlarms(alarms, since, now, berlin, 15);
        QCOMPARE(r.late.size(), 1);
        QCOMPARE(r.late.first().dueUtc, utc(2026, 10, 25, 1, 30));
        // Killed at 02:40 of the first pass and back at 02:20 of the second: the wall clock went back, and
        // what rang in the first pass is not looked for again.
        QVERIFY(CatchUpAlarms(alarms, utc(2026, 10, 25, 0, 40), utc(2026, 10, 25, 1, 20), berlin, 15).IsEmpty());
    }

    // A snooze whose end the computer slept through, or a timer that came in late.
    void lateness()
    {
        QCOMPARE(JudgeLateness(-500, 15), LateRing::OnTime);
        QCOMPARE(JudgeLateness(kOnTimeSecs * 1000, 15), LateRing::OnTime);
        QCOMPARE(JudgeLateness(kOnTimeSecs * 1000 + 1, 15), LateRing::Late);
        QCOMPARE(JudgeLateness(15 * 60 * 1000, 15), LateRing::Late);
        QCOMPARE(JudgeLateness(15 * 60 * 1000 + 1, 15), LateRing::Dropped);
        QCOMPARE(JudgeLateness(8LL * 3600 * 1000, 60), LateRing::Dropped);
        // Limit off: only on time rings.
        QCOMPARE(JudgeLateness(kOnTimeSecs * 1000, 0), LateRing::OnTime);
        QCOMPARE(JudgeLateness(kOnTimeSecs * 1000 + 1, 0), LateRing::Dropped);
    }

    void limitFromSetting()
    {
        for (int choice : kMissedLimitChoices)
            QCOMPARE(MissedLimitFromSetting(choice), choice);
        for (int stored : {-1, 1, 14, 16, 61, 100000, INT_MIN})
            QCOMPARE(MissedLimitFromSetting(stored), kDefaultMissedLimitMinutes);
    }

    // Killed at 06:30 and started at 09:00: the 07:00 one-time alarm is switched off and marked, the 08:55
    // daily one rings late, and the list of missed ones survives the next start until it is acknowledged.
    void watchAtStart()
    {
        Rig rig;
        rig.ini.WriteList(Settings::Alarms, {alarmAt(7, 0, kOnce, QStringLiteral("Good morning!")),
                                             alarmAt(8, 55, kDaily, QStringLiteral("Bus"))});
        rig.ini.WriteString(QString::fromUtf16(Settings::LastRunTime), QStringLiteral("2026-12-07T06:30:00Z"));
        rig.now = utc(2026, 12, 7, 9, 0);
        rig.start();
        QCOMPARE(rig.lastRunText(), QStringLiteral("2026-12-07T09:00:00Z"));
        const AlarmRecord missed = ParseAlarmString(rig.ini.ReadList(Settings::Alarms).at(0));
        QVERIFY(!missed.Enabled);
        QVERIFY(missed.Missed);
        QCOMPARE(rig.watch->Unacknowledged(), QStringList{QStringLiteral("2026-12-07T07:00 Good morning!")});
        // The one-time alarm is not rescheduled for tomorrow; the daily one is next.
        QCOMPARE(rig.scheduler->Schedule().alarmAt, (std::optional<LocalDateTime>{wall(2026, 12, 8, 8, 55)}));

        // A second start finds the same list, and nothing new.
        rig.now = utc(2026, 12, 7, 9, 30);
        rig.start();
        QCOMPARE(rig.watch->Unacknowledged().size(), 1);
        QSignalSpy changed(rig.watch.get(), &MissedAlarmWatch::unacknowledgedChanged);
        rig.watch->Acknowledge();
        QCOMPARE(changed.count(), 1);
        QVERIFY(rig.watch->Unacknowledged().isEmpty());
        rig.start();
        QVERIFY(rig.watch->Unacknowledged().isEmpty());
    }

    void watchSignals()
    {
        Rig rig;
        rig.ini.WriteList(Settings::Alarms,
                          {alarmAt(7, 0, kDaily, QStringLiteral("A")), alarmAt(8, 55, kDaily, QStringLiteral("B"))});
        rig.ini.WriteString(QString::fromUtf16(Settings::LastRunTime), QStringLiteral("2026-12-07T06:30:00Z"));
        rig.now = utc(2026, 12, 7, 9, 0);
        SchedulerClock clock;
        clock.now = [&rig] { return rig.now; };
        clock.offsetAt = noOffset;
        AlarmScheduler scheduler(rig.ini, rig.timers, clock);
        MissedAlarmWatch watch(rig.ini, scheduler, clock);
        QSignalSpy late(&watch, &MissedAlarmWatch::lateAlarmsDue);
        QSignalSpy missed(&watch, &MissedAlarmWatch::alarmsMissed);
        scheduler.LoadAlarms();
        scheduler.Rebuild();
        watch.CatchUpAtStart();
        QCOMPARE(missed.count(), 1);
        QCOMPARE(missed.first().first().toStringList(), QStringList{QStringLiteral("2026-12-07T07:00 A")});
        QCOMPARE(late.count(), 1);
        QCOMPARE(late.first().first().toStringList(), QStringList{rig.ini.ReadList(Settings::Alarms).at(1)});
        QCOMPARE(late.first().at(1).value<QList<LocalDateTime>>(), QList<LocalDateTime>{wall(2026, 12, 7, 8, 55)});
    }

    // The computer slept from 06:30 to 10:00 without waking for the alarms; the alarm timer, armed for 07:00,
    // fires on resume.
    void watchLateFiring()
    {
        Rig rig;
        rig.ini.WriteList(Settings::Alarms,
                          {alarmAt(7, 0, kDaily, QStringLiteral("A")), alarmAt(8, 0, kOnce, QStringLiteral("B")),
                           alarmAt(9, 50, kDaily, QStringLiteral("C"))});
        rig.now = utc(2026, 12, 7, 6, 30);
        rig.start();
        QCOMPARE(rig.timers.alarm, utc(2026, 12, 7, 7, 0));
        QSignalSpy late(rig.watch.get(), &MissedAlarmWatch::lateAlarmsDue);
        QSignalSpy missed(rig.watch.get(), &MissedAlarmWatch::alarmsMissed);

        // On time, or a few seconds late, the firing is the scheduler's.
        rig.now = utc(2026, 12, 7, 7, 0, 3);
        QVERIFY(!rig.watch->HandleLateFiring());

        rig.now = utc(2026, 12, 7, 10, 0);
        QVERIFY(rig.watch->HandleLateFiring());
        QCOMPARE(missed.count(), 1);
        QCOMPARE(missed.first().first().toStringList(),
                 (QStringList{QStringLiteral("2026-12-07T07:00 A"), QStringLiteral("2026-12-07T08:00 B")}));
        QCOMPARE(late.count(), 1);
        QCOMPARE(late.first().at(1).value<QList<LocalDateTime>>(), QList<LocalDateTime>{wall(2026, 12, 7, 9, 50)});
        // Re-armed for tomorrow, the one-time alarm switched off and saved so.
        QCOMPARE(rig.timers.alarm, utc(2026, 12, 8, 7, 0));
        QVERIFY(ParseAlarmString(rig.ini.ReadList(Settings::Alarms).at(1)).Missed);

        // With the limit off the late one is missed too.
        rig.watch->SetLimit(0);
        rig.now = utc(2026, 12, 8, 7, 5);
        QVERIFY(rig.watch->HandleLateFiring());
        QCOMPARE(late.count(), 1);
        QCOMPARE(missed.count(), 2);
    }

    // When the program last ran is written a moment after the schedule changes, not before.
    void watchMarksAfterAChange()
    {
        Rig rig;
        rig.ini.WriteList(Settings::Alarms, {alarmAt(7, 0, kDaily)});
        rig.start();
        QCOMPARE(rig.lastRunText(), QStringLiteral("2026-12-07T06:00:00Z"));
        rig.now = utc(2026, 12, 7, 6, 20);
        rig.scheduler->SaveAndRebuild();
        QCOMPARE(rig.lastRunText(), QStringLiteral("2026-12-07T06:00:00Z"));
        QTRY_COMPARE(rig.lastRunText(), QStringLiteral("2026-12-07T06:20:00Z"));
        QCOMPARE(rig.watch->LastRun(), utc(2026, 12, 7, 6, 20));
    }

    void watchReadsDefensively()
    {
        Rig rig;
        rig.start();
        for (const char* text : {"", "abc", "2026-12-07", "2026-12-07T25:00:00Z", "7:00"}) {
            rig.ini.WriteString(QString::fromUtf16(Settings::LastRunTime), QString::fromLatin1(text));
            QVERIFY2(!rig.watch->LastRun().isValid(), text);
        }
        rig.ini.WriteString(QString::fromUtf16(Settings::MissedAlarmLimit.name), QStringLiteral("abc"));
        QCOMPARE(rig.watch->Limit(), kDefaultMissedLimitMinutes);
        rig.ini.WriteInteger(QString::fromUtf16(Settings::MissedAlarmLimit.name), 7);
        QCOMPARE(rig.watch->Limit(), kDefaultMissedLimitMinutes);
        rig.watch->SetLimit(30);
        QCOMPARE(rig.watch->Limit(), 30);
        rig.ini.WriteList(Settings::MissedAlarms, {QStringLiteral("junk"), QStringLiteral("2026-12-07T07:00 ok")});
        QCOMPARE(rig.watch->Unacknowledged(), QStringList{QStringLiteral("2026-12-07T07:00 ok")});
    }

    void entries()
    {
        const QString entry = MissedEntry(wall(2026, 3, 29, 2, 30), QStringLiteral("Two\r\nlines"));
        QCOMPARE(entry, QStringLiteral("2026-03-29T02:30 Two||lines"));
        const auto parsed = ParseMissedEntry(entry);
        QVERIFY(parsed);
        QCOMPARE(parsed->first, wall(2026, 3, 29, 2, 30));
        QCOMPARE(parsed->second, QStringLiteral("Two\r\nlines"));
        QCOMPARE(ParseMissedEntry(QStringLiteral("2026-12-07T07:00"))->second, QString());

        const QStringList stored{entry,
                                 QString(),
                                 QStringLiteral("garbage"),
                                 QStringLiteral("2026-13-01T07:00 month"),
                                 QStringLiteral("2026-12-07T25:00 hour"),
                                 QStringLiteral("2026-12-07 07:00 no T"),
                                 QStringLiteral("2026-12-07T07:00label"),
                                 entry,
                                 QStringLiteral("2026-12-07T07:00 ok")};
        QCOMPARE(ValidMissedEntries(stored), (QStringList{entry, QStringLiteral("2026-12-07T07:00 ok")}));
    }
};

QTEST_GUILESS_MAIN(TestMissedAlarms)
#include "tst_missedalarms.moc"

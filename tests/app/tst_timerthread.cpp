#include "TestScheduler.h"
#include "TimeZoneScope.h"
#include "app/TimerThread.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/alarms/AppClock.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "platform/fake/FakePlatform.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

QString makeAlarm(int minutes, const QString& days, bool wake)
{
    AlarmRecord a;
    a.Time = MinutesToTime(minutes);
    for (int i = 0; i < 7; ++i)
        a.Days[i] = days.at(i) == u'1';
    a.WakeUp = wake;
    return BuildAlarmString(a);
}

const QString kDaily = QStringLiteral("1111111");
const QString kOnce = QStringLiteral("0000000");

WallTime utc(int y, int m, int d, int h, int min, int s = 0)
{
    return ToWallTime(QDateTime(QDate(y, m, d), QTime(h, min, s), Qt::UTC));
}

// A scheduler on the fake platform with a clock the test sets, in Berlin. `now` is the program's time; the
// fake platform's timers run on the system's, which is `programClock`'s offset behind.
struct Rig {
    QTemporaryDir dir;
    FakePlatform platform;
    TAppIni ini{dir.path(), dir.path()};
    QDateTime now;
    AppClock programClock;
    std::unique_ptr<TTimerThread> timers;
    std::unique_ptr<AlarmScheduler> scheduler;

    explicit Rig(WakePath wakePath = WakePath::RealtimeAlarm, const AppClock& clockOffset = AppClock())
        : programClock(clockOffset)
    {
        ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
        platform.SetWakePath(wakePath);
        timers = TTimerThread::Create(
            platform, [this] { scheduler->FireDueAlarm(); }, programClock);
        SchedulerClock clock;
        clock.now = [this] { return now; };
        clock.offsetAt = ZoneOffsets(QTimeZone("Europe/Berlin"));
        scheduler = std::make_unique<AlarmScheduler>(ini, *timers, clock);
    }

    void setNow(int y, int m, int d, int h, int min, int s = 0)
    {
        now = QDateTime(QDate(y, m, d), QTime(h, min, s), QTimeZone("Europe/Berlin"));
    }

    // Moves the clock to the alarm timer's due time and lets it fire.
    void fireAtDueTime()
    {
        now = scheduler->AlarmDueUtc().toTimeZone(QTimeZone("Europe/Berlin"));
        QVERIFY(platform.AdvanceTo(ToWallTime(programClock.ToSystemClock(scheduler->AlarmDueUtc()))));
    }
};

} // namespace

class TestTimerThread : public QObject
{
    Q_OBJECT

private slots:
    void armsAlarmAndWakeTimersInOrder();
    void wakeTimerWithoutWakeSupportIsStillArmed();
    void nothingEnabledParksTheAlarmTimerAndWithdrawsTheWake();
    void oneTimeAlarmIsDisabledAndSavedAfterFiring();
    void repeatingAlarmIsReArmedForItsNextDay();
    void strayFiringBeforeTheDueTimeRingsNothing();
    void clockChangesWithinTheDelayRebuildOnce();
    void timerCreationFailureIsReported();
    void armingAcrossTheSpringForwardGap();
    void alarmsOfOneMinuteRingTogether();
    void anAlarmAddedAtTheMinuteThatRangWaitsForTomorrow();
    void shiftedClockArmsBothTimersOnTheSystemClock_data();
    void shiftedClockArmsBothTimersOnTheSystemClock();
    void shiftedProgramRingsAtItsOwnMinuteOnTheRealTimer_data();
    void shiftedProgramRingsAtItsOwnMinuteOnTheRealTimer();
};

void TestTimerThread::armsAlarmAndWakeTimersInOrder()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 5, 0);
    rig.scheduler->SetAlarms({makeAlarm(360, kDaily, false), makeAlarm(420, kOnce, true)});
    rig.platform.ClearArmCalls();
    rig.scheduler->Rebuild();
    const auto& calls = rig.platform.ArmCalls();
    QCOMPARE(calls.size(), size_t(2));
    QCOMPARE(calls[0].timer, FakePlatform::Timer::Alarm);
    QVERIFY(calls[0].due == utc(2026, 12, 8, 5, 0)); // 06:00 in Berlin is 05:00 UTC in winter
    QCOMPARE(calls[1].timer, FakePlatform::Timer::Wake);
    QVERIFY(calls[1].due == utc(2026, 12, 8, 5, 59, 50)); // ten seconds before the 07:00 wake alarm
    QVERIFY(calls[1].wakes);
}

void TestTimerThread::wakeTimerWithoutWakeSupportIsStillArmed()
{
    Rig rig(WakePath::None);
    rig.setNow(2026, 12, 8, 6, 59);
    rig.scheduler->SetAlarms({makeAlarm(420, kOnce, true)});
    rig.scheduler->Rebuild();
    QVERIFY(rig.platform.WakeDue() == utc(2026, 12, 8, 5, 59, 50));
    QVERIFY(!rig.platform.ArmCalls().back().wakes);
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 8, 6, 0));
}

void TestTimerThread::nothingEnabledParksTheAlarmTimerAndWithdrawsTheWake()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 5, 0);
    AlarmRecord disabled = ParseAlarmString(makeAlarm(360, kDaily, true));
    disabled.Enabled = false;
    rig.scheduler->SetAlarms({BuildAlarmString(disabled)});
    rig.scheduler->Rebuild();
    QVERIFY(rig.platform.AlarmDue() == utc(2027, 12, 8, 4, 0)); // a year ahead
    QVERIFY(!rig.platform.WakeDue());
    QVERIFY(!rig.platform.AdvanceTo(utc(2027, 1, 1, 0, 0)));
}

void TestTimerThread::oneTimeAlarmIsDisabledAndSavedAfterFiring()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 6, 59, 30);
    rig.scheduler->SetAlarms({makeAlarm(420, kOnce, false)});
    rig.scheduler->Rebuild();
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmsDue);
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 1);
    const QString saved = rig.ini.ReadList(Settings::Alarms).value(0);
    QCOMPARE(saved.mid(4, 1), QStringLiteral("0"));
    QCOMPARE(ParseAlarmString(saved).Time, QTime(7, 0));
    QVERIFY(rig.platform.AlarmDue() > utc(2027, 1, 1, 0, 0)); // parked: nothing left to ring
}

void TestTimerThread::repeatingAlarmIsReArmedForItsNextDay()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 6, 59, 30);
    rig.scheduler->SetAlarms({makeAlarm(420, kDaily, false)});
    rig.scheduler->Rebuild();
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmsDue);
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 1);
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 9, 6, 0));
    QVERIFY(AlarmField::Enabled(rig.scheduler->Alarms().at(0)));
}

void TestTimerThread::strayFiringBeforeTheDueTimeRingsNothing()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 5, 0);
    rig.scheduler->SetAlarms({makeAlarm(420, kDaily, false)});
    rig.scheduler->Rebuild();
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmsDue);
    QVERIFY(rig.platform.FireAlarmTimer());
    QCOMPARE(due.size(), 0);
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 8, 6, 0));
}

void TestTimerThread::clockChangesWithinTheDelayRebuildOnce()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 5, 0);
    rig.scheduler->SetAlarms({makeAlarm(420, kDaily, false)});
    rig.scheduler->Rebuild();
    rig.scheduler->SetClockChangeDelay(50);
    auto watch = rig.platform.WatchClock([&rig](ClockChange) { rig.scheduler->ClockChanged(); });
    QSignalSpy rebuilt(rig.scheduler.get(), &AlarmScheduler::scheduleChanged);
    rig.setNow(2026, 12, 8, 8, 0); // the clock was set forward past the alarm
    rig.platform.ChangeClock(ClockChange::TimeSet);
    rig.platform.ChangeClock(ClockChange::ZoneChanged);
    QVERIFY(rig.scheduler->ClockChangePending());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.scheduler->ClockChangePending(), 5000);
    QCOMPARE(rebuilt.size(), 1);
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 9, 6, 0));
}

void TestTimerThread::timerCreationFailureIsReported()
{
    FakePlatform platform;
    platform.SetTimerCreationFails(true);
    QVERIFY(!TTimerThread::Create(platform, [] {}));
}

void TestTimerThread::armingAcrossTheSpringForwardGap()
{
    Rig rig;
    rig.setNow(2026, 3, 29, 1, 0);
    rig.scheduler->SetAlarms({makeAlarm(150, kDaily, true)}); // 02:30 does not exist that night
    rig.scheduler->Rebuild();
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 3, 29, 1, 0)); // rings when the clock jumps to 03:00
    QVERIFY(rig.platform.WakeDue() == utc(2026, 3, 29, 0, 59, 50));
}

void TestTimerThread::alarmsOfOneMinuteRingTogether()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 6, 59, 30); // a Tuesday
    const QString weekend = QStringLiteral("1000001");
    const QStringList alarms = {makeAlarm(420, kOnce, false),   makeAlarm(420, kDaily, false),
                                makeAlarm(420, weekend, false), makeAlarm(420, kOnce, true),
                                makeAlarm(420, kDaily, true),   makeAlarm(421, kOnce, false)};
    rig.scheduler->SetAlarms(alarms);
    rig.scheduler->SaveAndRebuild();
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmsDue);
    QSignalSpy rebuilt(rig.scheduler.get(), &AlarmScheduler::scheduleChanged);
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 1);
    QCOMPARE(due.at(0).at(0).toStringList(), (QStringList{alarms.at(0), alarms.at(1), alarms.at(3), alarms.at(4)}));
    QCOMPARE(rebuilt.size(), 1); // switched off, saved and rescheduled once for all of them

    const QStringList saved = rig.ini.ReadList(Settings::Alarms);
    QCOMPARE(saved.size(), alarms.size());
    const QList<bool> enabled = {false, true, true, false, true, true};
    for (qsizetype i = 0; i < saved.size(); ++i) {
        QCOMPARE(AlarmField::Enabled(saved.at(i)), enabled.at(i));
        QCOMPARE(AlarmField::Enabled(rig.scheduler->Alarms().at(i)), enabled.at(i));
    }
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 8, 6, 1)); // the next minute's alarm was not held up
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 2);

    // The repeating ones keep their day: tomorrow at 07:00, together again.
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 9, 6, 0));
    QVERIFY(rig.platform.WakeDue() == utc(2026, 12, 9, 5, 59, 50));
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 3);
    QCOMPARE(due.at(2).at(0).toStringList(), (QStringList{alarms.at(1), alarms.at(4)}));
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 10, 6, 0));
}

void TestTimerThread::anAlarmAddedAtTheMinuteThatRangWaitsForTomorrow()
{
    Rig rig;
    rig.setNow(2026, 12, 8, 6, 59, 30);
    rig.scheduler->SetAlarms({makeAlarm(420, kOnce, false), makeAlarm(420, kDaily, false)});
    rig.scheduler->SaveAndRebuild();
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmsDue);
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 1);
    QCOMPARE(due.at(0).at(0).toStringList().size(), 2);

    rig.setNow(2026, 12, 8, 7, 0, 40);
    const QString added = makeAlarm(420, kOnce, false);
    PutAlarm(*rig.scheduler, 2, added);
    PutAlarm(*rig.scheduler, 0, makeAlarm(420, kOnce, false)); // the one that rang, switched on again
    QVERIFY(rig.platform.AlarmDue() == utc(2026, 12, 9, 6, 0));
    QVERIFY(!rig.platform.AdvanceTo(utc(2026, 12, 9, 5, 59, 59)));
    QCOMPARE(due.size(), 1);
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 2);
    QCOMPARE(due.at(1).at(0).toStringList(), (QStringList{added, rig.scheduler->Alarms().at(1), added}));
}

void TestTimerThread::shiftedClockArmsBothTimersOnTheSystemClock_data()
{
    QTest::addColumn<qint64>("offsetMs");
    QTest::newRow("program ahead of the system") << qint64(5 * 3600 * 1000 + 1234);
    QTest::newRow("program behind the system") << qint64(-3 * 86400 * 1000 - 1);
}

void TestTimerThread::shiftedClockArmsBothTimersOnTheSystemClock()
{
    QFETCH(qint64, offsetMs);
    Rig rig(WakePath::RealtimeAlarm, AppClock(offsetMs));
    rig.setNow(2026, 12, 8, 5, 0);
    rig.scheduler->SetAlarms({makeAlarm(360, kOnce, false), makeAlarm(420, kOnce, true)});
    rig.platform.ClearArmCalls();
    rig.scheduler->Rebuild();
    const auto system = [offsetMs](const WallTime& programTime) {
        return programTime - std::chrono::milliseconds(offsetMs);
    };
    QVERIFY(rig.scheduler->AlarmDueUtc() == QDateTime(QDate(2026, 12, 8), QTime(5, 0), Qt::UTC));
    QVERIFY(rig.platform.AlarmDue() == system(utc(2026, 12, 8, 5, 0)));
    QVERIFY(rig.platform.WakeDue() == system(utc(2026, 12, 8, 5, 59, 50)));

    // A millisecond before the system clock reaches the shifted instant nothing fires; at it, the alarm rings.
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmsDue);
    QVERIFY(!rig.platform.AdvanceTo(system(utc(2026, 12, 8, 5, 0)) - std::chrono::milliseconds(1)));
    rig.fireAtDueTime();
    QCOMPARE(due.size(), 1);
    QVERIFY(rig.platform.AlarmDue() == system(utc(2026, 12, 8, 6, 0)));
}

void TestTimerThread::shiftedProgramRingsAtItsOwnMinuteOnTheRealTimer_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QByteArray>("tz");
    QTest::newRow("TZ unset") << false << QByteArray();
    QTest::newRow("TZ=UTC+3") << true << QByteArray("UTC+3");
    QTest::newRow("TZ=<+0530>-5:30") << true << QByteArray("<+0530>-5:30");
    QTest::newRow("TZ=EST5EDT,M3.2.0,M11.1.0") << true << QByteArray("EST5EDT,M3.2.0,M11.1.0");
}

void TestTimerThread::shiftedProgramRingsAtItsOwnMinuteOnTheRealTimer()
{
    // The program's clock runs days behind the system's, set so that its next minute is a second and a half
    // away: the system's wall-clock timer rings the alarm of that minute when the program's clock shows it
    // in local time, neither at once (armed on the program's time, it would stand days in the past) nor
    // hours off (local time read one way for "now" and another for the alarm).
    QFETCH(bool, set);
    QFETCH(QByteArray, tz);
    const TimeZoneScope scope(set ? std::optional<QByteArray>(tz) : std::nullopt);
    std::unique_ptr<Platform> platform = CreatePlatform();
    QTemporaryDir dir;
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    const qint64 real = QDateTime::currentMSecsSinceEpoch();
    constexpr qint64 kToNextMinuteMs = 1500;
    const AppClock clock(-3 * 86400 * 1000 + (60000 - kToNextMinuteMs) - real % 60000);
    AlarmScheduler* scheduler = nullptr;
    std::optional<qint64> rangAt;
    auto timers = TTimerThread::Create(
        *platform,
        [&] {
            rangAt = clock.NowMSecs();
            scheduler->FireDueAlarm();
        },
        clock);
    QVERIFY(timers);
    SchedulerClock schedulerClock;
    schedulerClock.now = [&clock] { return clock.Now(); };
    AlarmScheduler alarms(ini, *timers, schedulerClock);
    scheduler = &alarms;
    QSignalSpy due(scheduler, &AlarmScheduler::alarmsDue);

    const QDateTime next = clock.Now().addSecs(30);
    const QTime minute(next.time().hour(), next.time().minute());
    scheduler->SetAlarms({makeAlarm(minute.hour() * 60 + minute.minute(), kOnce, false)});
    scheduler->Rebuild();
    const qint64 dueMs = scheduler->AlarmDueUtc().toMSecsSinceEpoch();
    QVERIFY2(dueMs - clock.NowMSecs() > 0 && dueMs - clock.NowMSecs() <= kToNextMinuteMs,
             qPrintable(scheduler->AlarmDueUtc().toString(Qt::ISODateWithMs)));
    QTRY_COMPARE_WITH_TIMEOUT(due.size(), 1, 10000);
    QVERIFY(rangAt);
    QVERIFY2(*rangAt >= dueMs && *rangAt < dueMs + 1000, qPrintable(QString::number(*rangAt - dueMs)));
    const QTime shown = QDateTime::fromMSecsSinceEpoch(*rangAt, Qt::LocalTime).time();
    QCOMPARE(QTime(shown.hour(), shown.minute()), minute);
    QVERIFY(!AlarmField::Enabled(scheduler->Alarms().at(0)));
    timers->Stop();
}

QTEST_GUILESS_MAIN(TestTimerThread)
#include "tst_timerthread.moc"

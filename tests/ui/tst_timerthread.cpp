#include "AlarmRecord.h"
#include "AlarmScheduler.h"
#include "AppIni.h"
#include "FakePlatform.h"
#include "MgLib.h"
#include "TimerThread.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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

// A scheduler on the fake platform with a clock the test sets, in Berlin.
struct Rig {
    QTemporaryDir dir;
    FakePlatform platform;
    TAppIni ini{dir.path(), dir.path()};
    QDateTime now;
    std::unique_ptr<TTimerThread> timers;
    std::unique_ptr<AlarmScheduler> scheduler;

    explicit Rig(WakePath wakePath = WakePath::RealtimeAlarm)
    {
        ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
        platform.SetWakePath(wakePath);
        timers = TTimerThread::Create(platform, [this] { scheduler->FireDueAlarm(); });
        SchedulerClock clock;
        clock.now = [this] { return now; };
        clock.zone = [] { return QTimeZone("Europe/Berlin"); };
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
        QVERIFY(platform.AdvanceTo(ToWallTime(scheduler->AlarmDueUtc())));
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
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmDue);
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
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmDue);
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
    QSignalSpy due(rig.scheduler.get(), &AlarmScheduler::alarmDue);
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

QTEST_GUILESS_MAIN(TestTimerThread)
#include "tst_timerthread.moc"

#pragma once

#include "app/TimerThread.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/app/AppIni.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QTimeZone>

#include <memory>

/**
 * An AlarmScheduler whose clock reads the test's `now` in the test's `zone` (both outlive it), with
 * its alarm timer on the given platform firing FireDueAlarm. The scheduler is declared last, so it goes
 * before the timers it arms. `timers` is null when the platform has no alarm timer.
 */
struct TestScheduler {
    std::unique_ptr<TTimerThread> timers;
    std::unique_ptr<AlarmScheduler> scheduler;

    TestScheduler(Platform& platform, TAppIni& ini, const QDateTime& now, const QTimeZone& zone)
    {
        timers = TTimerThread::Create(platform, [this] { scheduler->FireDueAlarm(); });
        if (!timers)
            return;
        SchedulerClock clock;
        clock.now = [&now] { return now; };
        clock.offsetAt = [&zone](qint64 utcSecs) {
            return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSecs, Qt::UTC));
        };
        scheduler = std::make_unique<AlarmScheduler>(ini, *timers, clock);
    }
    TestScheduler(const TestScheduler&) = delete;
    TestScheduler& operator=(const TestScheduler&) = delete;

    AlarmScheduler* operator->() const { return scheduler.get(); }
    AlarmScheduler* get() const { return scheduler.get(); }
};

/** Replaces the alarm at index, or appends one with index == size, then saves and rebuilds as an edit does. */
inline void PutAlarm(AlarmScheduler& scheduler, int index, const QString& alarmString)
{
    QStringList alarms = scheduler.Alarms();
    if (index == alarms.size())
        alarms.append(alarmString);
    else
        alarms[index] = alarmString;
    scheduler.SetAlarms(alarms);
    scheduler.SaveAndRebuild();
}

#include "core/alarms/AlarmScheduler.h"

#include "core/alarms/SkipNext.h"
#include "core/app/AppIni.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLib.h"

#include <algorithm>

namespace {

QString utcText(const QDateTime& utc)
{
    return utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz 'UTC'"));
}

// Seconds of wall-clock reading from a to b, whatever the zone did in between.
qint64 wallSecsTo(const LocalDateTime& a, const LocalDateTime& b)
{
    return QDateTime(a.date, a.time, Qt::UTC).msecsTo(QDateTime(b.date, b.time, Qt::UTC)) / 1000;
}

} // namespace

AlarmScheduler::AlarmScheduler(TAppIni& ini, ScheduleTimers& timers, SchedulerClock clock, QObject* parent)
    : QObject(parent)
    , m_ini(ini)
    , m_timers(timers)
    , m_clock(std::move(clock))
    , m_locale(QLocale::system())
{
    m_tmrFillAlarmsDelayed.setSingleShot(true);
    m_tmrFillAlarmsDelayed.setInterval(kClockChangeDelayMs);
    connect(&m_tmrFillAlarmsDelayed, &QTimer::timeout, this, &AlarmScheduler::Rebuild);
}

void AlarmScheduler::SetAlarms(const QStringList& alarms)
{
    m_alarms = alarms;
}

void AlarmScheduler::SetLocale(const QLocale& locale)
{
    if (locale == m_locale)
        return;
    m_locale = locale;
    // Before the first build there is no panel to redo, and the list may not even be loaded yet.
    if (m_built)
        Rebuild();
}

void AlarmScheduler::LoadAlarms()
{
    m_alarms = m_ini.ReadList(Settings::Alarms);
}

LocalDateTime AlarmScheduler::wallTime(const QDateTime& now) const
{
    return UtcToLocal(now, m_clock.offsetAt);
}

QDateTime AlarmScheduler::toUtc(const LocalDateTime& local) const
{
    return LocalToUtc(local, m_clock.offsetAt);
}

QDateTime AlarmScheduler::dueInstant(const LocalDateTime& local, const QDateTime& now) const
{
    const QDateTime due = toUtc(local);
    // A wall time the clock shows twice (the hour after a fall-back) maps to its first instant. When the
    // clock already shows the second pass and the alarm lies ahead of it, the first has gone by unrung
    // and the alarm is meant for the second pass.
    if (due >= now.toUTC() || wallSecsTo(wallTime(now), local) <= 0)
        return due;
    const int offsetNow = m_clock.offsetAt(now.toSecsSinceEpoch());
    const QDateTime second = QDateTime(local.date, local.time, Qt::UTC).addSecs(-offsetNow);
    return second > due && m_clock.offsetAt(second.toSecsSinceEpoch()) == offsetNow ? second : due;
}

LocalDateTime AlarmScheduler::scheduleFrom(const QDateTime& now) const
{
    const LocalDateTime wall = wallTime(now);
    if (m_rung.isEmpty())
        return wall;
    // The clock jumped over the wall time of the alarm that just rang (a spring-forward night): the alarms
    // whose times it skipped along with it fall due at the same instant and ring now, one after another.
    const FiredOccurrence& last = m_rung.last();
    if (wallSecsTo(last.occurrence.at, wall) > 0 && now.toUTC() < last.utc.addSecs(kSkippedWithItSecs))
        return last.occurrence.at;
    return wall;
}

void AlarmScheduler::Rebuild()
{
    if (rebuild())
        save();
}

bool AlarmScheduler::clearSpentSkips(const QDateTime& now)
{
    const LocalDateTime wall = wallTime(now);
    bool cleared = false;
    for (QString& alarm : m_alarms) {
        QString without;
        const QDate spent = SpentSkip(alarm, wall, &without);
        if (!spent.isValid())
            continue;
        // What rang stays rung under the alarm's new string.
        for (FiredOccurrence& f : m_rung) {
            if (f.occurrence.alarm == alarm)
                f.occurrence.alarm = without;
        }
        alarm = without;
        cleared = true;
        const AlarmRecord record = ParseAlarmString(without);
        if (record.IsOneTime() || !record.Days[size_t(WeekdayIndex(spent) - 1)])
            continue; // dropped by an edit, not gone by
        // Remembered as if it had rung: a clock set back over it (the repeated hour of a fall-back night)
        // must not ring what the user chose to skip. At the front, as the last one rung counts for more.
        const LocalDateTime at{spent, record.Time};
        m_rung.prepend({{without, at}, toUtc(at)});
    }
    return cleared;
}

bool AlarmScheduler::rebuild()
{
    if (m_terminating)
        return false;
    const QDateTime now = m_clock.now();
    const bool cleared = clearSpentSkips(now);
    // What rang within reach of the clock is remembered; what a larger jump left behind is forgotten.
    const LocalDateTime wall = wallTime(now);
    m_rung.removeIf(
        [&](const FiredOccurrence& f) { return qAbs(wallSecsTo(wall, f.occurrence.at)) > kRungMemorySecs; });
    QList<RungOccurrence> rung;
    for (const FiredOccurrence& f : std::as_const(m_rung))
        rung.append(f.occurrence);
    m_schedule = RebuildSchedule(m_alarms, scheduleFrom(now), m_locale, rung);
    m_built = true;
    armTimers(now);
    emit scheduleChanged();
    return cleared;
}

void AlarmScheduler::armTimers(const QDateTime& now)
{
    // A parked timer stands a year ahead, so it neither fires nor keeps a stale due time.
    const LocalDateTime parked = wallTime(now).addSecs(qint64(kParkDays) * 86400);
    const LocalDateTime alarmLocal = m_schedule.alarmAt.value_or(parked);
    m_alarmDueUtc = dueInstant(alarmLocal, now);
    const bool alarmArmed = m_timers.ArmAlarm(m_alarmDueUtc);
    WriteLog(QStringLiteral("Alarm timer %1 for %2 (%3)%4")
                 .arg(m_schedule.alarmAt ? QStringLiteral("armed") : QStringLiteral("parked"), alarmLocal.toString(),
                      utcText(m_alarmDueUtc), alarmArmed ? QString() : QStringLiteral(", refused")));

    const LocalDateTime wakeLocal = m_schedule.wakeAt.value_or(parked);
    // Ten seconds before the instant its alarm rings, also when that alarm's time falls into a DST gap.
    const int lead = ScheduleResult::kWakeLeadSeconds;
    const QDateTime wakeUtc = dueInstant(wakeLocal.addSecs(lead), now).addSecs(-lead);
    const WakeArming wake = m_timers.ArmWake(wakeUtc, m_schedule.wakeAt.has_value());
    WriteLog(QStringLiteral("Wake timer %1 for %2 (%3), %4 through %5")
                 .arg(m_schedule.wakeAt ? QStringLiteral("armed") : QStringLiteral("parked"), wakeLocal.toString(),
                      utcText(wakeUtc), wake.wakes ? QStringLiteral("waking") : QStringLiteral("not waking"),
                      wake.path.isEmpty() ? QStringLiteral("no wake facility") : wake.path));
}

void AlarmScheduler::SaveAndRebuild()
{
    // An edit that moved an alarm off its skipped day saves without the skip, in the same write.
    clearSpentSkips(m_clock.now());
    save();
    rebuild();
}

void AlarmScheduler::save()
{
    if (!m_ini.WriteList(Settings::Alarms, m_alarms))
        emit saveFailed(m_ini.LastWriteError());
}

void AlarmScheduler::FireDueAlarm()
{
    const QDateTime now = m_clock.now();
    const QList<int> due = m_schedule.dueIndexes;
    const bool scheduled = m_schedule.alarmAt && !due.isEmpty() &&
                           std::all_of(due.begin(), due.end(), [&](int i) { return i >= 0 && i < m_alarms.size(); });
    // The timer only fires for a scheduled alarm; a stray wake-up (or one a clock change raced with) just re-arms.
    if (!scheduled || now.toUTC() < m_alarmDueUtc.addMSecs(-1000)) {
        Rebuild();
        return;
    }
    WriteLog(QStringLiteral("Alarm fired: due %1, now %2, late by %3 ms")
                 .arg(utcText(m_alarmDueUtc), utcText(now.toUTC()))
                 .arg(m_alarmDueUtc.msecsTo(now)));
    QStringList rang;
    for (int index : due) {
        rang.append(m_alarms.at(index));
        m_rung.append({{rang.last(), *m_schedule.alarmAt}, m_alarmDueUtc});
    }
    bool switchedOff = false;
    for (int index : due) {
        AlarmRecord alarm = ParseAlarmString(m_alarms.at(index));
        if (alarm.IsOneTime()) {
            alarm.Enabled = false;
            m_alarms[index] = BuildAlarmString(alarm);
            switchedOff = true;
        }
    }
    // The next alarm is armed before these are shown and before the disk is asked: showing them may run
    // a nested event loop, and a slow or refusing disk must not hold the next firing back.
    const bool skipsCleared = rebuild();
    emit alarmsDue(rang);
    if (switchedOff || skipsCleared)
        save();
}

void AlarmScheduler::ClockChanged()
{
    WriteLog(QStringLiteral("System Time Changed"));
    // Not restarted by further notices: a burst of changes rebuilds once, five seconds after the first.
    if (!m_tmrFillAlarmsDelayed.isActive())
        m_tmrFillAlarmsDelayed.start();
}

#include "AlarmScheduler.h"

#include "AppIni.h"
#include "DebugLog.h"

namespace {

QString utcText(const QDateTime& utc) { return utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz 'UTC'")); }

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

void AlarmScheduler::SetAlarms(const QStringList& alarms) { m_alarms = alarms; }

void AlarmScheduler::LoadAlarms() { m_alarms = m_ini.ReadList(Settings::Alarms); }

QDateTime AlarmScheduler::toUtc(const LocalDateTime& local) const { return LocalToUtc(local, m_clock.zone()); }

void AlarmScheduler::Rebuild()
{
    if (m_terminating)
        return;
    const QDateTime now = m_clock.now();
    m_schedule = RebuildSchedule(m_alarms, LocalDateTime::fromDateTime(now), m_locale);
    armTimers(now);
    emit scheduleChanged();
}

void AlarmScheduler::armTimers(const QDateTime& now)
{
    // A parked timer stands a year ahead, so it neither fires nor keeps a stale due time.
    const LocalDateTime parked = LocalDateTime::fromDateTime(now).addSecs(qint64(kParkDays) * 86400);
    const LocalDateTime alarmLocal = m_schedule.alarmAt.value_or(parked);
    m_alarmDueUtc = toUtc(alarmLocal);
    const bool alarmArmed = m_timers.ArmAlarm(m_alarmDueUtc);
    WriteLog(QStringLiteral("Alarm timer %1 for %2 (%3)%4")
                 .arg(m_schedule.alarmAt ? QStringLiteral("armed") : QStringLiteral("parked"), alarmLocal.toString(),
                      utcText(m_alarmDueUtc), alarmArmed ? QString() : QStringLiteral(", refused")));

    const LocalDateTime wakeLocal = m_schedule.wakeAt.value_or(parked);
    // Ten seconds before the instant its alarm rings, also when that alarm's time falls into a DST gap.
    const int lead = ScheduleResult::kWakeLeadSeconds;
    const QDateTime wakeUtc = toUtc(wakeLocal.addSecs(lead)).addSecs(-lead);
    const WakeArming wake = m_timers.ArmWake(wakeUtc, m_schedule.wakeAt.has_value());
    WriteLog(QStringLiteral("Wake timer %1 for %2 (%3), %4 through %5")
                 .arg(m_schedule.wakeAt ? QStringLiteral("armed") : QStringLiteral("parked"), wakeLocal.toString(),
                      utcText(wakeUtc), wake.wakes ? QStringLiteral("waking") : QStringLiteral("not waking"),
                      wake.path.isEmpty() ? QStringLiteral("no wake facility") : wake.path));
}

void AlarmScheduler::SaveAndRebuild()
{
    try {
        m_ini.WriteList(Settings::Alarms, m_alarms);
    } catch (const AppIniWriteError& error) {
        emit saveFailed(error.message());
    }
    Rebuild();
}

void AlarmScheduler::SetAlarm(int index, const QString& alarmString)
{
    if (index == m_alarms.size())
        m_alarms.append(alarmString);
    else if (index >= 0 && index < m_alarms.size())
        m_alarms[index] = alarmString;
    else
        return;
    SaveAndRebuild();
}

void AlarmScheduler::FireDueAlarm()
{
    const QDateTime now = m_clock.now();
    const int index = m_schedule.nextAlarmIndex;
    // The timer only fires for a scheduled alarm; a stray wake-up (or one a clock change raced with) just re-arms.
    if (index < 0 || index >= m_alarms.size() || now.toUTC() < m_alarmDueUtc.addMSecs(-1000)) {
        Rebuild();
        return;
    }
    WriteLog(QStringLiteral("Alarm fired: due %1, now %2, late by %3 ms")
                 .arg(utcText(m_alarmDueUtc), utcText(now.toUTC()))
                 .arg(m_alarmDueUtc.msecsTo(now)));
    const QString alarmString = m_alarms.at(index);
    emit alarmDue(alarmString);
    AlarmRecord alarm = ParseAlarmString(alarmString);
    if (alarm.IsOneTime()) {
        alarm.Enabled = !alarm.Enabled;
        m_alarms[index] = BuildAlarmString(alarm);
        SaveAndRebuild();
    } else {
        Rebuild();
    }
}

void AlarmScheduler::ClockChanged()
{
    WriteLog(QStringLiteral("System Time Changed"));
    // Not restarted by further notices: a burst of changes rebuilds once, five seconds after the first.
    if (!m_tmrFillAlarmsDelayed.isActive())
        m_tmrFillAlarmsDelayed.start();
}

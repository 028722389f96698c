#include "core/alarms/MissedAlarmWatch.h"

#include "core/app/AppIni.h"
#include "core/mglib/DebugLog.h"

#include <QTimeZone>

namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'");

} // namespace

MissedAlarmWatch::MissedAlarmWatch(TAppIni& ini, AlarmScheduler& scheduler, SchedulerClock clock, QObject* parent)
    : QObject(parent)
    , m_ini(ini)
    , m_scheduler(scheduler)
    , m_clock(std::move(clock))
{
    m_markSoon.setSingleShot(true);
    m_markSoon.setInterval(kMarkDelayMs);
    connect(&m_markSoon, &QTimer::timeout, this, &MissedAlarmWatch::MarkRun);
    // A firing, an edit and a resume all rebuild the schedule; the timer only runs after one of them.
    connect(&m_scheduler, &AlarmScheduler::scheduleChanged, this, [this] {
        if (!m_markSoon.isActive())
            m_markSoon.start();
    });
}

int MissedAlarmWatch::Limit() const
{
    return MissedLimitFromSetting(m_ini.Read(Settings::MissedAlarmLimit));
}

void MissedAlarmWatch::SetLimit(int minutes)
{
    m_ini.Write(Settings::MissedAlarmLimit, MissedLimitFromSetting(minutes));
}

QDateTime MissedAlarmWatch::LastRun() const
{
    const QString text = m_ini.ReadString(QString::fromUtf16(Settings::LastRunTime), QString()).trimmed();
    QDateTime stamp = QDateTime::fromString(text, kStampFormat);
    if (!stamp.isValid())
        return {};
    stamp.setTimeSpec(Qt::UTC);
    return stamp;
}

void MissedAlarmWatch::MarkRun()
{
    m_markSoon.stop();
    const QDateTime now = m_clock.now().toUTC();
    m_ini.WriteString(QString::fromUtf16(Settings::LastRunTime), now.toString(kStampFormat));
}

void MissedAlarmWatch::CatchUpAtStart()
{
    const QDateTime since = LastRun();
    if (since.isValid())
        CatchUpSince(since);
    MarkRun();
    if (!Unacknowledged().isEmpty())
        emit unacknowledgedChanged();
}

bool MissedAlarmWatch::HandleLateFiring()
{
    const ScheduleResult& schedule = m_scheduler.Schedule();
    if (!schedule.alarmAt || schedule.dueIndexes.isEmpty())
        return false;
    const QDateTime armedFor = m_scheduler.AlarmDueUtc();
    const QDateTime now = m_clock.now().toUTC();
    if (armedFor.secsTo(now) <= kOnTimeSecs)
        return false;
    WriteLog(QStringLiteral("Alarm timer fired late: due %1, now %2")
                 .arg(armedFor.toString(Qt::ISODate), now.toString(Qt::ISODate)));
    // Every alarm the timer was armed for lies at or after the instant it stood at.
    CatchUpSince(armedFor.addSecs(-1));
    return true;
}

void MissedAlarmWatch::CatchUpSince(const QDateTime& sinceUtc)
{
    const QDateTime now = m_clock.now().toUTC();
    const CatchUpResult result = CatchUpAlarms(m_scheduler.Alarms(), sinceUtc, now, m_clock.offsetAt, Limit());
    if (result.changed)
        m_scheduler.SetAlarms(result.alarms);
    // Armed for what comes next before anything is shown or written, as a firing does.
    m_scheduler.Rebuild();
    if (result.changed)
        emit alarmsChanged();
    QStringList entries;
    for (const DueOccurrence& o : result.missed)
        entries.append(MissedEntry(o.due, AlarmField::Label(o.alarm)));
    if (!entries.isEmpty()) {
        WriteLog(QStringLiteral("Missed since %1: %2").arg(sinceUtc.toString(Qt::ISODate)).arg(entries.size()));
        QStringList kept = Unacknowledged();
        for (const QString& entry : std::as_const(entries)) {
            if (!kept.contains(entry))
                kept.append(entry);
        }
        if (kept.size() > kMaxMissedOccurrences)
            kept = kept.mid(kept.size() - kMaxMissedOccurrences);
        m_ini.WriteList(Settings::MissedAlarms, kept);
        emit unacknowledgedChanged();
        emit alarmsMissed(entries);
    }
    if (!result.late.isEmpty()) {
        QStringList alarms;
        QList<LocalDateTime> due;
        for (const DueOccurrence& o : result.late) {
            alarms.append(o.alarm);
            due.append(o.due);
        }
        WriteLog(QStringLiteral("Ringing late: %1").arg(alarms.size()));
        emit lateAlarmsDue(alarms, due);
    }
    if (result.changed)
        m_ini.WriteList(Settings::Alarms, m_scheduler.Alarms());
}

QStringList MissedAlarmWatch::Unacknowledged() const
{
    return ValidMissedEntries(m_ini.ReadList(Settings::MissedAlarms));
}

void MissedAlarmWatch::Acknowledge()
{
    if (m_ini.ReadList(Settings::MissedAlarms).isEmpty())
        return;
    m_ini.WriteList(Settings::MissedAlarms, {});
    emit unacknowledgedChanged();
}

#include "core/alarms/RemoteAlarms.h"

#include "core/alarms/AlarmRecord.h"

namespace {

QString plainLines(QString label)
{
    return label.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

} // namespace

QList<RemoteAlarm> RemoteAlarms(const QStringList& alarmStrings)
{
    QList<RemoteAlarm> alarms;
    alarms.reserve(alarmStrings.size());
    for (int i = 0; i < alarmStrings.size(); ++i) {
        const AlarmRecord record = ParseAlarmString(alarmStrings.at(i));
        alarms.append({i, record.Time.toString(QStringLiteral("HH:mm")), RepeatDaysText(record.Days),
                       plainLines(record.Label), record.Enabled});
    }
    return alarms;
}

QString RepeatDaysText(const std::array<bool, 7>& days)
{
    // Fixed English names: other programs parse them, whatever language the windows speak.
    static const std::array<const char*, 7> names{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    QStringList set;
    for (size_t k = 1; k <= days.size(); ++k) {
        const size_t day = k % days.size(); // Monday first, Sunday last
        if (days[day])
            set.append(QString::fromLatin1(names[day]));
    }
    return set.join(u',');
}

QString DueText(const QDateTime& utc, const UtcOffsetAt& offsetAt)
{
    if (!utc.isValid())
        return {};
    const QDateTime whole = QDateTime::fromSecsSinceEpoch(utc.toSecsSinceEpoch(), Qt::UTC);
    const LocalDateTime local = UtcToLocal(whole, offsetAt);
    const qint64 offset = QDateTime(local.date, local.time, Qt::UTC).toSecsSinceEpoch() - whole.toSecsSinceEpoch();
    const qint64 minutes = (offset < 0 ? -offset : offset) / 60;
    return local.date.toString(QStringLiteral("yyyy-MM-dd")) + u'T' + local.time.toString(QStringLiteral("HH:mm:ss")) +
           (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString DueLabels(const QStringList& alarmStrings, const QList<int>& indexes)
{
    QStringList labels;
    for (const int index : indexes) {
        if (index >= 0 && index < alarmStrings.size())
            labels.append(plainLines(AlarmField::Label(alarmStrings.at(index))));
    }
    return labels.join(u'\n');
}

QString NextAlarmLine(const QString& due, const QString& label)
{
    // The wall time as the running copy sees it, whatever zone the asking shell has.
    const QString wall = due.left(16).replace(u'T', u' ');
    QString line = wall;
    if (!label.isEmpty())
        line += QStringLiteral("  ") + QString(label).replace(u'\n', QStringLiteral(" / "));
    return line;
}

QString RemoteAlarmLine(const RemoteAlarm& alarm)
{
    return QStringLiteral("%1  %2  %3  %4  %5")
        .arg(alarm.index, 2)
        .arg(alarm.enabled ? QStringLiteral("on ") : QStringLiteral("off"), alarm.time,
             alarm.days.isEmpty() ? QStringLiteral("once") : alarm.days,
             QString(alarm.label).replace(u'\n', QStringLiteral(" / ")))
        .trimmed();
}

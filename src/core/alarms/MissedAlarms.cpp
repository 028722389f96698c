#include "core/alarms/MissedAlarms.h"

#include "core/alarms/AlarmRecord.h"
#include "core/alarms/Schedule.h"
#include "core/mglib/MgLib.h"

#include <QLocale>
#include <QSet>

#include <algorithm>

namespace {

// Bounds the enumeration whatever the list holds: a month of a few alarms a day stays far below it.
constexpr int kMaxEnumeratedMinutes = 10000;

constexpr int kEntryStampLength = 16;

// The instant the scheduler rings a wall time at, among those after sinceUtc. A wall time the clock shows
// twice maps to its first pass; when that lies before sinceUtc the second pass is the one still to come.
QDateTime dueAfter(const LocalDateTime& due, const QDateTime& sinceUtc, const UtcOffsetAt& offsetAt)
{
    const QDateTime first = LocalToUtc(due, offsetAt);
    if (first > sinceUtc)
        return first;
    const int offsetSince = offsetAt(sinceUtc.toSecsSinceEpoch());
    const QDateTime second = QDateTime(due.date, due.time, Qt::UTC).addSecs(-offsetSince);
    if (second > sinceUtc && offsetAt(second.toSecsSinceEpoch()) == offsetSince)
        return second;
    return {};
}

} // namespace

int MissedLimitFromSetting(int storedMinutes)
{
    return std::find(kMissedLimitChoices.begin(), kMissedLimitChoices.end(), storedMinutes) != kMissedLimitChoices.end()
               ? storedMinutes
               : kDefaultMissedLimitMinutes;
}

CatchUpResult CatchUpAlarms(const QStringList& alarms, const QDateTime& sinceUtc, const QDateTime& nowUtc,
                            const UtcOffsetAt& offsetAt, int limitMinutes)
{
    CatchUpResult result;
    result.alarms = alarms;
    if (!sinceUtc.isValid() || !nowUtc.isValid() || sinceUtc >= nowUtc)
        return result;
    const QDateTime since = std::max(sinceUtc, nowUtc.addDays(-kCatchUpDays));
    const LocalDateTime nowWall = UtcToLocal(nowUtc, offsetAt);

    // One-time alarms leave the enumeration once they had their occurrence, as a firing switches them off.
    QStringList work = alarms;
    QList<DueOccurrence> found;
    LocalDateTime from = UtcToLocal(since, offsetAt);
    for (int step = 0; step < kMaxEnumeratedMinutes; ++step) {
        const ScheduleResult next = RebuildSchedule(work, from, QLocale::c());
        if (!next.alarmAt ||
            QDateTime(next.alarmAt->date, next.alarmAt->time, Qt::UTC) > QDateTime(nowWall.date, nowWall.time, Qt::UTC))
            break;
        const QDateTime dueUtc = dueAfter(*next.alarmAt, since, offsetAt);
        if (dueUtc.isValid() && dueUtc <= nowUtc) {
            for (int index : next.dueIndexes)
                found.append({index, alarms.at(index), *next.alarmAt, dueUtc});
        }
        for (int index : next.dueIndexes) {
            if (IsOneTimeMask(AlarmField::Days(work.at(index)))) {
                AlarmRecord alarm = ParseAlarmString(work.at(index));
                alarm.Enabled = false;
                work[index] = BuildAlarmString(alarm);
            }
        }
        from = *next.alarmAt;
    }

    // The most recent occurrence of an alarm within the limit rings; every other one was missed.
    QSet<int> ringing;
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        if (JudgeLateness(it->dueUtc.msecsTo(nowUtc), limitMinutes) != LateRing::Dropped &&
            !ringing.contains(it->index)) {
            ringing.insert(it->index);
            result.late.prepend(*it);
        } else {
            result.missed.prepend(*it);
        }
    }
    if (result.missed.size() > kMaxMissedOccurrences)
        result.missed = result.missed.mid(result.missed.size() - kMaxMissedOccurrences);

    const auto switchOff = [&](const DueOccurrence& o, bool missed) {
        AlarmRecord alarm = ParseAlarmString(result.alarms.at(o.index));
        if (!alarm.IsOneTime())
            return;
        alarm.Enabled = false;
        alarm.Missed = missed;
        const QString changed = BuildAlarmString(alarm);
        if (changed != result.alarms.at(o.index)) {
            result.alarms[o.index] = changed;
            result.changed = true;
        }
    };
    for (const DueOccurrence& o : std::as_const(result.missed))
        switchOff(o, true);
    for (const DueOccurrence& o : std::as_const(result.late))
        switchOff(o, false);
    return result;
}

LateRing JudgeLateness(qint64 lateMs, int limitMinutes)
{
    if (lateMs <= qint64(kOnTimeSecs) * 1000)
        return LateRing::OnTime;
    return lateMs <= std::max<qint64>(kOnTimeSecs, qint64(limitMinutes) * 60) * 1000 ? LateRing::Late
                                                                                     : LateRing::Dropped;
}

QString WithoutMissedMark(const QString& alarmString)
{
    if (!AlarmField::Missed(alarmString))
        return alarmString;
    AlarmRecord alarm = ParseAlarmString(alarmString);
    alarm.Missed = false;
    return BuildAlarmString(alarm);
}

QString MissedEntry(const LocalDateTime& due, const QString& label)
{
    return due.date.toString(QStringLiteral("yyyy-MM-dd")) + u'T' + due.time.toString(QStringLiteral("HH:mm")) + u' ' +
           EncodeLineBreaks(label);
}

std::optional<std::pair<LocalDateTime, QString>> ParseMissedEntry(const QString& entry)
{
    if (entry.size() < kEntryStampLength || (entry.size() > kEntryStampLength && entry.at(kEntryStampLength) != u' '))
        return std::nullopt;
    // Date and time apart: read as one local date-time, a wall time in a daylight-saving gap would not parse.
    const QDate date = QDate::fromString(entry.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(entry.mid(11, 5), QStringLiteral("HH:mm"));
    if (entry.at(10) != u'T' || !date.isValid() || !time.isValid())
        return std::nullopt;
    return std::pair{LocalDateTime{date, time}, DecodeLineBreaks(entry.mid(kEntryStampLength + 1))};
}

QString DescribeMissedEntry(const QString& entry, const QLocale& locale)
{
    const auto parsed = ParseMissedEntry(entry);
    if (!parsed)
        return {};
    const auto& [due, label] = *parsed;
    QString text =
        locale.dayName(due.date.dayOfWeek(), QLocale::ShortFormat) + u' ' + FormatShortTime(due.time, locale);
    const QString oneLine = QString(label).replace(QStringLiteral("\r\n"), QStringLiteral(" ")).trimmed();
    if (!oneLine.isEmpty())
        text += u' ' + oneLine;
    return text;
}

QStringList ValidMissedEntries(const QStringList& stored)
{
    QStringList entries;
    for (const QString& entry : stored) {
        if (ParseMissedEntry(entry) && !entries.contains(entry))
            entries.append(entry);
    }
    return entries;
}

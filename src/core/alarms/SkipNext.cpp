#include "core/alarms/SkipNext.h"

#include "core/mglib/MgLib.h"

#include <algorithm>
#include <vector>

namespace {

bool fallsOn(const AlarmRecord& alarm, QDate date)
{
    return date.isValid() && alarm.Days[size_t(WeekdayIndex(date) - 1)];
}

// Whether the alarm's time on date is still to come: the current minute counts as gone.
bool ahead(const AlarmRecord& alarm, QDate date, const LocalDateTime& now)
{
    return date > now.date || (date == now.date && TimeToMinutes(alarm.Time) > TimeToMinutes(now.time));
}

// A date format as a sequence of fields (runs of one format letter) and the literal text between them.
struct FormatPiece {
    QString text;
    bool field;
};

std::vector<FormatPiece> splitFormat(const QString& format)
{
    static const QString kFieldLetters = QStringLiteral("dMy");
    std::vector<FormatPiece> pieces;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        qsizetype end = i + 1;
        if (kFieldLetters.contains(c)) {
            while (end < format.size() && format.at(end) == c)
                ++end;
        } else {
            for (bool quoted = c == u'\''; end < format.size(); ++end) {
                const QChar next = format.at(end);
                if (next == u'\'')
                    quoted = !quoted;
                else if (!quoted && kFieldLetters.contains(next))
                    break;
            }
        }
        const QString text = format.mid(i, end - i);
        const bool field = kFieldLetters.contains(c);
        // Literal text between two fields stays one piece, so removing a field takes its separator along.
        if (!field && !pieces.empty() && !pieces.back().field)
            pieces.back().text += text;
        else
            pieces.push_back({text, field});
        i = end;
    }
    return pieces;
}

} // namespace

std::optional<LocalDateTime> NextRepeat(const AlarmRecord& alarm, const LocalDateTime& now)
{
    if (alarm.IsOneTime() || !now.isValid())
        return std::nullopt;
    for (int d = 0; d <= 7; ++d) {
        const QDate date = now.date.addDays(d);
        if (fallsOn(alarm, date) && ahead(alarm, date, now))
            return LocalDateTime{date, alarm.Time};
    }
    return std::nullopt;
}

bool SkipPending(const AlarmRecord& alarm, const LocalDateTime& now)
{
    return !alarm.IsOneTime() && fallsOn(alarm, alarm.SkipDate) && ahead(alarm, alarm.SkipDate, now);
}

std::optional<LocalDateTime> SkipTarget(const AlarmRecord& alarm, const LocalDateTime& now)
{
    if (SkipPending(alarm, now))
        return LocalDateTime{alarm.SkipDate, alarm.Time};
    return NextRepeat(alarm, now);
}

AlarmRecord ToggleSkip(AlarmRecord alarm, const LocalDateTime& now)
{
    if (SkipPending(alarm, now)) {
        alarm.SkipDate = QDate();
    } else if (const std::optional<LocalDateTime> next = NextRepeat(alarm, now)) {
        alarm.SkipDate = next->date;
    }
    return alarm;
}

QDate SpentSkip(const QString& alarmString, const LocalDateTime& now, QString* cleared)
{
    // Reading the date alone first: most alarms have none, and parsing thousands of labels would show.
    const QDate skip = AlarmField::SkipDate(alarmString);
    if (!skip.isValid())
        return {};
    AlarmRecord alarm = ParseAlarmString(alarmString);
    if (SkipPending(alarm, now))
        return {};
    alarm.SkipDate = QDate();
    if (cleared)
        *cleared = BuildAlarmString(alarm);
    return skip;
}

int NextSkippableAlarm(const QStringList& alarms, const LocalDateTime& now)
{
    int best = -1;
    std::optional<LocalDateTime> bestAt;
    for (int i = 0; i < alarms.size(); ++i) {
        const QString& s = alarms.at(i);
        if (!AlarmField::Enabled(s) || IsOneTimeMask(AlarmField::Days(s)))
            continue;
        const std::optional<LocalDateTime> at = SkipTarget(ParseAlarmString(s), now);
        if (at && (!bestAt || at->date < bestAt->date || (at->date == bestAt->date && at->time < bestAt->time))) {
            best = i;
            bestAt = at;
        }
    }
    return best;
}

QString ShortDayText(QDate date, const QLocale& locale)
{
    // The locale's long date without its year, with abbreviated day and month names. A format whose
    // year cannot be taken out cleanly falls back to a fixed order.
    std::vector<FormatPiece> pieces = splitFormat(locale.dateFormat(QLocale::LongFormat));
    const auto year = std::find_if(pieces.begin(), pieces.end(),
                                   [](const FormatPiece& p) { return p.field && p.text.startsWith(u'y'); });
    QString format;
    if (year != pieces.end()) {
        const bool last = std::none_of(year + 1, pieces.end(), [](const FormatPiece& p) { return p.field; });
        if (last) {
            // "d MMMM yyyy 'г'.": the separator before the year and everything after it go.
            auto from = year;
            if (from != pieces.begin() && !(from - 1)->field)
                --from;
            pieces.erase(from, pieces.end());
        } else {
            // "yyyy. MMMM d.": the year and the separator after it go.
            pieces.erase(year, year + 2);
        }
        for (FormatPiece& p : pieces) {
            if (p.field && p.text == QStringLiteral("dddd"))
                p.text = QStringLiteral("ddd");
            else if (p.field && p.text == QStringLiteral("MMMM"))
                p.text = QStringLiteral("MMM");
            format += p.text;
        }
    }
    const bool complete = format.contains(QStringLiteral("ddd")) && format.contains(u'M') && !format.contains(u'y');
    if (!complete)
        format = QStringLiteral("ddd d MMM");
    return locale.toString(date, format).trimmed();
}

QString SkipOccurrenceText(const LocalDateTime& occurrence, const QLocale& locale)
{
    return ShortDayText(occurrence.date, locale) + QStringLiteral(", ") + FormatShortTime(occurrence.time, locale);
}

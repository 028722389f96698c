#include "core/alarms/Schedule.h"

#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLib.h"

#include <QSet>

#include <algorithm>
#include <vector>

namespace {

constexpr int kHorizonDays = 30;

// The fields the day-by-day enumeration needs, read once per alarm.
struct Candidate {
    int index;
    int minutes;
    QTime time;
    std::array<bool, 7> days; // Sunday first
    bool oneTime;
    bool wakeUp;
    QDate skip; // the one date a repeating alarm leaves out
};

std::vector<Candidate> enabledCandidates(const QStringList& alarms)
{
    std::vector<Candidate> candidates;
    for (int j = 0; j < alarms.size(); ++j) {
        const QString& s = alarms.at(j);
        if (!AlarmField::Enabled(s))
            continue;
        // Only the fields the enumeration needs: parsing labels of thousands of alarms would dominate.
        const QTime time = AlarmField::Time(s);
        const std::array<bool, 7> days = AlarmField::Days(s);
        const bool oneTime = IsOneTimeMask(days);
        candidates.push_back({j, TimeToMinutes(time), time, days, oneTime, AlarmField::WakeUp(s),
                              oneTime ? QDate() : AlarmField::SkipDate(s)});
    }
    return candidates;
}

// Minimum (key, position) over a range, kept up to date while items are exchanged.
class MinTree
{
public:
    explicit MinTree(const std::vector<int>& keys)
        : m_size(1)
    {
        while (m_size < keys.size())
            m_size *= 2;
        m_keys = keys;
        m_tree.assign(2 * m_size, kNone);
        for (size_t i = 0; i < keys.size(); ++i)
            m_tree[m_size + i] = i;
        for (size_t n = m_size - 1; n >= 1; --n)
            m_tree[n] = better(m_tree[2 * n], m_tree[2 * n + 1]);
    }

    void setKey(size_t position, int key)
    {
        m_keys[position] = key;
        for (size_t n = (m_size + position) / 2; n >= 1; n /= 2)
            m_tree[n] = better(m_tree[2 * n], m_tree[2 * n + 1]);
    }

    // Position of the smallest key in [from, end), the earliest on ties.
    size_t minFrom(size_t from) const
    {
        size_t best = kNone;
        size_t lo = from + m_size;
        size_t hi = 2 * m_size;
        while (lo < hi) {
            if (lo & 1)
                best = better(best, m_tree[lo++]);
            if (hi & 1)
                best = better(best, m_tree[--hi]);
            lo /= 2;
            hi /= 2;
        }
        return best;
    }

    int key(size_t position) const { return m_keys[position]; }

private:
    static constexpr size_t kNone = size_t(-1);

    size_t better(size_t a, size_t b) const
    {
        if (a == kNone)
            return b;
        if (b == kNone)
            return a;
        if (m_keys[a] != m_keys[b])
            return m_keys[a] < m_keys[b] ? a : b;
        return a < b ? a : b;
    }

    size_t m_size;
    std::vector<int> m_keys;
    std::vector<size_t> m_tree;
};

} // namespace

QString PanelLineText(const LocalDateTime& occurrence, const QString& label, const QString& sound,
                      const QLocale& locale)
{
    QString text = locale.toString(occurrence.date, QLocale::ShortFormat) + u' ' +
                   FormatShortTime(occurrence.time, locale) + u' ' +
                   locale.dayName(occurrence.date.dayOfWeek(), QLocale::ShortFormat) + QStringLiteral(" - ") +
                   EncodeLineBreaks(label);
    if (!sound.isEmpty())
        text += QStringLiteral(" / ") + sound;
    return text;
}

ScheduleResult RebuildSchedule(const QStringList& alarms, const LocalDateTime& now, const QLocale& locale,
                               const QList<RungOccurrence>& rung)
{
    const auto hasRung = [&](int index, const LocalDateTime& occurrence) {
        return std::any_of(rung.begin(), rung.end(),
                           [&](const RungOccurrence& r) { return r.at == occurrence && r.alarm == alarms.at(index); });
    };
    ScheduleResult result;
    const int nowMinutes = TimeToMinutes(now.time);
    const std::vector<Candidate> candidates = enabledCandidates(alarms);
    QSet<int> listed;
    bool wakeFound = false;
    for (int d = 0; d < kHorizonDays && (result.panel.size() < ScheduleResult::kPanelLines || !wakeFound); ++d) {
        const QDate date = now.date.addDays(d);
        const int weekday = WeekdayIndex(date) - 1;
        for (const Candidate& c : candidates) {
            if (c.oneTime ? listed.contains(c.index) : !c.days[weekday])
                continue;
            if ((d == 0 && c.minutes <= nowMinutes) || date == c.skip)
                continue;
            const LocalDateTime occurrence{date, c.time};
            if (!rung.isEmpty() && hasRung(c.index, occurrence))
                continue;
            if (result.panel.size() < ScheduleResult::kPanelLines) {
                const QString& s = alarms.at(c.index);
                result.panel.append(
                    {PanelLineText(occurrence, AlarmField::Label(s), AlarmField::Sound(s), locale), c.index});
                listed.insert(c.index);
                if (result.panel.size() == 1) {
                    result.nextAlarmIndex = c.index;
                    result.alarmAt = occurrence;
                }
            }
            if (!wakeFound && c.wakeUp) {
                result.wakeAt = occurrence.addSecs(-ScheduleResult::kWakeLeadSeconds);
                wakeFound = true;
            }
            if (result.panel.size() == ScheduleResult::kPanelLines && wakeFound)
                break;
        }
    }
    if (result.alarmAt) {
        // The alarms of that one minute ring together, also those the panel had no room for.
        const QDate date = result.alarmAt->date;
        const int weekday = WeekdayIndex(date) - 1;
        const bool today = date == now.date;
        for (const Candidate& c : candidates) {
            if (c.time != result.alarmAt->time || !(c.oneTime || c.days[weekday]) || date == c.skip)
                continue;
            if ((today && c.minutes <= nowMinutes) || (!rung.isEmpty() && hasRung(c.index, *result.alarmAt)))
                continue;
            result.dueIndexes.append(c.index);
        }
    }
    const bool any = !result.panel.isEmpty();
    result.trayHint = any ? result.panel.first().text : QStringLiteral("Larkbell");
    result.trayIconIndex = any ? 0 : 1;
    result.floatingIndicatorVisible = any;
    result.floatingHint = any ? result.panel.first().text : QString();
    return result;
}

int AlarmSortKey(const QString& alarmString, int firstWeekdayOffset)
{
    const QString mask = AlarmField::DayMask(alarmString);
    int firstDay = 8;
    if (mask.size() == 7) {
        for (int position = 1; position <= 7; ++position) {
            if (mask.at(DisplayDayToWeekday(position, firstWeekdayOffset) - 1) != u'0') {
                firstDay = position;
                break;
            }
        }
    }
    // Minutes are not capped here: a stored 1500 sorts after 1439.
    return AlarmField::Minutes(alarmString) * 16 + firstDay;
}

void SortAlarms(QStringList& alarms, int firstWeekdayOffset, int* selected)
{
    if (alarms.size() < 2)
        return;
    std::vector<int> keys;
    keys.reserve(alarms.size());
    for (const QString& s : alarms)
        keys.push_back(AlarmSortKey(s, firstWeekdayOffset));
    MinTree tree(keys);
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        const size_t m = tree.minFrom(i);
        if (m == i)
            continue;
        alarms.swapItemsAt(qsizetype(i), qsizetype(m));
        const int keyI = tree.key(i);
        tree.setKey(i, tree.key(m));
        tree.setKey(m, keyI);
        if (selected && *selected == int(i))
            *selected = int(m);
        else if (selected && *selected == int(m))
            *selected = int(i);
    }
}

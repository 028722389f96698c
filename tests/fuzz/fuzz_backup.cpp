// A backup file (*.alm) as anybody may have made it. Reading gives lines that are each one line,
// saving them and reading the save gives the same list, and the schedule and the sort cope with
// whatever the lines hold.
#include "FuzzSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/BackupFile.h"
#include "core/alarms/Schedule.h"

#include <QLocale>

#include <algorithm>

namespace {

constexpr qsizetype kScheduledLines = 300; // the schedule of longer inputs costs time, not coverage

void checkSchedule(const QStringList& lines, int minuteOfWeek)
{
    const LocalDateTime now{QDate(2026, 3, 23).addDays(minuteOfWeek / 1440),
                            QTime(0, 0).addSecs((minuteOfWeek % 1440) * 60)};
    const ScheduleResult result = RebuildSchedule(lines, now, QLocale::c());
    Require(result.panel.size() <= ScheduleResult::kPanelLines, "the panel has at most three lines");
    Require(result.alarmAt.has_value() == !result.panel.isEmpty(),
            "the alarm timer is armed exactly when a line shows");
    for (const PanelLine& line : result.panel) {
        Require(line.listIndex >= 0 && line.listIndex < lines.size(), "a panel line points into the list");
        Require(AlarmField::Enabled(lines.at(line.listIndex)), "only enabled alarms are scheduled");
    }
    if (result.alarmAt) {
        Require(result.nextAlarmIndex == result.panel.first().listIndex, "the timer stands for the first line");
        const LocalDateTime at = *result.alarmAt;
        Require(QDateTime(at.date, at.time, Qt::UTC) >
                    QDateTime(now.date, QTime(now.time.hour(), now.time.minute()), Qt::UTC),
                "the next alarm lies after the current minute");
    }

    QStringList sorted = lines;
    SortAlarms(sorted, 1);
    for (qsizetype i = 1; i < sorted.size(); ++i)
        Require(AlarmSortKey(sorted.at(i - 1), 1) <= AlarmSortKey(sorted.at(i), 1), "the sorted list is in order");
    QStringList a = lines;
    QStringList b = sorted;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    Require(a == b, "sorting keeps every alarm");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QStringList lines = DecodeBackup(InputBytes(data, size));
    Require(CountBackupLines(InputBytes(data, size)) == lines.size(), "the line count before decoding is exact");
    for (const QString& line : lines) {
        Require(!line.contains(u'\r') && !line.contains(u'\n'), "a line holds no line break");
        Require(!line.contains(QChar(0)), "a NUL ends the text");
    }
    const QByteArray saved = EncodeBackup(lines);
    // A byte-order mark at the very start of a file is taken for one, so a first line that begins
    // with that character loses it on the way back.
    const bool leadingMark = !lines.isEmpty() && lines.first().startsWith(QChar(0xFEFF));
    Require(leadingMark || DecodeBackup(saved) == lines,
            "saving a loaded backup and loading it again gives the same list");
    Require(EncodeBackup(DecodeBackup(saved)) == saved || leadingMark, "a saved backup is saved again byte for byte");
    if (lines.size() <= kScheduledLines)
        checkSchedule(lines, size > 0 ? int(data[0]) * 41 : 0);
    return 0;
}

// A line of the alarm list, as Data.ini, a backup file or an edit box can hand it over. Whatever it
// holds, parsing never fails, the AlarmString built from the result is one well-formed line, and
// parsing that gives the same alarm again: saving a list never changes an alarm.
#include "FuzzSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/BackupFile.h"
#include "core/alarms/Schedule.h"
#include "core/mglib/MgLib.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kWrittenLength = 326; // columns 1-326: every field up to the end of the label
constexpr qsizetype kLinesPerInput = 8;

DayTexts dayTexts()
{
    DayTexts texts;
    texts.shortDayNames = {QStringLiteral("Su"), QStringLiteral("Mo"), QStringLiteral("Tu"), QStringLiteral("We"),
                           QStringLiteral("Th"), QStringLiteral("Fr"), QStringLiteral("Sa")};
    texts.firstWeekdayOffset = 1;
    return texts;
}

void checkLine(const QString& line)
{
    const AlarmRecord parsed = ParseAlarmString(line);
    const QString built = BuildAlarmString(parsed);
    Require(CodePointLength(built) >= kWrittenLength, "a built AlarmString fills every column up to the label's end");
    Require(!built.contains(u'\r') && !built.contains(u'\n'), "a built AlarmString is one line");
    const AlarmRecord again = ParseAlarmString(built);
    Require(again == parsed, "parse(build(parse(x))) == parse(x)");
    Require(BuildAlarmString(again) == built, "building the same alarm twice gives the same line");

    // The single-field readers answer what the full parse does, on the raw line and on the built one.
    for (const QString* s : {&line, &built}) {
        Require(AlarmField::Time(*s) == parsed.Time, "the time reader agrees with the parser");
        Require(AlarmField::Enabled(*s) == parsed.Enabled, "the Enabled reader agrees with the parser");
        Require(AlarmField::Days(*s) == parsed.Days, "the day reader agrees with the parser");
        Require(AlarmField::Volume(*s) == parsed.Volume, "the volume reader agrees with the parser");
        Require(AlarmField::Label(*s) == parsed.Label, "the label reader agrees with the parser");
        Require(AlarmField::Sound(*s) == parsed.Sound, "the sound reader agrees with the parser");
    }
    Require(parsed.Volume >= 0 && parsed.Volume <= 100, "the volume is a percentage");
    Require(parsed.Time.isValid() && parsed.Time.second() == 0, "the time is a whole minute");
    Require(AlarmField::Minutes(line) >= 0, "the minute count is never negative");
    Require(AlarmField::DayMask(built).size() == 7, "a built AlarmString has seven day columns");

    // Other characters than "0" and "1" in the mask read as set days but miss the special texts
    // ("Every day"), so only a mask of digits keeps its description word for word.
    static const DayTexts texts = dayTexts();
    const QString mask = AlarmField::DayMask(line);
    const bool plainMask = std::all_of(mask.begin(), mask.end(), [](QChar c) { return c == u'0' || c == u'1'; });
    const QString days = DescribeDays(line, texts);
    Require(!plainMask || DescribeDays(built, texts) == days, "the repeat description survives a save");
    Require(AlarmSortKey(built, 1) / 16 == TimeToMinutes(parsed.Time), "a built line sorts by its time");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The lines a file hands over: decoded (UTF-8, else Windows-1252) and split at every line break.
    // A few lines per input: an input of thousands of short lines adds time, not paths.
    const QStringList lines = DecodeBackup(InputBytes(data, size));
    if (lines.isEmpty())
        checkLine(QString());
    for (qsizetype i = 0; i < qMin(lines.size(), kLinesPerInput); ++i)
        checkLine(lines.at(i));

    // What an edit box may hold: any UTF-16, lone surrogates included. Lines never contain a line break.
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, (size / 2) * 2);
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    checkLine(text);
    return 0;
}

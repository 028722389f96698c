#include "core/alarms/AlarmRecord.h"

#include "core/mglib/MgLib.h"

#include <algorithm>

namespace {

constexpr int kLabelColumn = 27;
constexpr int kLabelWidth = 300;
constexpr int kSoundColumn = kLabelColumn + kLabelWidth;
constexpr int kDefaultMinutes = 480;
constexpr int kFlagsColumn = 22;
constexpr int kSnoozeColumn = 23;
constexpr int kSkipColumn = 24;
constexpr int kSkipWidth = 3;
constexpr int kMissedBit = 8;
constexpr int kRampMask = 7;
const QDate kSkipEpoch(2000, 1, 1);

// UTF-16 index of the code point with the 0-based index codePoint, or s.size() past the end.
qsizetype utf16Index(QStringView s, int codePoint)
{
    qsizetype i = 0;
    for (int cp = 0; cp < codePoint && i < s.size(); ++cp)
        i += (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) ? 2 : 1;
    return i;
}

// Code points of columns first..first+count-1 (1-based; count < 0: to the end), without copying.
QStringView columns(const QString& s, int first, int count = -1)
{
    const qsizetype begin = utf16Index(s, first - 1);
    if (count < 0)
        return QStringView(s).mid(begin);
    const QStringView rest = QStringView(s).mid(begin);
    return rest.left(utf16Index(rest, count));
}

// A flag column is set unless it holds "0"; a column past the end is not "0".
bool flag(const QString& s, int column)
{
    return columns(s, column, 1) != u"0";
}

bool isBlank(QChar c)
{
    return c.unicode() <= 32;
}

QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

std::optional<int> decimal(QStringView text)
{
    bool ok = false;
    const int value = trimBlanks(text).toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// Digits 0-9 then A-Z; -1 for anything else, so stray text in a column reads as blank.
int base36Digit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'Z')
        return u - u'A' + 10;
    return -1;
}

QChar base36Char(int value)
{
    return QChar(value < 10 ? u'0' + value : u'A' + value - 10);
}

// The extended flags digit; 0 when blank or not a hexadecimal digit.
int extendedFlags(const QString& s)
{
    const QStringView column = columns(s, kFlagsColumn, 1);
    const int value = column.isEmpty() ? -1 : base36Digit(column.front());
    return value >= 0 && value < 16 ? value : 0;
}

QString extendedColumns(const AlarmRecord& a)
{
    const auto ramp = std::find(kRampChoices.begin(), kRampChoices.end(), a.RampSeconds);
    const int flags = (ramp == kRampChoices.end() ? 0 : int(ramp - kRampChoices.begin())) | (a.Missed ? kMissedBit : 0);
    QString text = flags == 0 ? QStringLiteral(" ") : QString(base36Char(flags));
    const bool snooze = a.SnoozeMinutes >= 1 && a.SnoozeMinutes <= kMaxSnoozeMinutes;
    text += snooze ? base36Char(a.SnoozeMinutes) : QChar(u' ');
    const qint64 day = a.SkipDate.isValid() ? kSkipEpoch.daysTo(a.SkipDate) : -1;
    if (day < 0 || day >= 36 * 36 * 36)
        return text + QStringLiteral("   ");
    for (int place = 36 * 36; place >= 1; place /= 36)
        text += base36Char(int(day / place % 36));
    return text;
}

QString flagText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// Lone CR or LF (as a Linux text box produces) become CR LF, so every line break is escaped
// and an AlarmString never splits a line of Data.ini or of a backup file.
QString normalisedLineBreaks(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}

} // namespace

bool AlarmRecord::IsOneTime() const
{
    return IsOneTimeMask(Days);
}

bool IsOneTimeMask(const std::array<bool, 7>& days)
{
    return std::none_of(days.begin(), days.end(), [](bool d) { return d; });
}

namespace AlarmField {

int Minutes(const QString& s)
{
    const int minutes = decimal(columns(s, 1, 4)).value_or(kDefaultMinutes);
    return minutes < 0 ? kDefaultMinutes : minutes;
}

QTime Time(const QString& s)
{
    return MinutesToTime(Minutes(s));
}
bool Enabled(const QString& s)
{
    return flag(s, 5);
}
bool Snooze(const QString& s)
{
    return flag(s, 6);
}
bool WakeUp(const QString& s)
{
    return flag(s, 7);
}
QString DayMask(const QString& s)
{
    return columns(s, 8, 7).toString();
}

std::array<bool, 7> Days(const QString& s)
{
    std::array<bool, 7> days{};
    const QStringView mask = columns(s, 8, 7);
    if (mask.size() == 7) {
        for (int i = 0; i < 7; ++i)
            days[i] = mask[i] != u'0';
    }
    return days;
}
bool MonitorOn(const QString& s)
{
    return flag(s, 15);
}
bool SoundLoop(const QString& s)
{
    return flag(s, 16);
}
bool VolumeOn(const QString& s)
{
    return flag(s, 17);
}
int Volume(const QString& s)
{
    return qBound(0, decimal(columns(s, 18, 3)).value_or(100), 100);
}
bool ShowMessage(const QString& s)
{
    return flag(s, 21);
}
QString Label(const QString& s)
{
    return DecodeLineBreaks(trimBlanks(columns(s, kLabelColumn, kLabelWidth)).toString());
}
QString Sound(const QString& s)
{
    return trimBlanks(columns(s, kSoundColumn)).toString();
}

int RampSeconds(const QString& s)
{
    const int index = extendedFlags(s) & kRampMask;
    return index < int(kRampChoices.size()) ? kRampChoices.at(index) : 0;
}
bool Missed(const QString& s)
{
    return (extendedFlags(s) & kMissedBit) != 0;
}
int SnoozeMinutes(const QString& s)
{
    const QStringView column = columns(s, kSnoozeColumn, 1);
    const int value = column.isEmpty() ? 0 : base36Digit(column.front());
    return value >= 1 && value <= kMaxSnoozeMinutes ? value : 0;
}
QDate SkipDate(const QString& s)
{
    const QStringView digits = columns(s, kSkipColumn, kSkipWidth);
    if (digits.size() != kSkipWidth)
        return {};
    int day = 0;
    for (QChar c : digits) {
        const int digit = base36Digit(c);
        if (digit < 0)
            return {};
        day = day * 36 + digit;
    }
    return kSkipEpoch.addDays(day);
}

} // namespace AlarmField

AlarmRecord ParseAlarmString(const QString& s)
{
    AlarmRecord a;
    a.Time = AlarmField::Time(s);
    a.Enabled = AlarmField::Enabled(s);
    a.Snooze = AlarmField::Snooze(s);
    a.WakeUp = AlarmField::WakeUp(s);
    a.Days = AlarmField::Days(s);
    a.MonitorOn = AlarmField::MonitorOn(s);
    a.SoundLoop = AlarmField::SoundLoop(s);
    a.VolumeOn = AlarmField::VolumeOn(s);
    a.Volume = AlarmField::Volume(s);
    a.ShowMessage = AlarmField::ShowMessage(s);
    a.Label = AlarmField::Label(s);
    a.Sound = AlarmField::Sound(s);
    a.RampSeconds = AlarmField::RampSeconds(s);
    a.SnoozeMinutes = AlarmField::SnoozeMinutes(s);
    a.SkipDate = AlarmField::SkipDate(s);
    a.Missed = AlarmField::Missed(s);
    return a;
}

QString BuildAlarmString(const AlarmRecord& a)
{
    QString s = PadRight(QString::number(TimeToMinutes(a.Time)), 4);
    s += flagText(a.Enabled) + flagText(a.Snooze) + flagText(a.WakeUp);
    for (bool day : a.Days)
        s += flagText(day);
    s += flagText(a.MonitorOn) + flagText(a.SoundLoop) + flagText(a.VolumeOn);
    s += PadRight(QString::number(qBound(0, a.Volume, 100)), 3);
    s += flagText(a.ShowMessage);
    s += extendedColumns(a);
    s += PadRight(EncodeLineBreaks(normalisedLineBreaks(a.Label)), kLabelWidth);
    QString sound = a.Sound;
    s += sound.replace(u'\r', u' ').replace(u'\n', u' ');
    return s;
}

QString DescribeDays(const QString& alarmString, const DayTexts& texts)
{
    const QString mask = AlarmField::DayMask(alarmString);
    if (mask.size() != 7)
        return {};
    if (mask == u"1111111")
        return texts.everyDay;
    if (mask == u"0111110")
        return texts.weekdays;
    if (mask == u"1000001")
        return texts.weekends;
    QStringList names;
    for (int position = 1; position <= 7; ++position) {
        const int day = DisplayDayToWeekday(position, texts.firstWeekdayOffset);
        if (mask.at(day - 1) != u'0')
            names.append(texts.shortDayNames.at(day - 1));
    }
    return names.join(QStringLiteral(", "));
}

AlarmRecord FirstStartAlarm(const QString& label, int systemVolume, const SoundExists& soundExists)
{
    AlarmRecord a;
    a.Time = MinutesToTime(540);
    a.Days = {false, true, true, true, true, true, false};
    a.Volume = qBound(0, systemVolume, 100);
    a.Label = label;
    a.Sound = soundExists(QStringLiteral("Birds")) ? QStringLiteral("Birds") : QString();
    return a;
}

AlarmRecord NewAlarm(QTime now, int month, const QString& label, int systemVolume, const SoundExists& soundExists)
{
    AlarmRecord a;
    a.Time = QTime(now.hour(), now.minute());
    a.Volume = qBound(0, systemVolume, 100);
    a.Label = label;
    const QString sound = month == 12 ? QStringLiteral("Christmas") : QStringLiteral("Bells1");
    a.Sound = soundExists(sound) ? sound : QString();
    return a;
}

QString ResolveSoundName(const QString& name, const QString& soundsFolder)
{
    static const QString pathCharacters = QStringLiteral("./\\:");
    if (name.isEmpty() || FirstDelimiterPos(pathCharacters, name) != 0)
        return name;
    return JoinPath(soundsFolder, name + QStringLiteral(".mp3"));
}

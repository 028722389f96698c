#include "core/alarms/AlarmRecord.h"

#include "core/mglib/MgLib.h"

namespace {

constexpr int kLabelColumn = 27;
constexpr int kLabelWidth = 300;
constexpr int kSoundColumn = kLabelColumn + kLabelWidth;
constexpr int kDefaultMinutes = 480;

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
    s += QStringLiteral("     ");
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

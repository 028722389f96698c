#include "AlarmRecord.h"

#include "MgLib.h"

namespace {

constexpr int kLabelColumn = 27;
constexpr int kLabelWidth = 300;
constexpr int kSoundColumn = kLabelColumn + kLabelWidth;
constexpr int kDefaultMinutes = 480;

// Code points of columns first..first+count-1 (1-based).
QString columns(const QString& s, int first, int count = -1) { return CodePointMid(s, first - 1, count); }

// A flag column is set unless it holds "0"; a column past the end is not "0".
bool flag(const QString& s, int column) { return columns(s, column, 1) != u"0"; }

std::optional<int> decimal(const QString& text)
{
    bool ok = false;
    const int value = TrimBlanks(text).toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

QString flagText(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

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
    return std::none_of(Days.begin(), Days.end(), [](bool d) { return d; });
}

namespace AlarmField {

int Minutes(const QString& s)
{
    const int minutes = decimal(columns(s, 1, 4)).value_or(kDefaultMinutes);
    return minutes < 0 ? kDefaultMinutes : minutes;
}

QTime Time(const QString& s) { return MinutesToTime(Minutes(s)); }
bool Enabled(const QString& s) { return flag(s, 5); }
bool Snooze(const QString& s) { return flag(s, 6); }
bool WakeUp(const QString& s) { return flag(s, 7); }
QString DayMask(const QString& s) { return columns(s, 8, 7); }
bool MonitorOn(const QString& s) { return flag(s, 15); }
bool SoundLoop(const QString& s) { return flag(s, 16); }
bool VolumeOn(const QString& s) { return flag(s, 17); }
int Volume(const QString& s) { return qBound(0, decimal(columns(s, 18, 3)).value_or(100), 100); }
bool ShowMessage(const QString& s) { return flag(s, 21); }
QString Label(const QString& s) { return DecodeLineBreaks(TrimBlanks(columns(s, kLabelColumn, kLabelWidth))); }
QString Sound(const QString& s) { return TrimBlanks(columns(s, kSoundColumn)); }

} // namespace AlarmField

AlarmRecord ParseAlarmString(const QString& s)
{
    AlarmRecord a;
    a.Time = AlarmField::Time(s);
    a.Enabled = AlarmField::Enabled(s);
    a.Snooze = AlarmField::Snooze(s);
    a.WakeUp = AlarmField::WakeUp(s);
    const QString mask = AlarmField::DayMask(s);
    if (mask.size() == 7) {
        for (int i = 0; i < 7; ++i)
            a.Days[i] = mask.at(i) != u'0';
    }
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

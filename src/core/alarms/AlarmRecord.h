#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <array>
#include <functional>

/** One alarm's settings, as the editor and the due-alarm handling work on them. */
struct AlarmRecord {
    QTime Time{8, 0}; // a whole minute
    bool Enabled = true;
    bool Snooze = true;
    bool WakeUp = true; // wake the computer from sleep for this alarm
    bool MonitorOn = true;
    bool VolumeOn = true;    // set the system volume to Volume while ringing
    int Volume = 100;        // percent 0..100
    bool ShowMessage = true; // window with the label; else only a tray balloon
    bool SoundLoop = true;
    std::array<bool, 7> Days{}; // repeat days, Sunday first; none set: a one-time alarm
    QString Label;              // line breaks as CR LF
    QString Sound;              // stock name, file, folder or program; empty: silent
    int RampSeconds = 0;        // the sound rises from silence over this long; one of kRampChoices
    int SnoozeMinutes = 0;      // 1..kMaxSnoozeMinutes; 0: the global snooze length
    QDate SkipDate;             // the local date of a repeating alarm's occurrence to leave out; invalid: none
    bool Missed = false;        // a one-time alarm that fell due while nothing could ring it

    bool IsOneTime() const;
    bool operator==(const AlarmRecord&) const = default;
};

/** True when no repeat day is set. */
bool IsOneTimeMask(const std::array<bool, 7>& days);

// The AlarmString: one fixed-column line per alarm, as Data.ini and backup files store it.
// Columns (1-based, counted in code points): 1-4 minutes, 5 Enabled, 6 Snooze, 7 WakeUp,
// 8-14 days Sunday..Saturday, 15 MonitorOn, 16 SoundLoop, 17 VolumeOn, 18-20 Volume,
// 21 ShowMessage, 22-26 the extended fields below, 27-326 Label, 327- Sound.
//
// The extended fields are blank in a string that sets none of them, so such a string is
// character for character what older versions write, and older versions ignore the columns:
// 22     one hexadecimal digit: bits 0-2 index kRampChoices, bit 3 Missed; blank = 0
// 23     SnoozeMinutes as one base-36 digit (1-9, A-Z = 10-35); blank = the global length
// 24-26  SkipDate as three base-36 digits counting days from 2000-01-01; blank = no skip
// A column that does not decode reads as blank.

/** Ramp lengths an alarm can choose, in seconds; 0 is no ramp. */
inline constexpr std::array<int, 6> kRampChoices{0, 15, 30, 60, 120, 300};
inline constexpr int kMaxSnoozeMinutes = 35;

/** Never fails: a missing or malformed field takes its documented default. */
AlarmRecord ParseAlarmString(const QString& alarmString);
/** At least 326 code points; never holds a line break. */
QString BuildAlarmString(const AlarmRecord& alarm);

/** Single fields of an AlarmString, each equal to the field ParseAlarmString gives. */
namespace AlarmField {
int Minutes(const QString& s); // 480 when not a number or negative; not capped
QTime Time(const QString& s);
bool Enabled(const QString& s);
bool Snooze(const QString& s);
bool WakeUp(const QString& s);
QString DayMask(const QString& s);          // columns 8-14 as stored; shorter than 7 when the string is
std::array<bool, 7> Days(const QString& s); // none set when the mask is shorter than 7
bool MonitorOn(const QString& s);
bool SoundLoop(const QString& s);
bool VolumeOn(const QString& s);
int Volume(const QString& s);
bool ShowMessage(const QString& s);
QString Label(const QString& s);
QString Sound(const QString& s);
int RampSeconds(const QString& s);
int SnoozeMinutes(const QString& s);
QDate SkipDate(const QString& s);
bool Missed(const QString& s);
} // namespace AlarmField

/** The texts DescribeDays needs; day names are the locale's abbreviated names, Sunday first. */
struct DayTexts {
    QString everyDay = QStringLiteral("Every day");
    QString weekdays = QStringLiteral("Weekdays");
    QString weekends = QStringLiteral("Weekends");
    std::array<QString, 7> shortDayNames;
    int firstWeekdayOffset = 0; // Sunday = 0 .. Saturday = 6
};

/** What the alarm list shows for the repeat days of an AlarmString. */
QString DescribeDays(const QString& alarmString, const DayTexts& texts);

/** Asks whether a sound name resolves to an existing file. */
using SoundExists = std::function<bool(const QString& soundName)>;

/** The alarm created on the very first start: 09:00 on weekdays, every switch on. */
AlarmRecord FirstStartAlarm(const QString& label, int systemVolume, const SoundExists& soundExists);
/** The record the editor opens with for Add. */
AlarmRecord NewAlarm(QTime now, int month, const QString& label, int systemVolume, const SoundExists& soundExists);

/** A stock sound name (no ".", "\", "/" or ":") becomes soundsFolder + name + ".mp3"; anything else is a path. */
QString ResolveSoundName(const QString& name, const QString& soundsFolder);

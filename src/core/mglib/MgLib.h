#pragma once

#include <QString>
#include <QTime>

class QLocale;

// Text helpers. Widths and positions count Unicode code points, so a label in
// Cyrillic or with emoji is cut on a character boundary.

/** Text padded with spaces or cut to exactly n code points. */
QString PadRight(const QString& text, int n);
/** Code points of text from the 0-based code-point index first, at most count of them (count < 0: to the end). */
QString CodePointMid(const QString& text, int first, int count = -1);
/** Number of code points in text. */
int CodePointLength(const QString& text);

/** 1-based position of the first delimiter of delims that occurs in text at all (delimiters tried in order), else 0. */
int FirstDelimiterPos(const QString& delims, const QString& text);
QString TextBeforeAnyOf(const QString& text, const QString& delims);
QString TextBefore(const QString& text, const QString& sub);
QString TextAfter(const QString& text, const QString& sub);

/** Blanks are the space and every control character (codes 0..32). */
QString TrimBlanks(const QString& text);

QString EncodeLineBreaks(const QString& text);
QString DecodeLineBreaks(const QString& text);

/** "1 Minute", "5 Minutes"; Russian units ("Минута", "День") follow the Russian plural rule. */
QString CountWithUnit(int n, const QString& singular, const QString& plural);

// Time and locale helpers.

int TimeToMinutes(QTime t);
/** Hours are capped at 23, so 1500 minutes is 23:00. */
QTime MinutesToTime(int minutes);
/** The locale's first weekday as Sunday = 0, Monday = 1 .. Saturday = 6. */
int FirstWeekdayOffset(const QLocale& locale);
/** Display column 1..7 (starting at the locale's first weekday) to the day index 1 = Sunday .. 7 = Saturday. */
int DayOfColumn(int column, int firstWeekdayOffset);
/** Same mapping under the name the alarm code uses. */
inline int DisplayDayToWeekday(int position, int firstWeekdayOffset)
{
    return DayOfColumn(position, firstWeekdayOffset);
}
/** Sunday-first day index 1..7 of a date. */
int WeekdayIndex(QDate date);
QString FormatShortTime(QTime t, const QLocale& locale);

// Paths and files.

/** folder + separator (when folder does not already end in one) + name. */
QString JoinPath(const QString& folder, const QString& name);
/** True for the audio extensions the player decodes; the case of the extension does not matter. */
bool IsAudioFileName(const QString& path);

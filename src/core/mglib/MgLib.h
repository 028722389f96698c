#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

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
/**
 * A locale's time format in Qt's notation. Some locales write the morning/afternoon designator with
 * the day-period letter "B" ("Bh:mm" in Taiwan), which Qt would copy as a letter and then show a
 * 24-hour hour; it becomes Qt's designator "AP".
 */
QString LocaleTimeFormat(const QLocale& locale, QLocale::FormatType type);

/** The AM/PM designator of a Qt time format, wherever it stands. */
struct TimeDesignator {
    QString token;           // "AP", "ap", "A" or "a" as the format writes it; empty in a 24-hour format
    bool beforeHour = false; // "AP h:mm" (Korean), "APh:mm"
    bool TwelveHour() const { return !token.isEmpty(); }
};
TimeDesignator FindTimeDesignator(const QString& format);

/** t in the locale's short time format (LocaleTimeFormat): hours and minutes. */
QString FormatShortTime(QTime t, const QLocale& locale);

// Paths and files.

/** folder + separator (when folder does not already end in one) + name. */
QString JoinPath(const QString& folder, const QString& name);
/**
 * The extensions of the audio files a sound may name, with their dots, in lower case: those the
 * player's decoder reads (".oga" and ".opus" are Ogg Vorbis and Opus as sound themes name them), and
 * ".wma" and ".afc", which old alarm lists may still name.
 */
const QStringList& AudioFileExtensions();
/** True for an extension of AudioFileExtensions; the case of the extension does not matter. */
bool IsAudioFileName(const QString& path);

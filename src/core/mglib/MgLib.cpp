#include "core/mglib/MgLib.h"

#include <QDate>
#include <QLocale>

namespace {

bool isBlank(QChar c)
{
    return c.unicode() <= 32;
}

// UTF-16 index of the code point with the given index, or text.size() when past the end.
qsizetype utf16IndexOf(const QString& text, int codePoint)
{
    qsizetype i = 0;
    for (int cp = 0; cp < codePoint && i < text.size(); ++cp)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    return i;
}

} // namespace

int CodePointLength(const QString& text)
{
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++n)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    return n;
}

QString CodePointMid(const QString& text, int first, int count)
{
    const qsizetype begin = utf16IndexOf(text, first);
    if (count < 0)
        return text.mid(begin);
    const qsizetype end = begin + utf16IndexOf(text.mid(begin, qsizetype(count) * 2), count);
    return text.mid(begin, end - begin);
}

QString PadRight(const QString& text, int n)
{
    if (n <= 0)
        return {};
    const int length = CodePointLength(text);
    if (length >= n)
        return CodePointMid(text, 0, n);
    return text + QString(n - length, u' ');
}

int FirstDelimiterPos(const QString& delims, const QString& text)
{
    for (QChar d : delims) {
        const qsizetype at = text.indexOf(d);
        if (at >= 0)
            return int(at) + 1;
    }
    return 0;
}

QString TextBeforeAnyOf(const QString& text, const QString& delims)
{
    const int pos = FirstDelimiterPos(delims, text);
    return pos == 0 ? text : text.left(pos - 1);
}

QString TextBefore(const QString& text, const QString& sub)
{
    const qsizetype at = text.indexOf(sub);
    return at < 0 ? text : text.left(at);
}

QString TextAfter(const QString& text, const QString& sub)
{
    const qsizetype at = text.indexOf(sub);
    return at < 0 ? QString() : text.mid(at + sub.size());
}

QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString EncodeLineBreaks(const QString& text)
{
    QString result = text;
    return result.replace(QStringLiteral("\r\n"), QStringLiteral("||"));
}

QString DecodeLineBreaks(const QString& text)
{
    QString result = text;
    return result.replace(QStringLiteral("||"), QStringLiteral("\r\n"));
}

QString CountWithUnit(int n, const QString& singular, const QString& plural)
{
    struct RussianUnit {
        const char16_t* singular;
        const char16_t* few;  // 2..4
        const char16_t* many; // 0, 5..20
    };
    static const RussianUnit russianUnits[] = {{u"День", u"Дня", u"Дней"}, {u"Минута", u"Минуты", u"Минут"}};
    for (const RussianUnit& unit : russianUnits) {
        if (singular != QStringView(unit.singular))
            continue;
        const int r = n % 100;
        const int d = n % 10;
        QStringView word = d == 1 ? QStringView(singular) : QStringView(unit.few);
        if (r == 0 || (r >= 5 && r <= 20) || d == 0 || d >= 5)
            word = unit.many;
        return QString::number(n) + u' ' + word;
    }
    return QString::number(n) + u' ' + (n == 1 ? singular : plural);
}

int TimeToMinutes(QTime t)
{
    return t.isValid() ? t.hour() * 60 + t.minute() : 0;
}

QTime MinutesToTime(int minutes)
{
    if (minutes < 0)
        minutes = 0;
    return QTime(qMin(minutes / 60, 23), minutes % 60);
}

int FirstWeekdayOffset(const QLocale& locale)
{
    // Qt numbers Monday 1 .. Sunday 7; Sunday becomes 0.
    return int(locale.firstDayOfWeek()) % 7;
}

int DayOfColumn(int column, int firstWeekdayOffset)
{
    return (firstWeekdayOffset + column - 1) % 7 + 1;
}

int WeekdayIndex(QDate date)
{
    return date.dayOfWeek() % 7 + 1;
}

QString LocaleTimeFormat(const QLocale& locale, QLocale::FormatType type)
{
    const QString format = locale.timeFormat(type);
    QString result;
    result.reserve(format.size() + 1);
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            quoted = !quoted; // a doubled quote, a literal one, toggles twice
        } else if (!quoted && (c == u'B' || c == u'b')) {
            while (i + 1 < format.size() && format.at(i + 1) == c)
                ++i; // "BBBB" is only the longer name of the same period
            result += QStringLiteral("AP");
            continue;
        }
        result += c;
    }
    return result;
}

TimeDesignator FindTimeDesignator(const QString& format)
{
    TimeDesignator designator;
    qsizetype hourAt = -1;
    qsizetype designatorAt = -1;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            quoted = !quoted;
        } else if (quoted) {
            continue;
        } else if ((c == u'h' || c == u'H') && hourAt < 0) {
            hourAt = i;
        } else if ((c == u'a' || c == u'A') && designatorAt < 0) {
            designatorAt = i;
            const bool pair = i + 1 < format.size() && (format.at(i + 1) == u'p' || format.at(i + 1) == u'P');
            designator.token = format.mid(i, pair ? 2 : 1);
        }
    }
    designator.beforeHour = designatorAt >= 0 && (hourAt < 0 || designatorAt < hourAt);
    return designator;
}

QString FormatShortTime(QTime t, const QLocale& locale)
{
    return locale.toString(t, LocaleTimeFormat(locale, QLocale::ShortFormat));
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || folder.endsWith(u'/') || folder.endsWith(u'\\'))
        return folder + name;
    return folder + u'/' + name;
}

const QStringList& AudioFileExtensions()
{
    static const QStringList extensions = {QStringLiteral(".mp3"),  QStringLiteral(".mp2"),  QStringLiteral(".mp1"),
                                           QStringLiteral(".wav"),  QStringLiteral(".wma"),  QStringLiteral(".ogg"),
                                           QStringLiteral(".oga"),  QStringLiteral(".opus"), QStringLiteral(".aif"),
                                           QStringLiteral(".aiff"), QStringLiteral(".aifc"), QStringLiteral(".afc"),
                                           QStringLiteral(".flac"), QStringLiteral(".au"),   QStringLiteral(".snd"),
                                           QStringLiteral(".caf"),  QStringLiteral(".w64"),  QStringLiteral(".rf64")};
    return extensions;
}

bool IsAudioFileName(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || path.indexOf(u'/', dot) >= 0 || path.indexOf(u'\\', dot) >= 0)
        return false;
    return AudioFileExtensions().contains(path.mid(dot).toLower());
}

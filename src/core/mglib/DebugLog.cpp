#include "core/mglib/DebugLog.h"

#include "core/alarms/AppClock.h"
#include "core/mglib/MgLib.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QStringList>

namespace {

struct LogState {
    QMutex mutex;
    bool debugMode = false;
    QString folder;
    bool fileAllowed = false; // StartLogFile was called: lines may go to the disk
    bool fileStarted = false; // Log.txt is replaced once per run, then appended to.
    QStringList unwritten;    // lines not on the disk yet: from before the start, or a failed write
    qsizetype dropped = 0;    // unwritten lines let go to bound the memory
};

LogState& state()
{
    static LogState s;
    return s;
}

QString timeStamp()
{
    const QDateTime now = AppClock::Program().Now();
    return QLocale::system().toString(now.date(), QLocale::ShortFormat) + u' ' +
           now.time().toString(QStringLiteral("HH:mm:ss.zzz"));
}

// Called with the mutex held.
void writeUnwritten(LogState& s)
{
    if (!s.debugMode || !s.fileAllowed)
        return;
    QFile file(JoinPath(s.folder, QStringLiteral("Log.txt")));
    const QIODevice::OpenMode mode = s.fileStarted ? QIODevice::Append : QIODevice::Truncate;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | mode))
        return;
    QString text;
    if (s.dropped > 0)
        text = timeStamp() + QStringLiteral(" : (%1 earlier lines were lost)\n").arg(s.dropped);
    if (!s.unwritten.isEmpty())
        text += s.unwritten.join(u'\n') + u'\n';
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) == bytes.size() && file.flush()) {
        s.fileStarted = true;
        s.unwritten.clear();
        s.dropped = 0;
    }
}

} // namespace

bool DebugMode()
{
    return state().debugMode;
}

void SetDebugMode(bool on)
{
    QMutexLocker lock(&state().mutex);
    state().debugMode = on;
}

void SetLogFolder(const QString& folder)
{
    QMutexLocker lock(&state().mutex);
    state().folder = folder;
}

void WriteLog(const QString& text)
{
    LogState& s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.debugMode)
        return;
    s.unwritten.append(timeStamp() + QStringLiteral(" : ") + text);
    if (s.unwritten.size() > kLogLinesHeld) {
        const qsizetype excess = s.unwritten.size() - kLogLinesHeld;
        s.unwritten.remove(0, excess);
        s.dropped += excess;
    }
    writeUnwritten(s);
}

void StartLogFile()
{
    LogState& s = state();
    QMutexLocker lock(&s.mutex);
    s.fileAllowed = true;
    writeUnwritten(s);
}

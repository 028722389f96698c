#include "DebugLog.h"

#include "MgLib.h"

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
    bool fileStarted = false; // Log.txt is replaced once per run, then appended to.
    QStringList unwritten;    // lines a failed write could not save; retried with the next line
};

LogState& state()
{
    static LogState s;
    return s;
}

QString timeStamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    return QLocale::system().toString(now.date(), QLocale::ShortFormat) + u' ' +
           now.time().toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

bool DebugMode() { return state().debugMode; }

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
    QFile file(JoinPath(s.folder, QStringLiteral("Log.txt")));
    const QIODevice::OpenMode mode = s.fileStarted ? QIODevice::Append : QIODevice::Truncate;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | mode))
        return;
    const QByteArray bytes = (s.unwritten.join(u'\n') + u'\n').toUtf8();
    if (file.write(bytes) == bytes.size() && file.flush()) {
        s.fileStarted = true;
        s.unwritten.clear();
    }
}

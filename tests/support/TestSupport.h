#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

class QTemporaryDir;

/** Folder of the checked-in test files (tests/data). */
QString TestDataPath(const QString& name);
QByteArray ReadFileBytes(const QString& path);
void WriteFileBytes(const QString& path, const QByteArray& bytes);
/** dir's path, with a Data.ini in it as a user's would be: these alarms, and the first start behind. */
QString PreparedDataFolder(const QTemporaryDir& dir, const QStringList& alarms);

/** A call that must hand its work to another thread and return; generous, as it is a bound, not a benchmark. */
constexpr qint64 kReturnsWithinMs = 100;

/** How long call took, in milliseconds. */
template <class F> qint64 ElapsedMs(F&& call)
{
    QElapsedTimer clock;
    clock.start();
    call();
    return clock.elapsed();
}

/** A window's control by the name the window gives it; the test run stops when there is none. */
template <class T> T* Child(const QObject* window, const char* name)
{
    T* child = window->findChild<T*>(QLatin1String(name));
    if (!child)
        qFatal("no child named %s", name);
    return child;
}

/** Sets an environment variable for the lifetime of the object, then puts the old value back. */
class ScopedEnv final
{
public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

#pragma once

#include <QByteArray>
#include <QString>

/** Folder of the checked-in test files (tests/data). */
QString TestDataPath(const QString& name);
QByteArray ReadFileBytes(const QString& path);
void WriteFileBytes(const QString& path, const QByteArray& bytes);

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

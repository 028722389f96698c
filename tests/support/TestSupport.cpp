#include "TestSupport.h"

#include "core/app/AppIni.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

QString TestDataPath(const QString& name)
{
    return qEnvironmentVariable("LARKBELL_TEST_DATA") + u'/' + name;
}

QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

void WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value)
    : m_name(name)
    , m_old(qgetenv(name))
    , m_had(qEnvironmentVariableIsSet(name))
{
    qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (m_had)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

QString PreparedDataFolder(const QTemporaryDir& dir, const QStringList& alarms)
{
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    ini.WriteList(Settings::Alarms, alarms);
    ini.Write(Settings::FirstStarted, true);
    return dir.path();
}

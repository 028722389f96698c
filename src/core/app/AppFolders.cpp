#include "core/app/AppFolders.h"

#include "core/mglib/MgLib.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString withSeparator(const QString& folder)
{
    return JoinPath(folder, QString());
}

QString resourceFolder(const QString& exeFolder, const QString& name)
{
    const QString beside = JoinPath(exeFolder, name);
    const QString installed = QDir::cleanPath(JoinPath(exeFolder, QStringLiteral("../share/larkbell/") + name));
    if (!QFileInfo(beside).isDir() && QFileInfo(installed).isDir())
        return withSeparator(installed);
    return withSeparator(beside);
}

QString userConfigFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return JoinPath(base, QStringLiteral("larkbell"));
}

bool isWritableFolder(const QString& folder)
{
    return QFileInfo(folder).isWritable();
}

} // namespace

AppFolders AppFolders::Resolve(const QString& exeFolder)
{
    AppFolders folders;
    folders.exeFolder = exeFolder;
    QString data = qEnvironmentVariable("LARKBELL_DATA_DIR");
    if (data.isEmpty())
        data = isWritableFolder(exeFolder) ? exeFolder : userConfigFolder();
    QDir().mkpath(data);
    folders.dataFolder = withSeparator(data);
    folders.soundsFolder = resourceFolder(exeFolder, QStringLiteral("Sounds"));
    folders.langsFolder = resourceFolder(exeFolder, QStringLiteral("Langs"));
    return folders;
}

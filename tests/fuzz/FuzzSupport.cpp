#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

void Require(bool holds, const char* property)
{
    if (holds)
        return;
    std::fprintf(stderr, "Property broken: %s\n", property);
    std::abort();
}

QString ScratchFolder()
{
    // /dev/shm keeps the atomic writes (and their fsync) off the disk: a million inputs must not wear it.
    static QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
                                    ? QStringLiteral("/dev/shm/larkbell-fuzz-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/larkbell-fuzz-XXXXXX"));
    if (!folder.isValid()) {
        std::fprintf(stderr, "Cannot create a scratch folder\n");
        std::abort();
    }
    return folder.path();
}

void PutFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

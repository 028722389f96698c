#include "BackupFile.h"

#include "TextFile.h"

#include <QFile>
#include <QFileInfo>

QStringList DecodeBackup(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    const QString text = DecodeUserText(nul < 0 ? bytes : bytes.left(nul));
    QStringList lines;
    qsizetype begin = 0;
    while (begin < text.size()) {
        qsizetype end = begin;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        lines.append(text.mid(begin, end - begin));
        if (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n')
            ++end;
        begin = end + 1;
    }
    return lines;
}

QByteArray EncodeBackup(const QStringList& alarms)
{
    QByteArray bytes;
    for (const QString& alarm : alarms)
        bytes += alarm.toUtf8() + "\r\n";
    return bytes;
}

BackupReadResult ReadBackupFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("Cannot open \"%1\": %2").arg(path, file.errorString())};
    if (file.size() > kMaxBackupFileBytes)
        return {{}, QStringLiteral("\"%1\" is too large for a backup file (more than %2 MB).")
                        .arg(path)
                        .arg(kMaxBackupFileBytes / (1024 * 1024))};
    const QByteArray bytes = file.read(kMaxBackupFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return {{}, QStringLiteral("Cannot read \"%1\": %2").arg(path, file.errorString())};
    return {DecodeBackup(bytes), QString()};
}

QString WriteBackupFile(const QString& path, const QStringList& alarms)
{
    return WriteFileAtomically(path, EncodeBackup(alarms));
}

QString BackupFileNameWithExtension(const QString& path)
{
    return QFileInfo(path).fileName().contains(u'.') ? path : path + QStringLiteral(".alm");
}

#include "core/alarms/BackupFile.h"

#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLib.h"
#include "core/mglib/TextFile.h"

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

qsizetype CountBackupLines(const QByteArray& bytes)
{
    // CR and LF are single bytes in UTF-8 and in Windows-1252 alike, so the bytes tell the lines.
    const qsizetype nul = bytes.indexOf('\0');
    const qsizetype end = nul < 0 ? bytes.size() : nul;
    qsizetype lines = 0;
    qsizetype i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0; // a byte-order mark makes no line of its own
    while (i < end) {
        ++lines;
        while (i < end && bytes[i] != '\r' && bytes[i] != '\n')
            ++i;
        if (i + 1 < end && bytes[i] == '\r' && bytes[i + 1] == '\n')
            ++i;
        ++i;
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
        return {{},
                QStringLiteral("\"%1\" is too large for a backup file (more than %2 MB).")
                    .arg(path)
                    .arg(kMaxBackupFileBytes / (1024 * 1024))};
    // Sized by the file: reading asks for the whole limit's memory up front, whatever the file holds.
    const QByteArray bytes = file.read(qMin(file.size(), kMaxBackupFileBytes) + 1);
    if (file.error() != QFileDevice::NoError)
        return {{}, QStringLiteral("Cannot read \"%1\": %2").arg(path, file.errorString())};
    if (bytes.size() > kMaxBackupFileBytes)
        return {{},
                QStringLiteral("\"%1\" is too large for a backup file (more than %2 MB).")
                    .arg(path)
                    .arg(kMaxBackupFileBytes / (1024 * 1024))};
    if (const qsizetype lines = CountBackupLines(bytes); lines > kMaxBackupAlarms)
        return {{},
                QStringLiteral("\"%1\" holds %2 lines; a backup holds at most %3 alarms.")
                    .arg(path)
                    .arg(lines)
                    .arg(kMaxBackupAlarms)};
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

bool SoundStartsProgram(const QString& sound, const QString& soundsFolder)
{
    const QString path = ResolveSoundName(sound, soundsFolder);
    if (path.isEmpty() || IsAudioFileName(path))
        return false;
    return !QFileInfo(path).isDir();
}

QList<int> AlarmsStartingPrograms(const QStringList& alarms, const QString& soundsFolder)
{
    QList<int> rows;
    for (int row = 0; row < int(alarms.size()); ++row) {
        if (SoundStartsProgram(AlarmField::Sound(alarms.at(row)), soundsFolder))
            rows.append(row);
    }
    return rows;
}

QStringList ReplaceSounds(QStringList alarms, const QList<int>& rows, const QString& sound)
{
    for (const int row : rows) {
        if (row < 0 || row >= int(alarms.size()))
            continue;
        AlarmRecord alarm = ParseAlarmString(alarms.at(row));
        alarm.Sound = sound;
        alarms[row] = BuildAlarmString(alarm);
    }
    return alarms;
}

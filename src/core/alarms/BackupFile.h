#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

/** The result of reading a backup: the items, or a message saying why there are none. */
struct BackupReadResult {
    QStringList alarms;
    QString error; // empty on success
};

// A backup file (*.alm) is the alarm list as text: one AlarmString per line, every line ending in CR LF.

/** Lines split at CR LF, lone CR and lone LF; a NUL ends the text; every line, an empty one too, is an item. */
QStringList DecodeBackup(const QByteArray& bytes);
/** UTF-8 without BOM, each item followed by CR LF. */
QByteArray EncodeBackup(const QStringList& alarms);

/** Reads the whole file before returning, so a failure leaves the caller's list untouched. */
BackupReadResult ReadBackupFile(const QString& path);
/** Replaces the file atomically; returns an error message or an empty string. */
QString WriteBackupFile(const QString& path, const QStringList& alarms);
/** A file name without an extension gets ".alm". */
QString BackupFileNameWithExtension(const QString& path);

/** Larger files are refused with a message rather than read into memory. */
inline constexpr qint64 kMaxBackupFileBytes = 64 * 1024 * 1024;
/** A file of more lines is refused before it is decoded: the settings store could not keep such a list. */
inline constexpr int kMaxBackupAlarms = 50000;

/** The lines DecodeBackup would make of bytes, counted without decoding them. */
qsizetype CountBackupLines(const QByteArray& bytes);

// A backup may come from someone else. An alarm whose sound is not audio starts a program, or opens a
// document or web page, at alarm time; the user decides before such alarms are taken over.

/**
 * Whether ringing with sound would hand it to the system to run or open rather than play it: any name
 * but an audio file, an existing folder (of audio files) or nothing. Judged by the name, not by what
 * exists now, as the file may be put there later.
 */
bool SoundStartsProgram(const QString& sound, const QString& soundsFolder);
/** The rows of alarms whose sounds start programs, in list order. */
QList<int> AlarmsStartingPrograms(const QStringList& alarms, const QString& soundsFolder);
/** alarms with the sound of each alarm in rows replaced by sound; every other field stays as it was. */
QStringList ReplaceSounds(QStringList alarms, const QList<int>& rows, const QString& sound);
/** The stock sound that alarms ring with when their programs are not taken over. */
inline QString BackupSafeSound()
{
    return QStringLiteral("Bells1");
}

#pragma once

#include <QByteArray>
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

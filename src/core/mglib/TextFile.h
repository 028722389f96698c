#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

/**
 * The 8-bit code page in which a settings or backup file that is not UTF-8 is read: that of the language
 * the user runs, kept current by the language unit (TMgLang). Windows-1252 until a language is known.
 */
int UserTextCodePage();
void SetUserTextCodePage(int codePage);

/**
 * Text of a file the user may have written anywhere: UTF-8 (a leading BOM is dropped), else read in
 * codePage, a Windows code page (see CodePages.h).
 */
QString DecodeUserText(const QByteArray& bytes, int codePage);
/** The same in the user's code page, UserTextCodePage(). */
QString DecodeUserText(const QByteArray& bytes);

/** Windows-1252 to Unicode, byte by byte. */
QString DecodeWindows1252(const QByteArray& bytes);

/**
 * The steps of a save that only the operating system offers: flushing a written file to the disk,
 * replacing one file by another in one step, and flushing a folder so that the replacement itself
 * survives a power cut. Each returns an empty string on success, else the system's reason; paths are
 * UTF-8 and a file is the descriptor of QFileDevice::handle(). The program installs its platform's
 * steps once, before the first save. A step left empty does nothing, except the replacement, which is
 * then std::rename: one step on POSIX systems, but nothing is flushed.
 */
struct FileCommitSteps {
    std::function<std::string(int fileHandle)> syncFile;
    std::function<std::string(const std::string& from, const std::string& to)> replaceFile;
    std::function<std::string(const std::string& folder)> syncFolder;
};
void SetFileCommitSteps(FileCommitSteps steps);

/**
 * Replaces the file at path with bytes so that a crash at any moment leaves either the old or the new
 * content: a temporary file in the same folder (".<name>.larkbell-XXXXXX.tmp", six random letters or
 * digits) is written, flushed to disk and put in place of path, both through the installed
 * FileCommitSteps. Through a symbolic link the file behind it is replaced, and an existing file keeps
 * its permissions. A file that may not be written (read-only for this user, immutable) is refused, not
 * replaced. Returns an empty string on success, else a message naming the file and the system's reason.
 */
QString WriteFileAtomically(const QString& path, const QByteArray& bytes);

/**
 * Removes the temporary files that writes of path left behind when the program was killed in the
 * middle (named as WriteFileAtomically names them, nothing else), if they are older than
 * minimumAgeSecs: a younger one may belong to a write in progress. Returns how many were removed.
 */
int RemoveAbandonedTempFiles(const QString& path, int minimumAgeSecs);

#pragma once

#include <QByteArray>
#include <QString>

/** Text of a file the user may have written anywhere: UTF-8 (a leading BOM is dropped), else read as Windows-1252. */
QString DecodeUserText(const QByteArray& bytes);

/** Windows-1252 to Unicode, byte by byte. */
QString DecodeWindows1252(const QByteArray& bytes);

/**
 * Replaces the file at path with bytes so that a crash at any moment leaves either the old or the new
 * content: a temporary file in the same folder (".<name>.larkbell-XXXXXX.tmp", six random letters or
 * digits) is written, flushed to disk and renamed over path. A file that may not be written (read-only
 * for this user, immutable) is refused, not replaced.
 * Returns an empty string on success, else a message naming the file and the system's reason.
 */
QString WriteFileAtomically(const QString& path, const QByteArray& bytes);

/**
 * Removes the temporary files that writes of path left behind when the program was killed in the
 * middle (named as WriteFileAtomically names them, nothing else), if they are older than
 * minimumAgeSecs: a younger one may belong to a write in progress. Returns how many were removed.
 */
int RemoveAbandonedTempFiles(const QString& path, int minimumAgeSecs);

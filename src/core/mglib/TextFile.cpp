#include "TextFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString systemError(const QString& action, const QString& path, int error)
{
    return QStringLiteral("%1 \"%2\": %3").arg(action, path, QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// A save's temporary file carries the program's own prefix and suffix around six random letters or
// digits, so that the clean-up after a crash can never take a file of the user's ("Data.ini.backup").
const QLatin1String kTempTag(".larkbell-");
const QLatin1String kTempSuffix(".tmp");
constexpr int kTempRandomChars = 6;

QString tempPrefix(const QString& fileName) { return u'.' + fileName + kTempTag; }

bool isLetterOrDigit(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// Through a symbolic link (a settings file kept in a synchronised folder) the file it points to is
// replaced; renaming over the link would turn it into a copy that nothing synchronises any more.
QString fileBehindLinks(const QString& path)
{
    const QFileInfo info(path);
    return info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
}

} // namespace

QString DecodeWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.append(b >= 0x80 && b <= 0x9F ? QChar(kWindows1252High[b - 0x80]) : QChar(b));
    }
    return text;
}

QString DecodeUserText(const QByteArray& bytes)
{
    // Exactly one byte-order mark is dropped, in both decodings: a second one is text, and a marked
    // file with a stray 8-bit byte must not begin with "ï»¿".
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8.decode(body);
    return utf8.hasError() ? DecodeWindows1252(body) : text;
}

QString WriteFileAtomically(const QString& path, const QByteArray& bytes)
{
    // QSaveFile would do most of this, but it cannot report which step failed and
    // falls back to writing in place when the folder refuses new files.
    const QString realPath = fileBehindLinks(path);
    const QByteArray target = QFile::encodeName(realPath);
    // Renaming over a file needs no right on the file itself, so a file the user made read-only
    // would be replaced without this check; it is honoured as a refusal instead.
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        return systemError(QStringLiteral("Cannot write"), path, errno);
    const QFileInfo real(realPath);
    QByteArray temp = QFile::encodeName(real.absoluteDir().filePath(tempPrefix(real.fileName()))) +
                      QByteArray(kTempRandomChars, 'X') + QByteArray(kTempSuffix.data(), kTempSuffix.size());
    const int fd = ::mkstemps(temp.data(), int(kTempSuffix.size()));
    if (fd < 0)
        return systemError(QStringLiteral("Cannot create a temporary file beside"), path, errno);
    int error = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    struct stat existing;
    if (!error && ::stat(target.constData(), &existing) == 0)
        ::fchmod(fd, existing.st_mode & 07777);
    else if (!error)
        ::fchmod(fd, 0644);
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && std::rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temp.constData());
        return systemError(QStringLiteral("Cannot write"), path, error);
    }
    // The rename itself must reach the disk too, or a power cut can bring back the old name.
    const QByteArray folder = QFile::encodeName(QFileInfo(realPath).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

int RemoveAbandonedTempFiles(const QString& path, int minimumAgeSecs)
{
    const QFileInfo target(fileBehindLinks(path));
    const QString prefix = tempPrefix(target.fileName());
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-minimumAgeSecs);
    int removed = 0;
    const QFileInfoList candidates = target.absoluteDir().entryInfoList(
        {prefix + QString(kTempRandomChars, u'?') + kTempSuffix}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& file : candidates) {
        // The wildcard also matches characters the random part never holds (and is blind to case on
        // some systems), so the name is checked exactly.
        const QString name = file.fileName();
        const QStringView random = QStringView(name).mid(prefix.size(), kTempRandomChars);
        const bool ours = name.size() == prefix.size() + kTempRandomChars + kTempSuffix.size() &&
                          name.startsWith(prefix) && name.endsWith(kTempSuffix) &&
                          std::all_of(random.begin(), random.end(), isLetterOrDigit);
        if (ours && file.lastModified().toUTC() < before && QFile::remove(file.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

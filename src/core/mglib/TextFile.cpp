#include "core/mglib/TextFile.h"

#include "core/mglib/CodePages.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Read by the timer thread's saves as well as by the windows.
std::atomic<int> userTextCodePage{WesternCodePage};

QString failure(const QString& action, const QString& path, const QString& reason)
{
    return QStringLiteral("%1 \"%2\": %3").arg(action, path, reason);
}

FileCommitSteps& commitSteps()
{
    static FileCommitSteps steps;
    return steps;
}

// Without the platform's step: in one step on POSIX systems, where the program's tests run bare.
std::string renameOver(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? std::string() : std::string(std::strerror(errno));
}

// A save's temporary file carries the program's own prefix and suffix around six random letters or
// digits, so that the clean-up after a crash can never take a file of the user's ("Data.ini.backup").
const QLatin1String kTempTag(".larkbell-");
const QLatin1String kTempSuffix(".tmp");
constexpr int kTempRandomChars = 6;

QString tempPrefix(const QString& fileName)
{
    return u'.' + fileName + kTempTag;
}

bool isLetterOrDigit(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

QString randomLettersAndDigits(int count)
{
    static constexpr char16_t kChars[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < count; ++i)
        text.append(QChar(kChars[QRandomGenerator::global()->bounded(int(std::size(kChars)) - 1)]));
    return text;
}

// Created only if no file has the name yet, so that two saves at once never share one.
bool createTempFile(QFile& file, const QFileInfo& target)
{
    constexpr int kAttempts = 100;
    for (int i = 0; i < kAttempts; ++i) {
        file.setFileName(target.absoluteDir().filePath(tempPrefix(target.fileName()) +
                                                       randomLettersAndDigits(kTempRandomChars) + kTempSuffix));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return true;
        if (!file.exists())
            return false;
    }
    return false;
}

// The replaced file's permissions, without the User flags: they say what this user may do and would
// come back as owner bits. A new file may be read by all and written by its owner.
QFileDevice::Permissions permissionsFor(const QFileInfo& target)
{
    if (!target.exists())
        return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    return target.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

// Why a file that QFileInfo calls not writable is so, in the system's words where it gives them.
QString whyNotWritable(const QString& path)
{
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return probe.errorString();
    return QStringLiteral("the file is read-only");
}

// Through a symbolic link (a settings file kept in a synchronised folder) the file it points to is
// replaced; renaming over the link would turn it into a copy that nothing synchronises any more.
QString fileBehindLinks(const QString& path)
{
    const QFileInfo info(path);
    return info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
}

} // namespace

int UserTextCodePage()
{
    return userTextCodePage.load();
}

void SetUserTextCodePage(int codePage)
{
    userTextCodePage.store(codePage);
}

QString DecodeWindows1252(const QByteArray& bytes)
{
    return DecodeCodePage(bytes, WesternCodePage);
}

QString DecodeUserText(const QByteArray& bytes, int codePage)
{
    // Exactly one byte-order mark is dropped, in both decodings: a second one is text, and a marked
    // file with a stray 8-bit byte must not begin with "ï»¿".
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8.decode(body);
    return utf8.hasError() ? DecodeCodePage(body, codePage) : text;
}

QString DecodeUserText(const QByteArray& bytes)
{
    return DecodeUserText(bytes, UserTextCodePage());
}

void SetFileCommitSteps(FileCommitSteps steps)
{
    commitSteps() = std::move(steps);
}

QString WriteFileAtomically(const QString& path, const QByteArray& bytes)
{
    // QSaveFile would do most of this, but it names its temporary file "<name>.XXXXXX", which the
    // clean-up after a crash could not tell from a file of the user's; nor can it say which step failed.
    const QString realPath = fileBehindLinks(path);
    const QFileInfo real(realPath);
    // Renaming over a file needs no right on the file itself, so a file the user made read-only
    // would be replaced without this check; it is honoured as a refusal instead.
    if (real.exists() && !real.isWritable())
        return failure(QStringLiteral("Cannot write"), path, whyNotWritable(realPath));
    const QFileDevice::Permissions permissions = permissionsFor(real);
    QFile temp;
    if (!createTempFile(temp, real))
        return failure(QStringLiteral("Cannot create a temporary file beside"), path, temp.errorString());
    const FileCommitSteps& steps = commitSteps();
    QString error;
    if (temp.write(bytes) != bytes.size() || !temp.flush())
        error = temp.errorString();
    if (error.isEmpty()) {
        temp.setPermissions(permissions); // a file system without permissions refuses; the save goes on
        if (steps.syncFile)
            error = QString::fromStdString(steps.syncFile(temp.handle()));
    }
    temp.close();
    if (error.isEmpty() && temp.error() != QFileDevice::NoError)
        error = temp.errorString();
    if (error.isEmpty()) {
        const std::string from = temp.fileName().toStdString();
        const std::string to = realPath.toStdString();
        error = QString::fromStdString(steps.replaceFile ? steps.replaceFile(from, to) : renameOver(from, to));
    }
    if (!error.isEmpty()) {
        temp.remove();
        return failure(QStringLiteral("Cannot write"), path, error);
    }
    // The rename itself must reach the disk too, or a power cut can bring back the old name.
    if (steps.syncFolder)
        steps.syncFolder(real.absolutePath().toStdString());
    return {};
}

int RemoveAbandonedTempFiles(const QString& path, int minimumAgeSecs)
{
    const QFileInfo target(fileBehindLinks(path));
    const QString prefix = tempPrefix(target.fileName());
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-minimumAgeSecs);
    int removed = 0;
    // Names are checked by hand, not by a wildcard filter: that would load the regular-expression engine
    // at every start, for the program's life.
    const QFileInfoList candidates = target.absoluteDir().entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& file : candidates) {
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

#include "DiskFault.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kTmpfsSize = "size=96k";

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool setImmutable(const QString& path, bool on, QString* why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = systemError("open");
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (!ok)
        *why = systemError("the file system does not take the immutable attribute");
    ::close(fd);
    return ok;
}

} // namespace

DiskFault::DiskFault(Kind kind, const QString& folder)
    : m_kind(kind)
    , m_folder(folder)
    , m_file(folder + QStringLiteral("/Data.ini"))
    , m_filler(folder + QStringLiteral("/filler"))
{
    if (kind != Kind::FileSystemFull)
        return;
    if (::geteuid() != 0) {
        m_unavailable = QStringLiteral("mounting a small file system needs root");
        return;
    }
    if (::mount("larkbell-full", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV, kTmpfsSize) !=
        0) {
        m_unavailable = systemError("mounting a small tmpfs is not permitted here");
        return;
    }
    m_mounted = true;
}

DiskFault::~DiskFault()
{
    Remove();
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

bool DiskFault::Apply()
{
    const bool root = ::geteuid() == 0;
    switch (m_kind) {
    case Kind::FileReadOnly:
        m_applied = root ? setImmutable(m_file, true, &m_unavailable) : QFile::setPermissions(m_file, QFile::ReadOwner);
        break;
    case Kind::FolderReadOnly:
        m_applied = root ? setImmutable(m_folder, true, &m_unavailable)
                         : QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner);
        break;
    case Kind::FileSystemFull: {
        // Filled to the last byte: whatever is written next finds no room.
        QFile filler(m_filler);
        if (!filler.open(QIODevice::WriteOnly)) {
            m_unavailable = filler.errorString();
            return false;
        }
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        const QByteArray byte(1, 'x');
        while (filler.write(byte) == 1 && filler.flush()) {
        }
        m_applied = true;
        break;
    }
    }
    return m_applied;
}

void DiskFault::Remove()
{
    if (!m_applied)
        return;
    m_applied = false;
    const bool root = ::geteuid() == 0;
    QString ignored;
    switch (m_kind) {
    case Kind::FileReadOnly:
        if (root)
            setImmutable(m_file, false, &ignored);
        else
            QFile::setPermissions(m_file, QFile::ReadOwner | QFile::WriteOwner);
        break;
    case Kind::FolderReadOnly:
        if (root)
            setImmutable(m_folder, false, &ignored);
        else
            QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        break;
    case Kind::FileSystemFull:
        QFile::remove(m_filler);
        break;
    }
}

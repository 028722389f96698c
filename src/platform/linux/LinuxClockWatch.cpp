#include "platform/linux/LinuxClockWatch.h"

#include "platform/linux/PlatformLog.h"
#include "platform/linux/TimerFd.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr uint32_t kFolderEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CLOSE_WRITE | IN_ATTRIB;

QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray NameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray ResolvedPath(const QByteArray& path)
{
    char buffer[PATH_MAX];
    if (::realpath(path.constData(), buffer) == nullptr)
        return {};
    return QByteArray(buffer);
}

} // namespace

std::unique_ptr<LinuxClockWatch> LinuxClockWatch::Create(std::function<void(ClockChange)> onChanged,
                                                         const QByteArray& zoneFile)
{
    std::unique_ptr<LinuxClockWatch> watch(new LinuxClockWatch(std::move(onChanged), zoneFile));
    if (watch->m_clockFd < 0 && watch->m_folderWatch < 0)
        return nullptr;
    return watch;
}

LinuxClockWatch::LinuxClockWatch(std::function<void(ClockChange)> onChanged, const QByteArray& zoneFile)
    : m_onChanged(std::move(onChanged))
    , m_zoneFile(zoneFile)
    , m_zoneFolder(FolderOf(zoneFile))
    , m_zoneName(NameOf(zoneFile))
{
    m_clockFd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_clockFd >= 0 && parkClockTimer()) {
        m_clockNotifier = std::make_unique<QSocketNotifier>(m_clockFd, QSocketNotifier::Read);
        QObject::connect(m_clockNotifier.get(), &QSocketNotifier::activated, m_clockNotifier.get(),
                         [this] { onClockReadable(); });
    } else {
        qCWarning(lcPlatform, "clock watch: no timerfd for clock changes: %s", std::strerror(errno));
        if (m_clockFd >= 0)
            ::close(m_clockFd);
        m_clockFd = -1;
    }

    m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotifyFd >= 0)
        m_folderWatch = ::inotify_add_watch(m_inotifyFd, m_zoneFolder.constData(), kFolderEvents | IN_ONLYDIR);
    if (m_folderWatch < 0) {
        qCWarning(lcPlatform, "clock watch: cannot watch %s: %s", m_zoneFolder.constData(), std::strerror(errno));
        return;
    }
    watchZoneTarget();
    m_identity = zoneIdentity();
    m_zoneNotifier = std::make_unique<QSocketNotifier>(m_inotifyFd, QSocketNotifier::Read);
    QObject::connect(m_zoneNotifier.get(), &QSocketNotifier::activated, m_zoneNotifier.get(),
                     [this] { onZoneReadable(); });
}

LinuxClockWatch::~LinuxClockWatch()
{
    m_clockNotifier.reset();
    m_zoneNotifier.reset();
    if (m_clockFd >= 0)
        ::close(m_clockFd);
    if (m_inotifyFd >= 0)
        ::close(m_inotifyFd);
}

bool LinuxClockWatch::parkClockTimer()
{
    // Cancel-on-set only reports while the timer is armed, so it stays armed a century ahead.
    constexpr auto kCentury = std::chrono::hours(24 * 365 * 100);
    return SetTimerFd(m_clockFd, std::chrono::system_clock::now() + kCentury, true);
}

void LinuxClockWatch::onClockReadable()
{
    const TimerRead read = ReadTimerFd(m_clockFd);
    if (read == TimerRead::Broken) {
        qCWarning(lcPlatform, "clock watch: reading the timerfd failed: %s", std::strerror(errno));
        m_clockNotifier->setEnabled(false);
        return;
    }
    if (read != TimerRead::ClockChanged && read != TimerRead::Expired)
        return;
    parkClockTimer();
    m_onChanged(ClockChange::TimeSet); // last: the callback may destroy this watch
}

void LinuxClockWatch::onZoneReadable()
{
    bool relevant = false;
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t n = ::read(m_inotifyFd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset < n;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + offset, sizeof event);
            const QByteArray name = event.len > 0 ? QByteArray(buffer.data() + offset + sizeof event) : QByteArray();
            offset += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_Q_OVERFLOW)
                relevant = true;
            else if (event.wd == m_folderWatch && name == m_zoneName)
                relevant = true;
            else if (event.wd == m_targetWatch && name == m_targetName)
                relevant = true;
        }
    }
    if (!relevant)
        return;
    watchZoneTarget();
    const QByteArray identity = zoneIdentity();
    if (identity == m_identity)
        return;
    m_identity = identity;
    // WORKAROUND: glibc reads the zone file once and localtime_r() never looks again; tzset() makes the
    // conversions done after this notice use the new zone.
    ::tzset();
    m_onChanged(ClockChange::ZoneChanged); // last: the callback may destroy this watch
}

void LinuxClockWatch::watchZoneTarget()
{
    const QByteArray target = ResolvedPath(m_zoneFile);
    const QByteArray folder = target.isEmpty() ? QByteArray() : FolderOf(target);
    m_targetName = target.isEmpty() ? QByteArray() : NameOf(target);
    if (folder == m_zoneFolder) {
        // A plain zone file: the folder watch already sees it being rewritten.
        m_targetName = m_zoneName;
        if (m_targetWatch >= 0 && m_targetWatch != m_folderWatch)
            ::inotify_rm_watch(m_inotifyFd, m_targetWatch);
        m_targetWatch = m_folderWatch;
        return;
    }
    // Adding a watch on an already watched folder returns the same descriptor, so only a different
    // folder replaces the old watch.
    const int watch =
        folder.isEmpty() ? -1 : ::inotify_add_watch(m_inotifyFd, folder.constData(), kFolderEvents | IN_ONLYDIR);
    if (m_targetWatch >= 0 && m_targetWatch != watch && m_targetWatch != m_folderWatch)
        ::inotify_rm_watch(m_inotifyFd, m_targetWatch);
    m_targetWatch = watch;
}

QByteArray LinuxClockWatch::zoneIdentity() const
{
    const QByteArray target = ResolvedPath(m_zoneFile);
    struct stat info {
    };
    if (target.isEmpty() || ::stat(target.constData(), &info) != 0)
        return QByteArrayLiteral("missing");
    return target + '|' + QByteArray::number(static_cast<qulonglong>(info.st_dev)) + '|' +
           QByteArray::number(static_cast<qulonglong>(info.st_ino)) + '|' +
           QByteArray::number(static_cast<qlonglong>(info.st_size)) + '|' +
           QByteArray::number(static_cast<qlonglong>(info.st_mtim.tv_sec)) + '.' +
           QByteArray::number(static_cast<qlonglong>(info.st_mtim.tv_nsec));
}

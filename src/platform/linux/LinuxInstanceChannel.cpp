#include "platform/linux/LinuxInstanceChannel.h"

#include "platform/linux/PlatformLog.h"

#include <QCryptographicHash>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kBacklog = 16;
constexpr std::size_t kMaxWaiting = 16;
constexpr int kSendTimeoutSeconds = 2;
// How long a copy waits for one that holds the lock to start listening: it binds right after taking
// the lock, so this is only reached when that copy hangs.
constexpr auto kListenWait = std::chrono::seconds(2);
constexpr auto kRetryPause = std::chrono::milliseconds(1);

// The request on the wire: three native-endian 32-bit numbers in one packet.
using Packet = std::array<std::int32_t, 3>;

class Fd final
{
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

using Stat = struct stat;

std::string ErrorText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

std::string OctalMode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// A folder on the way to ours: only we or root may change it, or, when others may write into it, it
// is sticky (like /tmp), so they cannot move or replace what we put there.
bool Trusted(const Stat& info, uid_t uid)
{
    return S_ISDIR(info.st_mode) && (info.st_uid == uid || info.st_uid == 0) &&
           ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0);
}

/**
 * Opens the folder `path` (O_PATH) by walking its real path one name at a time without following links,
 * each folder on the way Trusted: what was checked is what the descriptor holds. -1 and `why` otherwise.
 */
int OpenTrustedFolder(const std::string& path, uid_t uid, std::string& real, std::string& why)
{
    if (path.empty() || path.front() != '/') {
        why = "\"" + path + "\" is not an absolute path";
        return -1;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        why = path + ": " + ErrorText(errno);
        return -1;
    }
    real = resolved;
    std::free(resolved);
    Fd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string walked;
    std::size_t start = 1;
    for (;;) {
        Stat info{};
        if (folder.get() < 0 || ::fstat(folder.get(), &info) != 0) {
            why = (walked.empty() ? "/" : walked) + ": " + ErrorText(errno);
            return -1;
        }
        if (!Trusted(info, uid)) {
            why = (walked.empty() ? "/" : walked) + " can be changed by other users";
            return -1;
        }
        if (start >= real.size())
            return folder.release();
        std::size_t end = real.find('/', start);
        if (end == std::string::npos)
            end = real.size();
        const std::string name = real.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        walked += '/' + name;
        const int next = ::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            why = walked + ": " + ErrorText(errno); // ELOOP: it became a link after realpath looked
            return -1;
        }
        folder.reset(next);
    }
}

/** Creates (or finds) `name` in the open folder `parent` and checks that it is ours with mode 0700. */
bool OwnPrivateFolder(int parent, const std::string& path, uid_t uid, std::string& why)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        why = path + ": " + ErrorText(errno);
        return false;
    }
    Stat info{};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        why = path + ": " + ErrorText(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode))
        why = path + " is not a folder";
    else if (info.st_uid != uid)
        why = path + " belongs to user " + std::to_string(info.st_uid);
    else if ((info.st_mode & 0777) != 0700)
        why = path + " has mode " + OctalMode(info.st_mode) + ", not 0700";
    else
        return true;
    return false;
}

/** The private folder `child` inside `base`; empty and `why` when it is not safe. */
std::string PrivateFolderIn(const std::string& base, const std::string& child, bool baseMustBePrivate, uid_t uid,
                            std::string& why)
{
    std::string real;
    const Fd parent(OpenTrustedFolder(base, uid, real, why));
    if (parent.get() < 0)
        return {};
    if (baseMustBePrivate) {
        Stat info{};
        if (::fstat(parent.get(), &info) != 0 || info.st_uid != uid || (info.st_mode & 0777) != 0700) {
            why = real + " is not ours with mode 0700";
            return {};
        }
    }
    const std::string folder = (real == "/" ? std::string() : real) + '/' + child;
    return OwnPrivateFolder(parent.get(), folder, uid, why) ? folder : std::string();
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string CanonicalPath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
    return error ? path : canonical.string();
}

/**
 * The address of a socket file. A path too long for sun_path is reached through a descriptor of its
 * folder in /proc instead, held while the address is in use.
 */
class SocketAddress final
{
public:
    SocketAddress(const std::string& folder, const std::string& path)
    {
        std::string usable = path;
        if (usable.size() >= sizeof m_address.sun_path) {
            m_folder.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            usable = "/proc/self/fd/" + std::to_string(m_folder.get()) + path.substr(folder.size());
        }
        m_address.sun_family = AF_UNIX;
        m_ok = usable.size() < sizeof m_address.sun_path && (m_folder.get() >= 0 || usable == path);
        if (m_ok)
            std::memcpy(m_address.sun_path, usable.c_str(), usable.size() + 1);
        m_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + usable.size() + 1);
    }
    bool ok() const { return m_ok; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&m_address); }
    socklen_t length() const { return m_length; }

private:
    Fd m_folder;
    sockaddr_un m_address{};
    socklen_t m_length = 0;
    bool m_ok = false;
};

int NewSocket(bool nonBlocking)
{
    return ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

bool PeerIsUs(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

enum class Connect { Ours, Foreign, Nobody };

/** Connects to the channel at `place`; on Ours the connected descriptor is left in `fd`. */
Connect ConnectTo(const LinuxInstanceChannel::Place& place, Fd& fd)
{
    const SocketAddress address(place.folder, place.socket);
    fd.reset(NewSocket(false));
    if (!address.ok() || fd.get() < 0)
        return Connect::Nobody;
    const timeval timeout{kSendTimeoutSeconds, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd.get(), address.get(), address.length()) != 0) {
        fd.reset();
        return Connect::Nobody;
    }
    if (PeerIsUs(fd.get()))
        return Connect::Ours;
    fd.reset();
    return Connect::Foreign;
}

/** True while some copy holds the lock at `lockPath`: the running copy, or one about to listen. */
bool LockHeld(const std::string& lockPath)
{
    const Fd lock(::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.get() < 0)
        return false; // no copy has ever run from this folder
    int result = 0;
    do {
        result = ::flock(lock.get(), LOCK_SH | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result != 0 && errno == EWOULDBLOCK; // a free lock is let go again as `lock` closes
}

} // namespace

std::optional<LinuxInstanceChannel::Place> LinuxInstanceChannel::Locate(const std::string& exePath,
                                                                        std::string* refused)
{
    const uid_t uid = ::geteuid();
    std::string reasons;
    std::string folder;
    const auto consider = [&](const std::string& base, const std::string& child, bool baseMustBePrivate) {
        if (!folder.empty())
            return;
        std::string why;
        folder = PrivateFolderIn(base, child, baseMustBePrivate, uid, why);
        if (folder.empty())
            reasons += (reasons.empty() ? "" : "; ") + why;
    };

    // The session's own folder: made for this, and gone when the user logs out.
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    if (!runtime.empty())
        consider(runtime, "larkbell", true);

    std::string cache = Environment("XDG_CACHE_HOME");
    const std::string home = Environment("HOME");
    if (cache.empty() || cache.front() != '/')
        cache = !home.empty() && home.front() == '/' ? home + "/.cache" : "";
    if (!cache.empty()) {
        ::mkdir(cache.c_str(), 0700); // a new account may not have one yet; checked as any other below
        consider(cache, "larkbell", false);
    }

    const std::string temp = Environment("TMPDIR");
    consider(!temp.empty() && temp.front() == '/' ? temp : "/tmp", "larkbell-" + std::to_string(uid), false);

    if (refused)
        *refused = reasons;
    if (folder.empty())
        return std::nullopt;
    const std::string name =
        QCryptographicHash::hash(QByteArray::fromStdString(CanonicalPath(exePath)), QCryptographicHash::Sha256)
            .toHex()
            .left(32)
            .toStdString();
    return Place{folder, folder + '/' + name + ".sock", folder + '/' + name + ".lock"};
}

std::unique_ptr<LinuxInstanceChannel> LinuxInstanceChannel::Claim(const std::string& exePath,
                                                                  std::function<void(int message)> onMessage)
{
    std::string refused;
    const std::optional<Place> place = Locate(exePath, &refused);
    const auto unguarded = [&place](const std::string& problem) {
        Fd probe;
        if (place && ConnectTo(*place, probe) == Connect::Ours)
            return std::unique_ptr<LinuxInstanceChannel>(); // whatever failed here, a copy of ours answers
        qCWarning(lcPlatform, "single instance: %s; this copy runs without keeping other copies out", problem.c_str());
        return std::unique_ptr<LinuxInstanceChannel>(new LinuxInstanceChannel(problem));
    };
    if (!place)
        return unguarded("no safe folder for the instance channel (" + refused + ")");
    if (!refused.empty())
        qCWarning(lcPlatform, "single instance: using %s, not: %s", place->folder.c_str(), refused.c_str());

    Fd lock(::open(place->lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() < 0)
        return unguarded(place->lock + ": " + ErrorText(errno));
    // Another holder of the lock is the running copy, a copy between its lock and its listen, or a sender
    // looking whether anyone runs (which lets go at once): wait until it answers or lets go.
    const auto deadline = std::chrono::steady_clock::now() + kListenWait;
    for (;;) {
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return unguarded(place->lock + ": " + ErrorText(errno));
        Fd probe;
        if (ConnectTo(*place, probe) == Connect::Ours)
            return nullptr;
        if (std::chrono::steady_clock::now() > deadline) {
            qCWarning(lcPlatform, "single instance: a copy holds %s but does not answer", place->lock.c_str());
            return nullptr;
        }
        std::this_thread::sleep_for(kRetryPause);
    }

    // The lock is ours, so a socket file still there was left by a copy that ended without removing it.
    if (::unlink(place->socket.c_str()) != 0 && errno != ENOENT)
        return unguarded(place->socket + ": " + ErrorText(errno));
    const SocketAddress address(place->folder, place->socket);
    Fd fd(NewSocket(true));
    if (!address.ok() || fd.get() < 0 || ::bind(fd.get(), address.get(), address.length()) != 0 ||
        ::listen(fd.get(), kBacklog) != 0) {
        const int error = errno;
        ::unlink(place->socket.c_str());
        lock.reset(); // let a later copy try where this one failed
        return unguarded(place->socket + ": " + ErrorText(error));
    }
    return std::unique_ptr<LinuxInstanceChannel>(
        new LinuxInstanceChannel(fd.release(), lock.release(), place->socket, std::move(onMessage)));
}

bool LinuxInstanceChannel::Send(const std::string& exePath, int message, int param1, int param2)
{
    const std::optional<Place> place = Locate(exePath);
    if (!place)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + kListenWait;
    for (;;) {
        Fd fd;
        switch (ConnectTo(*place, fd)) {
        case Connect::Ours: {
            const Packet packet{message, param1, param2};
            return ::send(fd.get(), packet.data(), sizeof packet, MSG_NOSIGNAL) == sizeof packet;
        }
        case Connect::Foreign:
            return false;
        case Connect::Nobody:
            // Nobody listens: nothing runs, unless a copy holds the lock and is about to listen.
            if (!LockHeld(place->lock) || std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(kRetryPause);
            break;
        }
    }
}

LinuxInstanceChannel::LinuxInstanceChannel(int fd, int lockFd, std::string socketPath,
                                           std::function<void(int message)> onMessage)
    : m_fd(fd)
    , m_lockFd(lockFd)
    , m_socketPath(std::move(socketPath))
    , m_onMessage(std::move(onMessage))
    , m_context(std::make_unique<QObject>())
    , m_listener(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read))
{
    QObject::connect(m_listener.get(), &QSocketNotifier::activated, m_context.get(), [this] { onIncoming(); });
}

LinuxInstanceChannel::LinuxInstanceChannel(std::string problem)
    : m_problem(std::move(problem))
{}

LinuxInstanceChannel::~LinuxInstanceChannel()
{
    m_listener.reset();
    for (auto& [fd, notifier] : m_connections) {
        notifier.reset();
        ::close(fd);
    }
    // The socket goes while the lock is still held: no later copy's socket can be removed by mistake.
    if (!m_socketPath.empty())
        ::unlink(m_socketPath.c_str());
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void LinuxInstanceChannel::onIncoming()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        if (!PeerIsUs(fd) || m_connections.size() >= kMaxWaiting) {
            ::close(fd);
            continue;
        }
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, m_context.get(), [this, fd] { onRequest(fd); });
        m_connections.emplace(fd, std::move(notifier));
        onRequest(fd); // the packet usually arrived with the connection
    }
}

void LinuxInstanceChannel::onRequest(int fd)
{
    Packet packet{};
    ssize_t n = 0;
    do {
        n = ::recv(fd, packet.data(), sizeof packet, MSG_TRUNC); // MSG_TRUNC: the real size of a longer packet
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    dropConnection(fd);
    if (n != static_cast<ssize_t>(sizeof packet) || packet[1] != InstanceMessage::Param1 ||
        packet[2] != InstanceMessage::Param2)
        return;
    // Posted, as a window message would be: the callback may end the program or drop this channel.
    const int message = packet[0];
    QMetaObject::invokeMethod(
        m_context.get(), [onMessage = m_onMessage, message] { onMessage(message); }, Qt::QueuedConnection);
}

void LinuxInstanceChannel::dropConnection(int fd)
{
    const auto found = m_connections.find(fd);
    if (found == m_connections.end())
        return;
    // The notifier may be the one whose signal is running: let the event loop delete it.
    QSocketNotifier* notifier = found->second.release();
    notifier->setEnabled(false);
    notifier->deleteLater();
    m_connections.erase(found);
    ::close(fd);
}

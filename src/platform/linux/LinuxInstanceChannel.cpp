#include "LinuxInstanceChannel.h"

#include "PlatformLog.h"

#include <QCryptographicHash>
#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kBacklog = 16;
constexpr std::size_t kMaxWaiting = 16;
constexpr int kConnectRetries = 200; // a name bound but not yet listening refuses for a few microseconds
constexpr auto kRetryPause = std::chrono::milliseconds(1);
constexpr int kSendTimeoutSeconds = 2;

// The request on the wire: three native-endian 32-bit numbers in one packet.
using Packet = std::array<std::int32_t, 3>;

sockaddr_un AbstractAddress(const std::string& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t size = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), size); // sun_path[0] stays NUL: the abstract namespace
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
    return address;
}

int NewSocket(bool nonBlocking) {
    return ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

bool PeerIsUs(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

enum class Connect { Ours, Foreign, Nobody };

/** Connects to `name`; on Ours the connected descriptor is left in `fd`. */
Connect ConnectTo(const std::string& name, int retries, int& fd) {
    socklen_t length = 0;
    const sockaddr_un address = AbstractAddress(name, length);
    for (int attempt = 0;; ++attempt) {
        fd = NewSocket(false);
        if (fd < 0)
            return Connect::Nobody;
        const timeval timeout{kSendTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            if (PeerIsUs(fd))
                return Connect::Ours;
            ::close(fd);
            fd = -1;
            return Connect::Foreign;
        }
        const int error = errno;
        ::close(fd);
        fd = -1;
        if (error != ECONNREFUSED || attempt >= retries)
            return Connect::Nobody;
        std::this_thread::sleep_for(kRetryPause);
    }
}

std::string CanonicalPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
    return error ? path : canonical.string();
}

} // namespace

std::string LinuxInstanceChannel::SocketName(const std::string& exePath, uid_t uid, int slot) {
    const std::string canonical = CanonicalPath(exePath);
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(canonical), QCryptographicHash::Sha256).toHex().left(32);
    std::string name = "larkbell." + std::to_string(uid) + '.' + hash.toStdString();
    if (slot > 0)
        name += '.' + std::to_string(slot);
    return name;
}

std::unique_ptr<LinuxInstanceChannel> LinuxInstanceChannel::Claim(const std::string& exePath,
                                                                  std::function<void(int message)> onMessage) {
    const uid_t uid = ::geteuid();
    for (int slot = 0; slot < kSlots; ++slot) {
        const std::string name = SocketName(exePath, uid, slot);
        socklen_t length = 0;
        const sockaddr_un address = AbstractAddress(name, length);
        for (int attempt = 0; attempt <= kConnectRetries; ++attempt) {
            const int fd = NewSocket(true);
            if (fd < 0)
                return nullptr;
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
                if (::listen(fd, kBacklog) != 0) {
                    ::close(fd);
                    return nullptr;
                }
                return std::unique_ptr<LinuxInstanceChannel>(new LinuxInstanceChannel(fd, std::move(onMessage)));
            }
            const int error = errno;
            ::close(fd);
            if (error != EADDRINUSE)
                return nullptr;
            int probe = -1;
            const Connect holder = ConnectTo(name, 0, probe);
            if (probe >= 0)
                ::close(probe);
            if (holder == Connect::Ours)
                return nullptr; // another copy of ours runs
            if (holder == Connect::Foreign)
                break; // someone else sits on this name: try the next
            // Refused: the holder is between bind and listen, or just went away; bind again.
            std::this_thread::sleep_for(kRetryPause);
        }
    }
    qCWarning(lcPlatform, "instance channel: every name for %s is taken", exePath.c_str());
    return nullptr;
}

bool LinuxInstanceChannel::Send(const std::string& exePath, int message, int param1, int param2) {
    const uid_t uid = ::geteuid();
    for (int slot = 0; slot < kSlots; ++slot) {
        int fd = -1;
        switch (ConnectTo(SocketName(exePath, uid, slot), 3, fd)) {
        case Connect::Foreign:
            continue;
        case Connect::Nobody:
            return false; // names are taken in order, so a free one ends the search
        case Connect::Ours: {
            const Packet packet{message, param1, param2};
            const bool sent = ::send(fd, packet.data(), sizeof packet, MSG_NOSIGNAL) == sizeof packet;
            ::close(fd);
            return sent;
        }
        }
    }
    return false;
}

LinuxInstanceChannel::LinuxInstanceChannel(int fd, std::function<void(int message)> onMessage)
    : m_fd(fd)
    , m_onMessage(std::move(onMessage))
    , m_context(std::make_unique<QObject>())
    , m_listener(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
    QObject::connect(m_listener.get(), &QSocketNotifier::activated, m_context.get(), [this] { onIncoming(); });
}

LinuxInstanceChannel::~LinuxInstanceChannel() {
    m_listener.reset();
    for (auto& [fd, notifier] : m_connections) {
        notifier.reset();
        ::close(fd);
    }
    ::close(m_fd);
}

void LinuxInstanceChannel::onIncoming() {
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

void LinuxInstanceChannel::onRequest(int fd) {
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

void LinuxInstanceChannel::dropConnection(int fd) {
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

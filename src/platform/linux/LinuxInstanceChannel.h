#pragma once

#include "InstanceChannel.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>

class QSocketNotifier;

/**
 * The single-instance channel: a SOCK_SEQPACKET socket in the abstract namespace whose name comes from
 * the user id and a hash of the executable's canonical path. Binding an abstract name is atomic, so of
 * copies starting together exactly one binds and becomes the running copy; the others connect and send.
 * An abstract name disappears with the last descriptor of its socket, even when the process is killed,
 * so there is never a stale socket file to clean up. Both ends check the other's user id (SO_PEERCRED):
 * the running copy drops requests from other users, and a starting copy skips a name held by another
 * user (who could otherwise occupy it first) and uses the next of a few numbered names.
 */
class LinuxInstanceChannel final : public InstanceChannel {
public:
    static std::unique_ptr<LinuxInstanceChannel> Claim(const std::string& exePath,
                                                       std::function<void(int message)> onMessage);
    static bool Send(const std::string& exePath, int message, int param1, int param2);
    ~LinuxInstanceChannel() override;

    /** The abstract socket name (without the leading NUL) for `exePath`, user `uid` and numbered name `slot`. */
    static std::string SocketName(const std::string& exePath, uid_t uid, int slot);
    static constexpr int kSlots = 4;

private:
    LinuxInstanceChannel(int fd, std::function<void(int message)> onMessage);
    void onIncoming();
    void onRequest(int fd);
    void dropConnection(int fd);

    int m_fd;
    std::function<void(int message)> m_onMessage;
    std::unique_ptr<QObject> m_context; // delivery is queued on it, and dropped if the channel is gone
    std::unique_ptr<QSocketNotifier> m_listener;
    std::map<int, std::unique_ptr<QSocketNotifier>> m_connections; // accepted, waiting for their request
};

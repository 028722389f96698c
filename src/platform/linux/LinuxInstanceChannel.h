#pragma once

#include "platform/InstanceChannel.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QSocketNotifier;

/**
 * The single-instance channel: a SOCK_SEQPACKET socket file named from a hash of the executable's
 * canonical path, beside a lock file of the same name, in a folder only this user can enter:
 * $XDG_RUNTIME_DIR/larkbell, else larkbell in the user's cache folder, else $TMPDIR/larkbell-<uid>
 * (/tmp without TMPDIR). Each folder is taken only when it is ours with mode 0700 and nobody but us
 * and root can move anything on the way to it, so no other user can occupy the name first.
 *
 * The running copy holds the lock (flock) for its whole run: of copies starting together exactly one
 * gets it and binds, and the others connect and send. The lock also tells a socket file left by a
 * killed copy from a live one: a socket whose lock is free is stale and is replaced. Both ends check
 * the other's user id (SO_PEERCRED). When no folder is safe, Claim returns a channel that guards
 * nothing (GuardProblem says why) and says so on stderr, so the program still runs.
 */
class LinuxInstanceChannel final : public InstanceChannel
{
public:
    static std::unique_ptr<LinuxInstanceChannel> Claim(const std::string& exePath,
                                                       std::function<void(int message)> onMessage);
    static bool Send(const std::string& exePath, int message, int param1, int param2);
    ~LinuxInstanceChannel() override;
    std::string GuardProblem() const override { return m_problem; }

    struct Place {
        std::string folder;
        std::string socket; // the channel's socket file
        std::string lock;   // held by the running copy
    };
    /**
     * Where the channel of `exePath` lives for this user, from the environment as it is now; creates the
     * folder. nullopt when no folder is safe. `refused` receives why folders that were asked for (by
     * XDG_RUNTIME_DIR, for example) or tried were turned down, even when a later one is used.
     */
    static std::optional<Place> Locate(const std::string& exePath, std::string* refused = nullptr);

private:
    LinuxInstanceChannel(int fd, int lockFd, std::string socketPath, std::function<void(int message)> onMessage);
    explicit LinuxInstanceChannel(std::string problem);
    void onIncoming();
    void onRequest(int fd);
    void dropConnection(int fd);

    int m_fd = -1;
    int m_lockFd = -1; // the flock that makes this the running copy
    std::string m_socketPath;
    std::string m_problem;
    std::function<void(int message)> m_onMessage;
    std::unique_ptr<QObject> m_context; // delivery is queued on it, and dropped if the channel is gone
    std::unique_ptr<QSocketNotifier> m_listener;
    std::map<int, std::unique_ptr<QSocketNotifier>> m_connections; // accepted, waiting for their request
};

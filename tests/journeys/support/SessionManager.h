#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QSocketNotifier;

/**
 * A minimal X session manager (XSMP over ICE, local connections only) so that a test can end the
 * session the way a desktop's log-out does: every client is asked to save itself with shutdown set,
 * and told to die once it answered. Runs in the test's own event loop; one per test process.
 */
class SessionManager final
{
public:
    SessionManager() = default;
    ~SessionManager();
    SessionManager(const SessionManager&) = delete;
    SessionManager& operator=(const SessionManager&) = delete;

    /** Listens; false (with why) when ICE would not. */
    bool Start(QString* why);
    void Stop();
    /** The value for SESSION_MANAGER in a client's environment. */
    QByteArray Address() const { return m_address; }

    /** Clients that registered and are still connected. */
    int Clients() const;
    /** Asks every client to save itself for a shutdown; each is told to die when it is done. */
    void EndSession();
    /** What happened, one line per event, for failure reports. */
    QStringList Events() const { return m_events; }

    struct Client;
    struct Connection;

private:
    friend struct SessionManagerAccess;

    QByteArray m_address;
    int m_listenCount = 0;
    void* m_listenObjects = nullptr;
    QList<QSocketNotifier*> m_listeners;
    QList<Connection*> m_connections;
    QList<Client*> m_clients;
    QStringList m_events;
    bool m_ending = false;
};

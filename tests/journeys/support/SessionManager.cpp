#include "SessionManager.h"

#include <QSocketNotifier>

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <cstdlib>
#include <cstring>

// There is one ICE library state per process; the manager that started it is the one served.
namespace {
SessionManager* g_manager = nullptr;
}

struct SessionManager::Connection {
    IceConn ice = nullptr;
    QSocketNotifier* notifier = nullptr;
};

struct SessionManager::Client {
    SmsConn sms = nullptr;
    QByteArray id;
    bool registered = false;
    bool savingForShutdown = false;
};

struct SessionManagerAccess {
    static SessionManager& manager() { return *g_manager; }

    static void log(const QString& line) { manager().m_events.append(line); }

    static void forget(SessionManager::Client* client)
    {
        manager().m_clients.removeOne(client);
        delete client;
    }

    static Status registerClient(SmsConn sms, SmPointer data, char* previousId)
    {
        auto* client = static_cast<SessionManager::Client*>(data);
        char* id = SmsGenerateClientID(sms);
        if (!id) {
            std::free(previousId);
            return 0;
        }
        client->id = id;
        std::free(id);
        std::free(previousId);
        client->registered = true;
        const Status status = SmsRegisterClientReply(sms, client->id.data());
        log(QStringLiteral("client registered: ") + QString::fromLatin1(client->id));
        return status;
    }

    static void interactRequest(SmsConn sms, SmPointer, int) { SmsInteract(sms); }
    static void interactDone(SmsConn, SmPointer, Bool cancel)
    {
        log(QStringLiteral("interaction done%1").arg(cancel ? QStringLiteral(", shutdown cancelled") : QString()));
    }
    static void saveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool)
    {
        log(QStringLiteral("client asked for a save; ignored"));
    }
    static void saveYourselfPhase2Request(SmsConn sms, SmPointer) { SmsSaveYourselfPhase2(sms); }

    static void saveYourselfDone(SmsConn sms, SmPointer data, Bool success)
    {
        auto* client = static_cast<SessionManager::Client*>(data);
        log(QStringLiteral("save done (%1)").arg(success ? QStringLiteral("success") : QStringLiteral("failure")));
        if (client->savingForShutdown) {
            client->savingForShutdown = false;
            SmsDie(sms);
            log(QStringLiteral("die sent"));
        }
    }

    static void closeConnection(SmsConn sms, SmPointer data, int count, char** reasons)
    {
        log(QStringLiteral("client closed its connection"));
        SmFreeReasons(count, reasons);
        IceConn ice = SmsGetIceConnection(sms);
        SmsCleanUp(sms);
        IceSetShutdownNegotiation(ice, False);
        IceCloseConnection(ice);
        forget(static_cast<SessionManager::Client*>(data));
    }

    static void setProperties(SmsConn, SmPointer, int count, SmProp** properties)
    {
        for (int i = 0; i < count; ++i)
            SmFreeProperty(properties[i]);
        std::free(properties);
    }

    static void deleteProperties(SmsConn, SmPointer, int count, char** names)
    {
        for (int i = 0; i < count; ++i)
            std::free(names[i]);
        std::free(names);
    }

    static void getProperties(SmsConn sms, SmPointer) { SmsReturnProperties(sms, 0, nullptr); }

    static Status newClient(SmsConn sms, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**)
    {
        auto* client = new SessionManager::Client;
        client->sms = sms;
        manager().m_clients.append(client);
        *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
                SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask |
                SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask |
                SmsGetPropertiesProcMask;
        callbacks->register_client = {registerClient, client};
        callbacks->interact_request = {interactRequest, client};
        callbacks->interact_done = {interactDone, client};
        callbacks->save_yourself_request = {saveYourselfRequest, client};
        callbacks->save_yourself_phase2_request = {saveYourselfPhase2Request, client};
        callbacks->save_yourself_done = {saveYourselfDone, client};
        callbacks->close_connection = {closeConnection, client};
        callbacks->set_properties = {setProperties, client};
        callbacks->delete_properties = {deleteProperties, client};
        callbacks->get_properties = {getProperties, client};
        log(QStringLiteral("client connected"));
        return 1;
    }

    // Only clients on this machine's local transport; nobody needs a cookie for those.
    static Bool localHostsOnly(char* hostName)
    {
        return hostName && std::strncmp(hostName, "local/", 6) == 0 ? True : False;
    }

    static void process(SessionManager::Connection* connection)
    {
        const IceProcessMessagesStatus status = IceProcessMessages(connection->ice, nullptr, nullptr);
        if (status == IceProcessMessagesIOError) {
            // A client that went away without closing: drop what is left of it.
            for (SessionManager::Client* client : std::as_const(manager().m_clients)) {
                if (SmsGetIceConnection(client->sms) == connection->ice) {
                    SmsCleanUp(client->sms);
                    forget(client);
                    break;
                }
            }
            IceSetShutdownNegotiation(connection->ice, False);
            IceCloseConnection(connection->ice);
        }
    }

    static void watch(IceConn ice, IcePointer, Bool opening, IcePointer* watchData)
    {
        if (opening) {
            auto* connection = new SessionManager::Connection;
            connection->ice = ice;
            connection->notifier = new QSocketNotifier(IceConnectionNumber(ice), QSocketNotifier::Read);
            QObject::connect(connection->notifier, &QSocketNotifier::activated, connection->notifier,
                             [connection] { process(connection); });
            manager().m_connections.append(connection);
            *watchData = connection;
        } else {
            auto* connection = static_cast<SessionManager::Connection*>(*watchData);
            manager().m_connections.removeOne(connection);
            connection->notifier->setEnabled(false);
            connection->notifier->deleteLater();
            delete connection;
        }
    }

    static void accept(IceListenObj listener)
    {
        IceAcceptStatus status = IceAcceptSuccess;
        IceConn ice = IceAcceptConnection(listener, &status);
        if (!ice || status != IceAcceptSuccess)
            log(QStringLiteral("a connection was refused"));
    }

    // The library's defaults end the process on a broken connection.
    static void ignoreIoError(IceConn) {}
    static void ignoreIceError(IceConn, Bool, int, unsigned long, int, int, IcePointer) {}
    static void ignoreSmsError(SmsConn, Bool, int, unsigned long, int, int, SmPointer) {}
};

SessionManager::~SessionManager()
{
    Stop();
}

bool SessionManager::Start(QString* why)
{
    if (g_manager) {
        *why = QStringLiteral("a session manager already runs in this process");
        return false;
    }
    g_manager = this;
    IceSetIOErrorHandler(&SessionManagerAccess::ignoreIoError);
    IceSetErrorHandler(&SessionManagerAccess::ignoreIceError);
    SmsSetErrorHandler(&SessionManagerAccess::ignoreSmsError);
    char error[256] = {};
    if (!SmsInitialize("larkbell-journeys", "1.0", &SessionManagerAccess::newClient, nullptr,
                       &SessionManagerAccess::localHostsOnly, sizeof error, error)) {
        *why = QStringLiteral("SmsInitialize: ") + QString::fromLocal8Bit(error);
        g_manager = nullptr;
        return false;
    }
    IceListenObj* listeners = nullptr;
    if (!IceListenForConnections(&m_listenCount, &listeners, sizeof error, error)) {
        *why = QStringLiteral("IceListenForConnections: ") + QString::fromLocal8Bit(error);
        g_manager = nullptr;
        return false;
    }
    m_listenObjects = listeners;
    IceAddConnectionWatch(&SessionManagerAccess::watch, nullptr);
    for (int i = 0; i < m_listenCount; ++i) {
        IceListenObj listener = listeners[i];
        IceSetHostBasedAuthProc(listener, &SessionManagerAccess::localHostsOnly);
        char* address = IceGetListenConnectionString(listener);
        const bool local = address && std::strncmp(address, "local/", 6) == 0;
        if (local)
            m_address = m_address.isEmpty() ? QByteArray(address) : m_address + ',' + address;
        std::free(address);
        auto* notifier = new QSocketNotifier(IceGetListenConnectionNumber(listener), QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                         [listener] { SessionManagerAccess::accept(listener); });
        m_listeners.append(notifier);
    }
    if (m_address.isEmpty()) {
        *why = QStringLiteral("ICE offers no local transport");
        Stop();
        return false;
    }
    return true;
}

void SessionManager::Stop()
{
    if (g_manager != this)
        return;
    for (Client* client : std::as_const(m_clients)) {
        IceConn ice = SmsGetIceConnection(client->sms);
        SmsCleanUp(client->sms);
        IceSetShutdownNegotiation(ice, False);
        IceCloseConnection(ice);
        delete client;
    }
    m_clients.clear();
    qDeleteAll(m_listeners);
    m_listeners.clear();
    IceRemoveConnectionWatch(&SessionManagerAccess::watch, nullptr);
    for (Connection* connection : std::as_const(m_connections)) {
        delete connection->notifier;
        delete connection;
    }
    m_connections.clear();
    if (m_listenObjects)
        IceFreeListenObjs(m_listenCount, static_cast<IceListenObj*>(m_listenObjects));
    m_listenObjects = nullptr;
    m_listenCount = 0;
    m_address.clear();
    g_manager = nullptr;
}

int SessionManager::Clients() const
{
    int count = 0;
    for (const Client* client : m_clients)
        count += client->registered ? 1 : 0;
    return count;
}

void SessionManager::EndSession()
{
    for (Client* client : std::as_const(m_clients)) {
        if (!client->registered)
            continue;
        client->savingForShutdown = true;
        SmsSaveYourself(client->sms, SmSaveBoth, True, SmInteractStyleAny, False);
        m_events.append(QStringLiteral("save-yourself (shutdown) sent to ") + QString::fromLatin1(client->id));
    }
}

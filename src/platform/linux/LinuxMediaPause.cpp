#include "platform/RingingGuards.h"
#include "platform/linux/BusOnWorker.h"
#include "platform/linux/PlatformLog.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QHash>
#include <QObject>
#include <QVariantMap>

#include <functional>
#include <optional>

// Media players on the session bus, through the common media player interface every desktop player offers.
namespace {

const QString kPlayerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kPlaying = QStringLiteral("Playing");
const QString kPaused = QStringLiteral("Paused");
// A player that has not answered by then is left alone; the alarm never waits for it anyway.
constexpr int kCallTimeoutMs = 3000;

QString PlainText(const QVariant& value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QVariantMap MapOf(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

/** What a player's properties say: its state and something that tells its track apart from another. */
struct PlayerState {
    QString status;
    QString track;
};

PlayerState StateOf(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariantMap properties = MapOf(reply.arguments().constFirst());
    const QVariantMap metadata = MapOf(properties.value(QStringLiteral("Metadata")));
    return {properties.value(QStringLiteral("PlaybackStatus")).toString(),
            PlainText(metadata.value(QStringLiteral("mpris:trackid"))) + u'\n' +
                PlainText(metadata.value(QStringLiteral("xesam:url")))};
}

class LinuxMediaPause final : public QObject, public MediaPause
{
public:
    LinuxMediaPause()
    {
        ConnectBusOnWorker(QDBusConnection::SessionBus, m_alive, [this](const QDBusConnection& bus) {
            if (!bus.isConnected()) {
                qCInfo(lcPlatform) << "Media players: no session bus";
                return;
            }
            m_bus = bus;
            if (m_pauseWanted)
                PausePlayers();
        });
    }

    void PausePlayers() override
    {
        m_pauseWanted = !m_bus;
        if (!m_bus)
            return;
        const int round = m_round;
        QDBusMessage list = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
        Call(list, [this, round](const QDBusMessage& reply) {
            if (round != m_round || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return;
            for (const QString& name : reply.arguments().constFirst().toStringList()) {
                if (name.startsWith(kPlayerPrefix))
                    PauseIfPlaying(name, round);
            }
        });
    }

    void ResumePlayers() override
    {
        // Answers still to come for the pause are dropped: a player that was not paused is not played.
        ++m_round;
        m_pauseWanted = false;
        const QHash<QString, Paused> paused = std::exchange(m_paused, {});
        for (auto it = paused.cbegin(); it != paused.cend(); ++it) {
            const Paused left = it.value();
            Call(GetState(left.owner), [this, left, name = it.key()](const QDBusMessage& reply) {
                const PlayerState now = StateOf(reply);
                if (now.status != kPaused || now.track != left.track) {
                    qCInfo(lcPlatform) << "Media player" << name << "left as it is:" << now.status;
                    return;
                }
                qCInfo(lcPlatform) << "Media player" << name << "resumed";
                Send(left.owner, QStringLiteral("Play"));
            });
        }
    }

private:
    struct Paused {
        QString owner; // the unique name: a player started anew under the same name is not ours
        QString track;
    };

    static QDBusMessage GetState(const QString& service)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, kPlayerPath, kProperties, QStringLiteral("GetAll"));
        call << kPlayerInterface;
        return call;
    }

    void PauseIfPlaying(const QString& name, int round)
    {
        Call(GetState(name), [this, name, round](const QDBusMessage& reply) {
            if (round != m_round)
                return;
            const PlayerState state = StateOf(reply);
            if (state.status != kPlaying)
                return;
            // A player paused at the first ring keeps what it was playing then.
            if (!m_paused.contains(name))
                m_paused.insert(name, {reply.service(), state.track});
            qCInfo(lcPlatform) << "Media player" << name << "paused";
            Send(reply.service(), QStringLiteral("Pause"));
        });
    }

    void Send(const QString& service, const QString& method)
    {
        Call(QDBusMessage::createMethodCall(service, kPlayerPath, kPlayerInterface, method),
             [name = service, method](const QDBusMessage& reply) {
                 if (reply.type() == QDBusMessage::ErrorMessage)
                     qCInfo(lcPlatform) << "Media player" << name << method << "failed:" << reply.errorMessage();
             });
    }

    void Call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> answered)
    {
        auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(message, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [answered = std::move(answered)](QDBusPendingCallWatcher* done) {
                    done->deleteLater();
                    answered(done->reply());
                });
    }

    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::optional<QDBusConnection> m_bus;
    bool m_pauseWanted = false; // asked before the bus was there
    int m_round = 0;            // counts resumptions; a pause's answers are for the round they were asked in
    QHash<QString, Paused> m_paused;
};

} // namespace

std::unique_ptr<MediaPause> CreateMediaPause()
{
    if (!HaveSessionBusAddress())
        return nullptr;
    return std::make_unique<LinuxMediaPause>();
}

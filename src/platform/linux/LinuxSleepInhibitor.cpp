#include "platform/RingingGuards.h"
#include "platform/linux/BusOnWorker.h"
#include "platform/linux/PlatformLog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <optional>
#include <unistd.h>

// The login manager's delay-free inhibitor lock: sleep is refused while this process holds the descriptor.
namespace {

constexpr int kCallTimeoutMs = 5000;

class LinuxSleepInhibitor final : public QObject, public SleepInhibitor
{
public:
    LinuxSleepInhibitor()
    {
        ConnectBusOnWorker(QDBusConnection::SystemBus, m_alive, [this](const QDBusConnection& bus) {
            if (!bus.isConnected()) {
                qCInfo(lcPlatform) << "Sleep inhibitor: no system bus";
                return;
            }
            m_bus = bus;
            if (m_wanted)
                Ask();
        });
    }

    ~LinuxSleepInhibitor() override { Release(); }

    void Hold() override
    {
        m_wanted = true;
        Ask();
    }

    void Release() override
    {
        m_wanted = false;
        if (m_fd < 0)
            return;
        ::close(m_fd);
        m_fd = -1;
        qCInfo(lcPlatform) << "Sleep inhibitor released";
    }

    bool Held() const override { return m_fd >= 0; }

private:
    void Ask()
    {
        if (!m_bus || m_asking || m_fd >= 0)
            return;
        m_asking = true;
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep") << QStringLiteral("Larkbell") << QStringLiteral("An alarm is ringing")
             << QStringLiteral("block");
        auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
            done->deleteLater();
            m_asking = false;
            const QDBusMessage reply = done->reply();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                qCInfo(lcPlatform) << "Sleep inhibitor refused:" << reply.errorMessage();
                return;
            }
            const auto granted = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
            // The message closes its own copy; a dismissal that came first lets the lock go with it.
            if (!m_wanted || !granted.isValid())
                return;
            m_fd = ::dup(granted.fileDescriptor());
            qCInfo(lcPlatform) << "Sleep inhibitor held";
        });
    }

    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::optional<QDBusConnection> m_bus;
    bool m_wanted = false;
    bool m_asking = false;
    int m_fd = -1;
};

} // namespace

std::unique_ptr<SleepInhibitor> CreateSleepInhibitor()
{
    if (!HaveSystemBusAddress()) {
        qCInfo(lcPlatform) << "Sleep inhibitor: no system bus";
        return nullptr;
    }
    return std::make_unique<LinuxSleepInhibitor>();
}

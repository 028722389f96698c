#include "platform/linux/LinuxSleepTrial.h"

#include "platform/linux/PlatformLog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <ctime>

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
// logind answers Suspend once the request is queued, or after polkit asked the user; a user who takes
// their time at the password prompt is not a failure.
constexpr int kSuspendCallTimeoutMs = 120000;

std::chrono::nanoseconds Read(clockid_t clock)
{
    timespec now{};
    ::clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Time spent suspended since boot: CLOCK_BOOTTIME counts it, CLOCK_MONOTONIC does not.
std::chrono::nanoseconds SuspendedSoFar()
{
    return Read(CLOCK_BOOTTIME) - Read(CLOCK_MONOTONIC);
}

} // namespace

LinuxSleepTrial::LinuxSleepTrial(WallTime wakeAt, SleepTrialEvents events, const WakeOptions& wake,
                                 const QString& busConnection)
    : m_events(std::move(events))
    , m_wake(std::make_unique<LinuxWakeTimer>(wake))
    , m_bus(busConnection.isEmpty() ? QDBusConnection::systemBus() : QDBusConnection(busConnection))
{
    qCInfo(lcPlatform, "sleep trial: waking through %s", WakePathName(m_wake->Path()));
    m_wake->Arm(wakeAt);
    if (!m_bus.isConnected()) {
        // Reported from the event loop, like every other outcome, so the caller has returned first.
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("the system bus cannot be reached")); }, Qt::QueuedConnection);
        return;
    }
    m_listening = m_bus.connect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this,
                                SLOT(onPrepareForSleep(bool)));
    QDBusMessage suspend = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("Suspend"));
    suspend << true; // interactive: polkit may ask the user for a password
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(suspend, kSuspendCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<> reply = *watcher;
        if (reply.isError())
            fail(reply.error().message());
    });
}

LinuxSleepTrial::~LinuxSleepTrial()
{
    if (m_listening)
        m_bus.disconnect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this,
                         SLOT(onPrepareForSleep(bool)));
    m_wake->Disarm();
}

void LinuxSleepTrial::onPrepareForSleep(bool start)
{
    if (m_done)
        return;
    if (start) {
        m_asleep = true;
        m_suspendedBefore = SuspendedSoFar();
        qCInfo(lcPlatform, "sleep trial: the system goes to sleep");
        if (m_events.asleep)
            m_events.asleep();
        return;
    }
    if (!m_asleep)
        return; // the end of a sleep that began before the trial
    m_done = true;
    const auto slept = std::chrono::duration_cast<std::chrono::milliseconds>(SuspendedSoFar() - m_suspendedBefore);
    const WallTime now = std::chrono::system_clock::now();
    qCInfo(lcPlatform, "sleep trial: back after %lld ms asleep", static_cast<long long>(slept.count()));
    m_wake->Disarm();
    if (m_events.resumed)
        m_events.resumed(now, slept);
}

void LinuxSleepTrial::fail(const QString& why)
{
    if (m_done)
        return;
    m_done = true;
    qCWarning(lcPlatform, "sleep trial: %s", qPrintable(why));
    m_wake->Disarm();
    if (m_events.failed)
        m_events.failed(why.toStdString());
}

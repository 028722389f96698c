#include "platform/linux/LinuxWakeTimer.h"

#include "platform/linux/PlatformLog.h"
#include "platform/linux/TimerFd.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kService = QStringLiteral("org.kde.Solid.PowerManagement");
const QString kPath = QStringLiteral("/org/kde/Solid/PowerManagement");
const QString kInterface = QStringLiteral("org.kde.Solid.PowerManagement");
constexpr int kIntrospectTimeoutMs = 2000;
constexpr int kCallTimeoutMs = 5000;
constexpr int kExitCallTimeoutMs = 1000;

// The daemon calls this object back when it wakes the computer; nobody listens, the alarm timer
// does the work.
const QString kCallbackPath = QStringLiteral("/Larkbell/Wakeup");

QDBusConnection BusFor(const WakeOptions& options)
{
    return options.busConnection.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(options.busConnection);
}

bool HasWakeCapableRtc(const QString& rtcClassFolder)
{
    // The kernel offers a wakealarm attribute only for clocks that can raise one, and its alarm timers
    // can wake the computer only through such a clock.
    const QDir folder(rtcClassFolder);
    const QStringList clocks = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& clock : clocks) {
        if (QFileInfo::exists(folder.filePath(clock + QStringLiteral("/wakealarm"))))
            return true;
    }
    return false;
}

int CreateAlarmTimerFd()
{
    return ::timerfd_create(CLOCK_REALTIME_ALARM, TFD_NONBLOCK | TFD_CLOEXEC);
}

bool RealtimeAlarmWorks(const WakeOptions& options)
{
    if (!options.useRealtimeAlarm || !HasWakeCapableRtc(options.rtcClassFolder))
        return false;
    const int fd = CreateAlarmTimerFd(); // EPERM without CAP_WAKE_ALARM
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool SessionBusConfigured()
{
    // WORKAROUND: with no bus address libdbus falls back to X11 autolaunch, which starts a bus daemon that
    // outlives us; a session without an address or the standard socket has no power daemon to ask anyway.
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

/** The daemon's scheduleWakeup signature: whether it exists, and whether its timestamp is signed. */
struct DaemonApi {
    bool usable = false;
    bool signedTimestamp = false;
};

DaemonApi ParseIntrospection(const QString& xml)
{
    DaemonApi api;
    bool scheduleOk = false;
    bool clearOk = false;
    QXmlStreamReader reader(xml);
    QString interfaceName;
    QString methodName;
    QStringList inTypes;
    QStringList outTypes;
    while (!reader.atEnd()) {
        reader.readNext();
        const auto name = reader.name();
        if (reader.isStartElement()) {
            const auto attrs = reader.attributes();
            if (name == u"interface") {
                interfaceName = attrs.value(QLatin1StringView("name")).toString();
            } else if (name == u"method") {
                methodName = attrs.value(QLatin1StringView("name")).toString();
                inTypes.clear();
                outTypes.clear();
            } else if (name == u"arg" && !methodName.isEmpty()) {
                (attrs.value(QLatin1StringView("direction")) == u"out" ? outTypes : inTypes)
                    << attrs.value(QLatin1StringView("type")).toString();
            }
        } else if (reader.isEndElement()) {
            if (name == u"method" && interfaceName == kInterface) {
                if (methodName == u"scheduleWakeup" && outTypes == QStringList{QStringLiteral("u")} &&
                    inTypes.size() == 3 && inTypes[0] == u"s" && inTypes[1] == u"o" &&
                    (inTypes[2] == u"t" || inTypes[2] == u"x")) {
                    scheduleOk = true;
                    api.signedTimestamp = inTypes[2] == u"x";
                } else if (methodName == u"clearWakeup" && inTypes == QStringList{QStringLiteral("i")}) {
                    clearOk = true;
                }
            }
            if (name == u"method")
                methodName.clear();
            else if (name == u"interface")
                interfaceName.clear();
        }
    }
    api.usable = scheduleOk && clearOk && !reader.hasError();
    return api;
}

DaemonApi ProbePowerDaemon(const WakeOptions& options)
{
    if (!options.usePowerDaemon || (options.busConnection.isEmpty() && !SessionBusConfigured()))
        return {};
    QDBusConnection bus = BusFor(options);
    if (!bus.isConnected() || bus.interface() == nullptr || !bus.interface()->isServiceRegistered(kService))
        return {};
    const QDBusMessage introspect = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    const QDBusMessage reply = bus.call(introspect, QDBus::Block, kIntrospectTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return ParseIntrospection(reply.arguments().constFirst().toString());
}

// Whether the process holds CAP_WAKE_ALARM among its effective capabilities, from the kernel's own
// account of it; nullopt when the process cannot be looked at (gone, or in another PID namespace).
std::optional<bool> ProcessMaySetWakeAlarms(uint pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid == 0 || !status.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("CapEff:"))
            continue;
        bool ok = false;
        const qulonglong effective = line.mid(7).trimmed().toULongLong(&ok, 16);
        if (!ok)
            return std::nullopt;
        return (effective >> CAP_WAKE_ALARM & 1U) != 0;
    }
    return std::nullopt;
}

// The daemon sets its kernel wake alarm itself, so the right it holds is what decides. The daemon has no
// call that says so; its process does.
WakeStatus AskPowerDaemon(const WakeOptions& options)
{
    QDBusConnection bus = BusFor(options);
    const QDBusReply<uint> pid = bus.interface()->servicePid(kService);
    const std::optional<bool> mayWake = pid.isValid() ? ProcessMaySetWakeAlarms(pid.value()) : std::nullopt;
    if (!mayWake)
        return {WakePath::PowerDaemon, WakeAbility::Unknown, WakeReason::DaemonCannotTell};
    if (*mayWake)
        return {WakePath::PowerDaemon, WakeAbility::Yes, WakeReason::DaemonCanWake};
    return {WakePath::PowerDaemon, WakeAbility::No, WakeReason::DaemonLacksCapability};
}

} // namespace

QString DefaultRtcClassFolder()
{
    const QString forTests = qEnvironmentVariable("LARKBELL_TEST_RTC_FOLDER");
    return forTests.isEmpty() ? QStringLiteral("/sys/class/rtc") : forTests;
}

WakeStatus DetectLinuxWakeStatus(const WakeOptions& options)
{
    const bool wakeClock = HasWakeCapableRtc(options.rtcClassFolder);
    WakeReason denied = WakeReason::NoCapability;
    if (options.useRealtimeAlarm) {
        const int fd = CreateAlarmTimerFd();
        if (fd >= 0) {
            ::close(fd);
            if (wakeClock)
                return {WakePath::RealtimeAlarm, WakeAbility::Yes, WakeReason::CapabilityHeld};
            return {WakePath::RealtimeAlarm, WakeAbility::No, WakeReason::NoWakeClock};
        }
        // EPERM without the capability; EINVAL from a kernel without alarm timers, which no right helps.
        if (errno == EINVAL)
            denied = WakeReason::NoAlarmTimers;
    }
    if (ProbePowerDaemon(options).usable) {
        if (!wakeClock)
            return {WakePath::PowerDaemon, WakeAbility::No, WakeReason::NoWakeClock};
        return AskPowerDaemon(options);
    }
    return {WakePath::None, WakeAbility::No, wakeClock ? denied : WakeReason::NoWakeClock};
}

WakePath DetectWakePath(const WakeOptions& options)
{
    if (RealtimeAlarmWorks(options))
        return WakePath::RealtimeAlarm;
    if (ProbePowerDaemon(options).usable)
        return WakePath::PowerDaemon;
    return WakePath::None;
}

LinuxWakeTimer::LinuxWakeTimer(const WakeOptions& options)
    : m_bus(QString()) // no bus until the power daemon is known to answer on one
    , m_pending(std::make_unique<QObject>())
{
    if (RealtimeAlarmWorks(options)) {
        m_fd = CreateAlarmTimerFd();
        if (m_fd >= 0) {
            m_path = WakePath::RealtimeAlarm;
            return;
        }
    }
    probePowerDaemon(options);
}

void LinuxWakeTimer::probePowerDaemon(const WakeOptions& options)
{
    // Asked without waiting: the timer is made on the GUI thread, and a daemon may take seconds to answer.
    // Until it has, the timer holds its wake-up time without waking, and hands it over once it can.
    if (!options.usePowerDaemon || (options.busConnection.isEmpty() && !SessionBusConfigured()))
        return;
    QDBusConnection bus = BusFor(options);
    if (!bus.isConnected())
        return;
    const QDBusMessage introspect = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(introspect, kIntrospectTimeoutMs), m_pending.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_pending.get(), [this, watcher, bus] {
        watcher->deleteLater();
        const QDBusPendingReply<QString> reply = *watcher;
        if (reply.isError() || m_closing)
            return;
        const DaemonApi api = ParseIntrospection(reply.value());
        if (!api.usable)
            return;
        m_path = WakePath::PowerDaemon;
        m_bus = bus;
        m_timestampSigned = api.signedTimestamp;
        qCInfo(lcPlatform, "wake timer: the power daemon takes wake-ups");
        if (m_due)
            scheduleWithDaemon(*m_due);
    });
}

LinuxWakeTimer::~LinuxWakeTimer()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_path != WakePath::PowerDaemon)
        return;
    // Like closing a timer handle, ending the program withdraws its wake-up. Outstanding requests are
    // waited for so that their cookies can be withdrawn too.
    ++m_generation;
    m_closing = true;
    const auto calls = m_pending->findChildren<QDBusPendingCallWatcher*>();
    for (QDBusPendingCallWatcher* call : calls)
        call->waitForFinished();
    if (m_cookie)
        clearWithDaemon(*m_cookie, true);
}

bool LinuxWakeTimer::Arm(WallTime due)
{
    ++m_generation;
    m_due = due;
    switch (m_path) {
    case WakePath::RealtimeAlarm:
        if (!SetTimerFd(m_fd, due, false)) {
            qCWarning(lcPlatform, "wake timer: timerfd_settime failed: %s", std::strerror(errno));
            m_due.reset();
            return false;
        }
        return true;
    case WakePath::PowerDaemon:
        if (m_cookie)
            clearWithDaemon(*std::exchange(m_cookie, std::nullopt), false);
        scheduleWithDaemon(due);
        return true;
    case WakePath::None:
        break;
    }
    return true; // armed without wake, as the system accepts a timer it cannot wake for
}

void LinuxWakeTimer::Disarm()
{
    ++m_generation;
    m_due.reset();
    if (m_fd >= 0)
        ClearTimerFd(m_fd);
    if (m_cookie)
        clearWithDaemon(*std::exchange(m_cookie, std::nullopt), false);
}

std::optional<WallTime> LinuxWakeTimer::RequestedWake() const
{
    if (m_path == WakePath::RealtimeAlarm) {
        // WORKAROUND: for alarm clocks timerfd_gettime keeps answering with the old expiry after the timer
        // was disarmed, so only an armed timer is asked.
        itimerspec expiry{};
        if (!m_due || ::timerfd_gettime(m_fd, &expiry) != 0)
            return std::nullopt;
        // timerfd_gettime answers with the time left, not the absolute expiry.
        const auto left =
            std::chrono::seconds(expiry.it_value.tv_sec) + std::chrono::nanoseconds(expiry.it_value.tv_nsec);
        return std::chrono::time_point_cast<WallTime::duration>(std::chrono::system_clock::now() + left);
    }
    if (m_path == WakePath::PowerDaemon && m_cookie)
        return m_due;
    return std::nullopt;
}

void LinuxWakeTimer::scheduleWithDaemon(WallTime due)
{
    // The daemon counts whole seconds and refuses the past; rounding down wakes no later than asked.
    const qint64 seconds = std::chrono::floor<std::chrono::seconds>(due.time_since_epoch()).count();
    if (due <= std::chrono::system_clock::now()) {
        qCInfo(lcPlatform, "wake timer: %lld is past; no wake-up requested", static_cast<long long>(seconds));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("scheduleWakeup"));
    const QVariant timestamp =
        m_timestampSigned ? QVariant::fromValue<qlonglong>(seconds) : QVariant::fromValue<qulonglong>(seconds);
    call << m_bus.baseService() << QVariant::fromValue(QDBusObjectPath(kCallbackPath)) << timestamp;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), m_pending.get());
    const unsigned generation = m_generation;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_pending.get(), [this, generation, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            qCWarning(lcPlatform, "wake timer: scheduleWakeup failed: %s", qPrintable(reply.error().message()));
            return;
        }
        const int cookie = static_cast<int>(reply.value());
        if (generation != m_generation)
            clearWithDaemon(cookie, m_closing); // replaced while the daemon was answering
        else
            m_cookie = cookie;
    });
}

void LinuxWakeTimer::clearWithDaemon(int cookie, bool wait)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("clearWakeup"));
    call << cookie;
    if (wait) {
        m_bus.call(call, QDBus::Block, kExitCallTimeoutMs);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), m_pending.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
}

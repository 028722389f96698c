#include "Desktop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The descriptor on which the X server reports the display it picked; high enough that nothing of
// QProcess's own is there in the child.
constexpr int kDisplayFd = 63;
constexpr int kReadyTimeoutMs = 15000;

// Reads one line from a descriptor, waiting at most timeoutMs for all of it.
QByteArray readLine(int fd, int timeoutMs)
{
    QByteArray line;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
            continue;
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n')
            return line;
        line += c;
    }
    return line;
}

} // namespace

void DieWithTest(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, pollMs);
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(pollMs, qMax<qint64>(0, deadline.remainingTime()))));
    }
}

Desktop::~Desktop()
{
    Stop();
}

bool Desktop::startHelper(std::unique_ptr<QProcess>& process, const QString& program, const QStringList& arguments,
                          const QString& name, QString* why)
{
    process = std::make_unique<QProcess>();
    process->setProcessEnvironment(SessionEnvironment());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(m_scratch->filePath(name + QStringLiteral(".log")));
    DieWithTest(*process);
    process->start(program, arguments);
    if (!process->waitForStarted(10000)) {
        *why = QStringLiteral("%1 could not be started: %2").arg(program, process->errorString());
        return false;
    }
    return true;
}

bool Desktop::waitFor(const std::function<bool()>& ready, int timeoutMs, const QProcess* helper) const
{
    return WaitUntil([&] { return ready() || (helper && helper->state() != QProcess::Running); }, timeoutMs, 10) &&
           (!helper || helper->state() == QProcess::Running);
}

bool Desktop::Start(const Options& options, QString* why)
{
    Stop();
    m_scratch = std::make_unique<QTemporaryDir>();
    if (!m_scratch->isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    m_runtimeDir = m_scratch->filePath(QStringLiteral("runtime"));
    m_configHome = m_scratch->filePath(QStringLiteral("config"));
    QDir().mkpath(m_runtimeDir);
    QDir().mkpath(m_configHome);
    QFile::setPermissions(m_runtimeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // The X server picks a free display itself and names it on a pipe: no race with other tests.
    int displayPipe[2] = {-1, -1};
    if (::pipe2(displayPipe, O_CLOEXEC) != 0) {
        *why = QStringLiteral("no pipe");
        return false;
    }
    m_xserver = std::make_unique<QProcess>();
    m_xserver->setStandardOutputFile(QProcess::nullDevice());
    m_xserver->setStandardErrorFile(m_scratch->filePath(QStringLiteral("xserver.log")));
    const int writeEnd = displayPipe[1];
    m_xserver->setChildProcessModifier([writeEnd] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(writeEnd, kDisplayFd);
    });
    m_xserver->start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QString::number(kDisplayFd), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                      QStringLiteral("tcp"), QStringLiteral("-br"), QStringLiteral("-noreset")});
    ::close(displayPipe[1]);
    const bool xStarted = m_xserver->waitForStarted(10000);
    const QByteArray number = xStarted ? readLine(displayPipe[0], kReadyTimeoutMs) : QByteArray();
    ::close(displayPipe[0]);
    if (number.isEmpty()) {
        *why = QStringLiteral("Xvfb did not name a display");
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    if (!WaitUntil([this] { return m_x.Open(m_display); }, kReadyTimeoutMs, 20)) {
        *why = QStringLiteral("cannot connect to Xvfb on ") + m_display;
        return false;
    }

    m_bus = std::make_unique<QProcess>();
    m_bus->setStandardErrorFile(m_scratch->filePath(QStringLiteral("bus.log")));
    DieWithTest(*m_bus);
    m_bus->start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_bus->waitForStarted(10000) ||
        !WaitUntil([this] { return m_bus->canReadLine() || m_bus->state() != QProcess::Running; }, kReadyTimeoutMs)) {
        *why = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    m_busAddress = m_bus->readLine().trimmed();
    if (m_busAddress.isEmpty()) {
        *why = QStringLiteral("dbus-daemon printed no address");
        return false;
    }

    // The sound server keeps its state (remembered stream volumes) in the scratch folder, not in HOME.
    const QString pulseState = m_scratch->filePath(QStringLiteral("pulse-state"));
    QDir().mkpath(pulseState);
    qputenv("PULSE_STATE_PATH", QFile::encodeName(pulseState));
    QString pulseWhy;
    if (!m_pulse.Start(&pulseWhy)) {
        *why = QStringLiteral("PulseAudio: ") + pulseWhy;
        return false;
    }
    m_pulseServer = QStringLiteral("unix:") + qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/native");
    m_pulse.StartKeepAlive();

    if (options.sessionManager) {
        m_session = std::make_unique<SessionManager>();
        QString smWhy;
        if (!m_session->Start(&smWhy)) {
            *why = QStringLiteral("session manager: ") + smWhy;
            m_session.reset();
            return false;
        }
    }

    if (!startHelper(m_windowManager, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")},
                     QStringLiteral("openbox"), why))
        return false;
    if (!waitFor([this] { return m_x.WindowManagerRunning(); }, kReadyTimeoutMs, m_windowManager.get())) {
        *why = QStringLiteral("openbox did not take the screen");
        return false;
    }
    if (!startHelper(m_tray, QStringLiteral("trayer"),
                     {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                      QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                      QStringLiteral("--height"), QStringLiteral("24")},
                     QStringLiteral("trayer"), why))
        return false;
    if (!waitFor([this] { return m_x.SelectionOwned("_NET_SYSTEM_TRAY_S0"); }, kReadyTimeoutMs, m_tray.get())) {
        *why = QStringLiteral("trayer did not take the tray");
        return false;
    }
    if (!startHelper(m_notifications, QStringLiteral("dunst"), {}, QStringLiteral("dunst"), why))
        return false;
    {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QString::fromLatin1(m_busAddress), QStringLiteral("journey-desktop-check"));
        const bool served = waitFor(
            [&bus] {
                return bus.isConnected() &&
                       bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
            },
            kReadyTimeoutMs, m_notifications.get());
        QDBusConnection::disconnectFromBus(QStringLiteral("journey-desktop-check"));
        if (!served) {
            *why = QStringLiteral("dunst did not take the notification service");
            return false;
        }
    }
    return true;
}

void Desktop::Stop()
{
    StopProcess(m_notifications);
    StopProcess(m_tray);
    StopProcess(m_windowManager);
    m_session.reset();
    m_x.Close();
    StopProcess(m_xserver);
    StopProcess(m_bus);
    m_pulse.Stop();
    qunsetenv("PULSE_STATE_PATH");
    m_scratch.reset();
    m_display.clear();
    m_busAddress.clear();
}

QProcessEnvironment Desktop::SessionEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"SESSION_MANAGER", "WAYLAND_DISPLAY", "XAUTHORITY", "PULSE_SINK", "TZ", "LC_ALL", "LARKBELL_DATA_DIR",
          "LARKBELL_TEST_CLOCK_OFFSET_MS", "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(m_busAddress));
    env.insert(QStringLiteral("PULSE_SERVER"), m_pulseServer);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    return env;
}

int Desktop::RunTool(const QString& program, const QStringList& arguments, QString* output, int timeoutMs) const
{
    QProcess tool;
    tool.setProcessEnvironment(SessionEnvironment());
    DieWithTest(tool);
    tool.start(program, arguments);
    // The test's event loop keeps running meanwhile: the session manager lives in it.
    if (!tool.waitForStarted(5000) ||
        !WaitUntil([&tool] { return tool.state() == QProcess::NotRunning; }, timeoutMs, 1)) {
        tool.kill();
        tool.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(tool.readAllStandardOutput() + tool.readAllStandardError());
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

void StopProcess(std::unique_ptr<QProcess>& process)
{
    if (!process)
        return;
    const qint64 pid = process->processId();
    if (pid > 0 && process->state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        if (!process->waitForFinished(3000)) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

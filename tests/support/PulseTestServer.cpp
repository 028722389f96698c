#include "PulseTestServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <sys/types.h>

namespace {

// Helpers end with the test process, even when it aborts.
void DieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

void Fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

} // namespace

PulseTestServer::~PulseTestServer()
{
    Stop();
}

bool PulseTestServer::Start(QString* why)
{
    Stop();
    m_runtimeDir = std::make_unique<QTemporaryDir>();
    if (!m_runtimeDir->isValid()) {
        Fail(why, QStringLiteral("no temporary folder"));
        return false;
    }
    QFile::setPermissions(m_runtimeDir->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!m_envChanged) {
        m_hadRuntimeDir = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        m_oldRuntimeDir = qgetenv("XDG_RUNTIME_DIR");
        m_envChanged = true;
    }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtimeDir->path()));
    qunsetenv("PULSE_SERVER");

    m_daemon = std::make_unique<QProcess>();
    m_daemon->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_STATE_PATH"), m_runtimeDir->filePath(QStringLiteral("state")));
    m_daemon->setProcessEnvironment(environment);
    DieWithParent(*m_daemon);
    m_daemon->start(QStringLiteral("pulseaudio"),
                    {QStringLiteral("-n"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--log-level=error"),
                     QStringLiteral("--load=module-null-sink sink_name=%1").arg(SinkName()),
                     QStringLiteral("--load=module-native-protocol-unix")});
    if (!m_daemon->waitForStarted(10000)) {
        Fail(why, QStringLiteral("pulseaudio could not be started"));
        m_daemon.reset();
        return false;
    }
    m_pid = m_daemon->processId();
    QDeadlineTimer deadline(10000);
    while (!Pactl({QStringLiteral("set-default-sink"), SinkName()})) {
        if (deadline.hasExpired() || m_daemon->state() != QProcess::Running) {
            Fail(why, QStringLiteral("pulseaudio does not answer"));
            Stop();
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

void PulseTestServer::Stop()
{
    StopKeepAlive();
    if (m_pid > 0) {
        ::kill(static_cast<pid_t>(m_pid), SIGCONT);
        ::kill(static_cast<pid_t>(m_pid), SIGTERM);
        if (!m_daemon->waitForFinished(5000)) {
            ::kill(static_cast<pid_t>(m_pid), SIGKILL);
            m_daemon->waitForFinished(5000);
        }
        m_pid = 0;
    }
    m_daemon.reset();
    m_runtimeDir.reset();
    if (m_envChanged) {
        if (m_hadRuntimeDir)
            qputenv("XDG_RUNTIME_DIR", m_oldRuntimeDir);
        else
            qunsetenv("XDG_RUNTIME_DIR");
        m_envChanged = false;
    }
}

void PulseTestServer::Kill()
{
    StopKeepAlive();
    if (m_pid <= 0)
        return;
    ::kill(static_cast<pid_t>(m_pid), SIGKILL);
    m_daemon->waitForFinished(5000);
    m_pid = 0;
}

void PulseTestServer::Freeze()
{
    if (m_pid > 0)
        ::kill(static_cast<pid_t>(m_pid), SIGSTOP);
}

void PulseTestServer::Thaw()
{
    if (m_pid > 0)
        ::kill(static_cast<pid_t>(m_pid), SIGCONT);
}

bool PulseTestServer::Running() const
{
    return m_daemon && m_daemon->state() == QProcess::Running;
}

bool PulseTestServer::StartKeepAlive()
{
    StopKeepAlive();
    m_keepAlive = std::make_unique<QProcess>();
    m_keepAlive->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    DieWithParent(*m_keepAlive);
    m_keepAlive->start(QStringLiteral("pacat"), {QStringLiteral("--latency-msec=20"), QStringLiteral("--raw"),
                                                 QStringLiteral("-d"), SinkName(), QStringLiteral("/dev/zero")});
    return m_keepAlive->waitForStarted(5000);
}

void PulseTestServer::StopKeepAlive()
{
    if (!m_keepAlive)
        return;
    m_keepAlive->kill();
    m_keepAlive->waitForFinished(5000);
    m_keepAlive.reset();
}

bool PulseTestServer::Pactl(const QStringList& args, QString* output) const
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), args);
    if (!pactl.waitForFinished(5000)) {
        pactl.kill();
        pactl.waitForFinished(1000);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(pactl.readAllStandardOutput());
    return pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

namespace {

// "Volume: front-left: 52429 /  80% / -5.81 dB,   front-right: 52429 /  80% / ..."
QList<int> VolumeChannels(const QString& line)
{
    static const QRegularExpression channel(QStringLiteral(":\\s*(\\d+)\\s*/"));
    QList<int> values;
    for (auto it = channel.globalMatch(line); it.hasNext();)
        values << it.next().captured(1).toInt();
    return values;
}

} // namespace

QList<int> PulseTestServer::SinkVolumeChannels(const QString& sink) const
{
    QString text;
    if (!Pactl({QStringLiteral("get-sink-volume"), sink}, &text))
        return {};
    return VolumeChannels(text.section(u'\n', 0, 0));
}

int PulseTestServer::SinkVolumeRaw(const QString& sink) const
{
    const QList<int> channels = SinkVolumeChannels(sink);
    return channels.isEmpty() ? -1 : *std::max_element(channels.begin(), channels.end());
}

std::optional<PulseTestServer::SinkInput> PulseTestServer::FindSinkInput(const QString& application) const
{
    QString text;
    if (!Pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")}, &text))
        return std::nullopt;
    const QString wanted = QStringLiteral("application.name = \"%1\"").arg(application);
    static const QRegularExpression header(QStringLiteral("^Sink Input #(\\d+)"), QRegularExpression::MultilineOption);
    QList<qsizetype> starts;
    for (auto it = header.globalMatch(text); it.hasNext();)
        starts << it.next().capturedStart();
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        const QString block = text.mid(starts[i], end - starts[i]);
        if (!block.contains(wanted))
            continue;
        SinkInput input;
        input.index = header.match(block).captured(1).toInt();
        for (const QString& line : block.split(u'\n')) {
            const QString trimmed = line.trimmed();
            if (trimmed.startsWith(QStringLiteral("Mute:")))
                input.muted = trimmed.contains(QStringLiteral("yes"));
            else if (trimmed.startsWith(QStringLiteral("Volume:")))
                input.channels = VolumeChannels(trimmed);
        }
        return input;
    }
    return std::nullopt;
}

int PulseTestServer::SinkVolumePercent(const QString& sink) const
{
    const int raw = SinkVolumeRaw(sink);
    return raw < 0 ? -1 : static_cast<int>((raw * 100LL + 32768) / 65536);
}

bool PulseTestServer::SinkMuted(const QString& sink) const
{
    QString text;
    return Pactl({QStringLiteral("get-sink-mute"), sink}, &text) && text.contains(QStringLiteral("yes"));
}

SinkMonitor::~SinkMonitor()
{
    Stop();
}

bool SinkMonitor::Start(const QString& sink)
{
    Stop();
    m_recorder = std::make_unique<QProcess>();
    m_recorder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    DieWithParent(*m_recorder);
    m_recorder->start(QStringLiteral("parec"),
                      {QStringLiteral("-d"), sink + QStringLiteral(".monitor"), QStringLiteral("--raw"),
                       QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"), QStringLiteral("--rate=44100"),
                       QStringLiteral("--latency-msec=10")});
    if (!m_recorder->waitForStarted(5000))
        return false;
    QObject::connect(m_recorder.get(), &QProcess::readyReadStandardOutput, m_recorder.get(), [this] { Consume(); });
    Reset();
    return true;
}

void SinkMonitor::Stop()
{
    if (!m_recorder)
        return;
    m_recorder->disconnect();
    m_recorder->kill();
    m_recorder->waitForFinished(5000);
    m_recorder.reset();
}

void SinkMonitor::Reset()
{
    if (m_recorder)
        m_recorder->readAllStandardOutput(); // what is buffered was recorded before now
    m_pending.clear();
    m_loudSamples = 0;
    m_firstLoudMs = -1;
    m_lastLoudMs = -1;
    m_clock.start();
}

void SinkMonitor::Consume()
{
    m_pending += m_recorder->readAllStandardOutput();
    const qsizetype samples = m_pending.size() / 2;
    const auto* data = reinterpret_cast<const unsigned char*>(m_pending.constData());
    bool loud = false;
    for (qsizetype i = 0; i < samples; ++i) {
        const auto value = static_cast<qint16>(static_cast<quint16>(data[2 * i] | (data[2 * i + 1] << 8)));
        if (value > kThreshold || value < -kThreshold) {
            ++m_loudSamples;
            loud = true;
        }
    }
    m_pending.remove(0, samples * 2);
    if (loud) {
        m_lastLoudMs = m_clock.elapsed();
        if (m_firstLoudMs < 0)
            m_firstLoudMs = m_lastLoudMs;
    }
}

qint64 SinkMonitor::WaitForSound(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_firstLoudMs < 0 && !deadline.hasExpired()) {
        if (!m_recorder || m_recorder->state() != QProcess::Running)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        m_recorder->waitForReadyRead(5);
        Consume();
    }
    return m_firstLoudMs;
}

bool SinkMonitor::WaitForQuiet(int quietMs, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!m_recorder || m_recorder->state() != QProcess::Running)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        m_recorder->waitForReadyRead(5);
        Consume();
        const qint64 since = m_lastLoudMs < 0 ? m_clock.elapsed() : m_clock.elapsed() - m_lastLoudMs;
        if (since >= quietMs)
            return true;
    }
    return false;
}

#include "BenchSupport.h"

#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLib.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

double Median(const std::vector<double>& values)
{
    return Percentile(values, 0.5);
}

QStringList RandomAlarms(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QStringList alarms;
    alarms.reserve(count);
    for (int i = 0; i < count; ++i) {
        AlarmRecord a;
        a.Time = MinutesToTime(int(random.bounded(1440)));
        for (bool& day : a.Days)
            day = random.bounded(3) == 0;
        a.Enabled = random.bounded(10) != 0;
        a.WakeUp = random.bounded(50) == 0;
        a.Label = QStringLiteral("Alarm number %1 with a label long enough to be cut at the edge").arg(i);
        a.Sound = i % 7 == 0 ? QStringLiteral("/home/user/Music/a rather long folder name/wake up.mp3")
                             : QStringLiteral("Birds");
        alarms.append(BuildAlarmString(a));
    }
    return alarms;
}

bool MakeTone(const QString& path)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
               QStringLiteral("2"), path, QStringLiteral("synth"), QStringLiteral("30"), QStringLiteral("sine"),
               QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")});
    return sox.waitForFinished(60000) && sox.exitCode() == 0;
}

double Max(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void Terminate(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

double MsBetween(WallClock::time_point from, WallClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void PrintResult(const QString& metric, const QString& figure, const QString& target, bool met)
{
    QTextStream(stdout) << "RESULT\t" << metric << '\t' << figure << '\t' << target << '\t' << (met ? "met" : "MISSED")
                        << Qt::endl;
}

void PrintInfo(const QString& metric, const QString& figure)
{
    QTextStream(stdout) << "RESULT\t" << metric << '\t' << figure << "\t\t" << Qt::endl;
}

namespace {

QByteArray readProc(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

long long statusField(const QByteArray& status, const QByteArray& name)
{
    const QByteArray key = '\n' + name + ':';
    const qsizetype at = status.indexOf(key);
    if (at < 0)
        return 0;
    const qsizetype end = status.indexOf('\n', at + 1);
    return status.mid(at + key.size(), end - at - key.size()).trimmed().split(' ').value(0).toLongLong();
}

} // namespace

long long ClockTicksPerSecond()
{
    return ::sysconf(_SC_CLK_TCK);
}

ProcessSample SampleProcess(pid_t pid)
{
    ProcessSample sample;
    const QString base = QStringLiteral("/proc/%1").arg(pid);
    const QByteArray stat = readProc(base + QStringLiteral("/stat"));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return sample;
    // Fields after the command name start with the state (field 3); utime and stime are fields 14 and 15.
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return sample;
    sample.cpuTicks = fields.at(11).toLongLong() + fields.at(12).toLongLong();
    const QByteArray status = '\n' + readProc(base + QStringLiteral("/status"));
    sample.rssKb = statusField(status, "VmRSS");
    sample.rssAnonKb = statusField(status, "RssAnon");
    sample.rssFileKb = statusField(status, "RssFile");
    const QStringList tasks = QDir(base + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        const QString dir = base + QStringLiteral("/task/") + task;
        const QByteArray taskStatus = '\n' + readProc(dir + QStringLiteral("/status"));
        if (taskStatus.size() < 2)
            continue; // ended while being read
        const pid_t tid = task.toInt();
        const long long preemptions = statusField(taskStatus, "nonvoluntary_ctxt_switches");
        sample.switchesByThread[tid] = statusField(taskStatus, "voluntary_ctxt_switches") + preemptions;
        sample.preemptions += preemptions;
        const qsizetype nameAt = taskStatus.indexOf("\nName:");
        sample.threadNames[tid] =
            taskStatus.mid(nameAt + 6, taskStatus.indexOf('\n', nameAt + 1) - nameAt - 6).trimmed().toStdString();
        sample.cpuNs += readProc(dir + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong();
    }
    sample.valid = !sample.switchesByThread.empty();
    return sample;
}

long long ProcessSample::SwitchesSince(const ProcessSample& earlier) const
{
    long long total = 0;
    for (const auto& [tid, count] : switchesByThread) {
        const auto before = earlier.switchesByThread.find(tid);
        total += count - (before == earlier.switchesByThread.end() ? 0 : before->second);
    }
    return total;
}

QString ProcessSample::SwitchesByNameSince(const ProcessSample& earlier) const
{
    std::map<std::string, long long> byName;
    for (const auto& [tid, count] : switchesByThread) {
        const auto before = earlier.switchesByThread.find(tid);
        byName[threadNames.at(tid)] += count - (before == earlier.switchesByThread.end() ? 0 : before->second);
    }
    QStringList parts;
    for (const auto& [name, count] : byName)
        parts.append(QStringLiteral("%1 %2").arg(QString::fromStdString(name)).arg(count));
    return parts.join(QStringLiteral(", "));
}

SinkTap::~SinkTap()
{
    Stop();
}

bool SinkTap::Start(const std::string& source)
{
    Stop();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const std::string device = "--device=" + source;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(fds[1], STDOUT_FILENO);
        ::execlp("parec", "parec", device.c_str(), "--raw", "--format=s16le", "--channels=1", "--rate=44100",
                 "--latency-msec=10", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (m_pid < 0) {
        ::close(fds[0]);
        return false;
    }
    m_fd = fds[0];
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void SinkTap::Stop()
{
    if (m_pid > 0) {
        m_stop = true;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void SinkTap::Run()
{
    std::vector<char> buffer(1 << 14);
    std::size_t carry = 0;
    while (!m_stop) {
        const ssize_t got = ::read(m_fd, buffer.data() + carry, buffer.size() - carry);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        const WallClock::time_point arrived = WallClock::now();
        const std::size_t bytes = carry + std::size_t(got);
        bool loud = false;
        for (std::size_t i = 0; i + 1 < bytes; i += 2) {
            const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(
                static_cast<unsigned char>(buffer[i]) | (static_cast<unsigned char>(buffer[i + 1]) << 8)));
            if (value > kThreshold || value < -kThreshold) {
                loud = true;
                break;
            }
        }
        carry = bytes % 2;
        if (carry)
            buffer[0] = buffer[bytes - 1];
        if (!loud)
            continue;
        std::function<void()> notify;
        {
            const std::lock_guard lock(m_mutex);
            m_lastLoud = arrived;
            if (!m_first && arrived >= m_since) {
                m_first = arrived;
                notify = m_onFirstLoud;
            }
        }
        if (notify)
            notify();
    }
}

void SinkTap::Arm(WallClock::time_point since, std::function<void()> onFirstLoud)
{
    const std::lock_guard lock(m_mutex);
    m_since = since;
    m_first.reset();
    m_onFirstLoud = std::move(onFirstLoud);
}

std::optional<WallClock::time_point> SinkTap::FirstLoud() const
{
    const std::lock_guard lock(m_mutex);
    return m_first;
}

bool SinkTap::WaitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const
{
    const auto deadline = WallClock::now() + timeout;
    while (WallClock::now() < deadline) {
        {
            const std::lock_guard lock(m_mutex);
            if (WallClock::now() - m_lastLoud >= quiet)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace bench

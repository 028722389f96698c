#pragma once

#include <QString>
#include <QStringList>

class QProcess;

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using WallClock = std::chrono::system_clock;

double Percentile(std::vector<double> values, double p);
double Median(const std::vector<double>& values);
double Max(const std::vector<double>& values);
double MsBetween(WallClock::time_point from, WallClock::time_point to);
/** Ends a program as the session does (SIGTERM); killed when it is not gone within ten seconds. */
void Terminate(QProcess& process);

/**
 * A list of alarms as a heavy user might keep: random times, repeat days and switches, labels long
 * enough to be cut in the list, and now and then a long path as sound. The same seed gives the same list.
 */
QStringList RandomAlarms(int count, quint32 seed = 42);
/** Writes a 30 s, 440 Hz stereo tone at half scale (sox); false when sox is missing or fails. */
bool MakeTone(const QString& path);

/**
 * One row of the table scripts/bench prints. The row goes to stdout as a tab-separated line that
 * starts with "RESULT"; everything else a benchmark prints is detail for the log.
 */
void PrintResult(const QString& metric, const QString& figure, const QString& target, bool met);
/** A row without a target: context for the rows around it. */
void PrintInfo(const QString& metric, const QString& figure);

/** What /proc tells about a process, summed over its threads where the kernel counts per thread. */
struct ProcessSample {
    std::map<pid_t, long long> switchesByThread; // voluntary + involuntary context switches
    std::map<pid_t, std::string> threadNames;
    long long preemptions = 0; // involuntary context switches of the living threads: the CPU taken away, no wake-up
    long long cpuTicks = 0;    // utime + stime of the whole process (clock ticks, dead threads included)
    long long cpuNs = 0;       // time on a CPU of the living threads, nanoseconds (schedstat)
    long long rssKb = 0;       // VmRSS
    long long rssAnonKb = 0;   // RssAnon
    long long rssFileKb = 0;   // RssFile
    bool valid = false;

    /** Context switches since an earlier sample; threads that began in between count from zero. */
    long long SwitchesSince(const ProcessSample& earlier) const;
    /** The same per thread name, for the detail log. */
    QString SwitchesByNameSince(const ProcessSample& earlier) const;
};

ProcessSample SampleProcess(pid_t pid);
long long ClockTicksPerSecond();

/**
 * Records a PulseAudio sink's monitor (parec, mono 16 bit 44.1 kHz, 10 ms latency) on a thread of its
 * own and stamps each block with the wall clock as it arrives, so that the stamps do not depend on what
 * the main thread is doing. A stamp is the arrival of the block holding the sample, which is a little
 * later than the moment the sink played it: the figures err on the late side.
 */
class SinkTap final
{
public:
    SinkTap() = default;
    ~SinkTap();
    SinkTap(const SinkTap&) = delete;
    SinkTap& operator=(const SinkTap&) = delete;

    bool Start(const std::string& source);
    void Stop();
    /** Forgets the first loud block; the next one at or after since is reported. */
    void Arm(WallClock::time_point since, std::function<void()> onFirstLoud = {});
    std::optional<WallClock::time_point> FirstLoud() const;
    /** True once nothing loud has arrived for quiet; polls. */
    bool WaitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const;

    static constexpr int kThreshold = 1000; // about -30 dBFS, as the tests' monitor

private:
    void Run();

    pid_t m_pid = -1;
    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    WallClock::time_point m_since{};
    std::optional<WallClock::time_point> m_first;
    WallClock::time_point m_lastLoud{};
    std::function<void()> m_onFirstLoud;
};

} // namespace bench

// The real program as a user runs it: start-up to the tray icon (cold and warm), context switches and
// CPU time while it sits hidden in the tray, its memory there and while an alarm rings, one real
// alarm at a minute boundary, and the quiet after the alarm is closed. Everything is read from /proc,
// the program's DEBUG log and the sound server; nothing inside the program is instrumented.
//
// Run it where a user's desktop would be: an X server with a tray host, a session bus with a
// notification server, and a PulseAudio server whose default sink is "alarmtest" (scripts/bench
// starts all of these). Usage: bench_program PATH_TO_LARKBELL [--quick] [--runs N] [--time-left-only]
#include "BenchSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/Schedule.h"
#include "core/app/AppIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bench;
using namespace std::chrono_literals;

namespace {

struct Options {
    QString exe;
    bool quick = false;
    bool timeLeftOnly = false;
    int runs = 10;
};

void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

void progress(const QString& text)
{
    std::fprintf(stderr, "  %s\n", qPrintable(text));
}

/** One copy of the program on its own data folder, started with -debug so that it writes Log.txt. */
class Program final
{
public:
    Program(QString exe, QString dataDir)
        : m_exe(std::move(exe))
        , m_dataDir(std::move(dataDir))
    {}
    ~Program() { Stop(); }

    void Start(const QStringList& arguments = {QStringLiteral("-debug"), QStringLiteral("-autorun")})
    {
        QFile::remove(logPath());
        m_process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LARKBELL_DATA_DIR"), m_dataDir);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_process->setProcessEnvironment(env);
        m_process->setWorkingDirectory(QDir::homePath()); // where a session's autostart runs it
        m_process->setStandardOutputFile(QProcess::nullDevice());
        m_process->setStandardErrorFile(QProcess::nullDevice());
        m_started = WallClock::now();
        m_process->start(m_exe, arguments);
        m_process->waitForStarted(10000);
    }

    /** Runs a second copy (a start hands over to the running one) and waits for it. */
    void RunSecond(const QStringList& arguments) const
    {
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LARKBELL_DATA_DIR"), m_dataDir);
        second.setProcessEnvironment(env);
        second.start(m_exe, arguments);
        second.waitForFinished(15000);
    }

    /** Ends the program as the session does (SIGTERM: it saves and quits). */
    void Stop()
    {
        if (m_process)
            Terminate(*m_process);
    }

    pid_t Pid() const { return m_process ? pid_t(m_process->processId()) : -1; }
    bool Running() const { return m_process && m_process->state() == QProcess::Running; }
    WallClock::time_point Started() const { return m_started; }

    QString Log() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    /** Waits for a log line holding text; returns the line. */
    std::optional<QString> WaitForLog(const QString& text, std::chrono::milliseconds timeout) const
    {
        const auto deadline = WallClock::now() + timeout;
        while (WallClock::now() < deadline) {
            QFile file(logPath());
            if (file.open(QIODevice::ReadOnly)) {
                const QString log = QString::fromUtf8(file.readAll());
                const qsizetype at = log.indexOf(text);
                if (at >= 0) {
                    const qsizetype begin = log.lastIndexOf(u'\n', at) + 1;
                    const qsizetype end = log.indexOf(u'\n', at);
                    return log.mid(begin, end < 0 ? -1 : end - begin);
                }
            }
            if (!Running())
                return std::nullopt;
            QThread::msleep(5);
        }
        return std::nullopt;
    }

private:
    QString logPath() const { return m_dataDir + QStringLiteral("/Log.txt"); }

    QString m_exe;
    QString m_dataDir;
    std::unique_ptr<QProcess> m_process;
    WallClock::time_point m_started;
};

/** The wall-clock instant of a log line ("<date> HH:mm:ss.zzz : text"), taken as today's local time. */
std::optional<WallClock::time_point> logLineTime(const QString& line)
{
    static const QRegularExpression stamp(QStringLiteral("(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d\\d\\d) : "));
    const QRegularExpressionMatch m = stamp.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    QDateTime at(QDate::currentDate(),
                 QTime(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt()));
    if (at > QDateTime::currentDateTime().addSecs(3600))
        at = at.addDays(-1); // written just before midnight
    return WallClock::time_point(std::chrono::milliseconds(at.toMSecsSinceEpoch()));
}

void writeData(const QString& dataDir, QStringList alarms)
{
    int selected = 0;
    SortAlarms(alarms, 0, &selected); // the order the program keeps its list in
    TAppIni ini(dataDir, QString());
    ini.SetFileName(dataDir + QStringLiteral("/Data.ini"));
    ini.WriteList(Settings::Alarms, alarms);
    ini.Write(Settings::FirstStarted, true);
    ini.Write(Settings::ShowFloatingWindow, false);
}

/** A user's everyday list: weekday and weekend alarms at fixed times. */
QStringList everydayAlarms()
{
    QStringList alarms;
    const struct {
        int hour, minute;
        const char* label;
        std::array<bool, 7> days;
    } everyday[] = {
        {6, 45, "Get up", {false, true, true, true, true, true, false}},
        {9, 0, "Good morning!", {false, true, true, true, true, true, false}},
        {9, 30, "Weekend", {true, false, false, false, false, false, true}},
        {13, 0, "Lunch", {}},
        {22, 30, "Bed time", {true, true, true, true, true, true, true}},
    };
    for (const auto& e : everyday) {
        AlarmRecord a;
        a.Time = QTime(e.hour, e.minute);
        a.Label = QLatin1String(e.label);
        a.Sound = QStringLiteral("Birds");
        a.Days = e.days;
        a.Enabled = e.days != std::array<bool, 7>{};
        alarms.append(BuildAlarmString(a));
    }
    return alarms;
}

// ---- page cache ----

/** Bytes of path held in the page cache. */
long long residentBytes(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat info {
    };
    long long resident = 0;
    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
        void* map = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            const long page = ::sysconf(_SC_PAGESIZE);
            std::vector<unsigned char> pages(size_t((info.st_size + page - 1) / page));
            if (::mincore(map, size_t(info.st_size), pages.data()) == 0)
                for (unsigned char p : pages)
                    resident += (p & 1) ? page : 0;
            ::munmap(map, size_t(info.st_size));
        }
    }
    ::close(fd);
    return resident;
}

/** Every regular file a running process has mapped: the program, its libraries, plug-ins and fonts. */
QStringList mappedFiles(pid_t pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    QSet<QString> files;
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const qsizetype slash = line.indexOf(" /");
            if (slash < 0 || line.endsWith("(deleted)"))
                continue;
            const QString path = QString::fromLocal8Bit(line.mid(slash + 1));
            if (!path.startsWith(QStringLiteral("/dev/")) && QFileInfo(path).isFile())
                files.insert(path);
        }
    }
    return QStringList(files.begin(), files.end());
}

/**
 * Drops the files from the page cache (posix_fadvise DONTNEED), as after a reboot. Pages that another
 * running process has mapped stay: libc, and whatever the desktop's other programs share with us.
 */
void evict(const QStringList& files)
{
    for (const QString& path : files) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

long long residentBytes(const QStringList& files)
{
    long long total = 0;
    for (const QString& path : files)
        total += residentBytes(path);
    return total;
}

// ---- X ----

/** Closes the program's visible top-level windows as their title bar's close button would. */
int closeWindowsOf(pid_t pid)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    const Atom cardinal = XInternAtom(display, "CARDINAL", False);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Window root = XDefaultRootWindow(display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    int closed = 0;
    if (pidAtom != 0 && XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
                continue;
            Atom type = 0;
            int format = 0;
            unsigned long items = 0;
            unsigned long after = 0;
            unsigned char* value = nullptr;
            const bool ours = XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, cardinal, &type, &format,
                                                 &items, &after, &value) == Success &&
                              value && items == 1 && format == 32 && *reinterpret_cast<long*>(value) == pid;
            if (value)
                XFree(value);
            if (!ours)
                continue;
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = children[i];
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = long(deleteWindow);
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display, children[i], False, NoEventMask, &event);
            ++closed;
        }
        if (children)
            XFree(children);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return closed;
}

QString mb(long long kb)
{
    return QString::number(double(kb) / 1024, 'f', 1) + QStringLiteral(" MB");
}

// ---- the measurements ----

bool measureStartup(const Options& options)
{
    QTemporaryDir data;
    writeData(data.path(), everydayAlarms());
    Program program(options.exe, data.path());
    QStringList files;
    const auto once = [&]() -> std::optional<double> {
        program.Start();
        const std::optional<QString> line = program.WaitForLog(QStringLiteral("Tray icon shown"), 30s);
        const std::optional<WallClock::time_point> shown = line ? logLineTime(*line) : std::nullopt;
        if (files.isEmpty())
            files = mappedFiles(program.Pid());
        program.Stop();
        if (!shown)
            return std::nullopt;
        return MsBetween(program.Started(), *shown);
    };
    if (!once()) { // also lists the files a cold start has to read
        say(QStringLiteral("start-up: the program did not show its tray icon"));
        return false;
    }
    files.append(options.exe);
    for (const char* folder : {"Langs", "Sounds"}) {
        const QDir dir(QFileInfo(options.exe).dir().filePath(QLatin1String(folder)));
        for (const QString& name : dir.entryList(QDir::Files))
            files.append(dir.filePath(name));
    }
    files.removeDuplicates();
    std::vector<double> warm, cold;
    long long before = 0;
    long long after = 0;
    for (int run = 0; run < options.runs; ++run) {
        progress(QStringLiteral("start-up %1/%2").arg(run + 1).arg(options.runs));
        before += residentBytes(files);
        evict(files);
        after += residentBytes(files);
        if (const auto ms = once())
            cold.push_back(*ms);
        if (const auto ms = once())
            warm.push_back(*ms);
    }
    if (warm.empty() || cold.empty())
        return false;
    say(QStringLiteral("start-up, %1 runs each: warm median %2 ms (min %3, max %4); cold median %5 ms (min %6, max %7)")
            .arg(options.runs)
            .arg(Median(warm), 0, 'f', 0)
            .arg(Percentile(warm, 0), 0, 'f', 0)
            .arg(Max(warm), 0, 'f', 0)
            .arg(Median(cold), 0, 'f', 0)
            .arg(Percentile(cold, 0), 0, 'f', 0)
            .arg(Max(cold), 0, 'f', 0));
    say(QStringLiteral("  cold: %1 files the program maps evicted before each run; %2 MB of %3 MB left the page cache "
                       "(the rest is mapped by other processes)")
            .arg(files.size())
            .arg(double(before - after) / options.runs / 1048576, 0, 'f', 1)
            .arg(double(before) / options.runs / 1048576, 0, 'f', 1));
    PrintResult(
        QStringLiteral("start-up: process start -> tray icon shown (log), warm, median of %1").arg(options.runs),
        QStringLiteral("%1 ms").arg(Median(warm), 0, 'f', 0), QStringLiteral("<= 300 ms"), Median(warm) <= 300);
    PrintInfo(QStringLiteral("start-up: the same, cold (its files evicted from the page cache), median of %1")
                  .arg(options.runs),
              QStringLiteral("%1 ms").arg(Median(cold), 0, 'f', 0));
    return true;
}

bool measureIdleAndRinging(const Options& options, const QString& tone)
{
    const auto settle = 10s;
    const auto wakeWindow = 60s;
    const std::chrono::seconds cpuWindow = options.quick ? 60s : 300s;
    const auto afterRinging = options.quick ? 20s : 60s;
    // The alarm rings at the first whole minute after the idle windows, with a margin for the wake
    // timer, which stands ten seconds before it.
    const auto margin = 15s;
    const auto alarmAt = std::chrono::ceil<std::chrono::minutes>(
        WallClock::now() + 5s + settle + std::max<std::chrono::seconds>(wakeWindow, cpuWindow) + margin);
    const QDateTime alarmLocal = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(alarmAt.time_since_epoch()).count());
    AlarmRecord alarm;
    alarm.Time = QTime(alarmLocal.time().hour(), alarmLocal.time().minute());
    alarm.Label = QStringLiteral("Benchmark");
    alarm.Sound = tone;
    alarm.Volume = 90;
    alarm.MonitorOn = true;

    QTemporaryDir data;
    QStringList alarms = everydayAlarms();
    alarms.append(BuildAlarmString(alarm));
    writeData(data.path(), alarms);
    SinkTap tap;
    if (!tap.Start("alarmtest.monitor")) {
        say(QStringLiteral("parec could not be started"));
        return false;
    }
    Program program(options.exe, data.path());
    program.Start();
    if (!program.WaitForLog(QStringLiteral("Tray icon shown"), 30s)) {
        say(QStringLiteral("idle: the program did not show its tray icon"));
        return false;
    }
    const pid_t pid = program.Pid();
    std::this_thread::sleep_for(settle);

    progress(QStringLiteral("idle in the tray until %1 (alarm at %2)")
                 .arg(QDateTime::fromMSecsSinceEpoch(
                          std::chrono::duration_cast<std::chrono::milliseconds>((alarmAt - margin).time_since_epoch())
                              .count())
                          .time()
                          .toString(),
                      alarmLocal.time().toString()));
    const ProcessSample start = SampleProcess(pid);
    const auto startTime = WallClock::now();
    std::this_thread::sleep_until(startTime + wakeWindow);
    const ProcessSample minute = SampleProcess(pid);
    const double minuteS = MsBetween(startTime, WallClock::now()) / 1000;
    std::this_thread::sleep_until(alarmAt - margin);
    const ProcessSample idleEnd = SampleProcess(pid);
    const double idleS = MsBetween(startTime, WallClock::now()) / 1000;
    if (!start.valid || !idleEnd.valid) {
        say(QStringLiteral("idle: the program ended"));
        return false;
    }

    const long long wakeups = minute.SwitchesSince(start);
    const double perMinute = double(wakeups) * 60 / minuteS;
    say(QStringLiteral("idle %1 s: %2 context switches (%3)")
            .arg(minuteS, 0, 'f', 1)
            .arg(wakeups)
            .arg(minute.SwitchesByNameSince(start)));
    say(QStringLiteral("idle %1 s: %2 context switches (%3)")
            .arg(idleS, 0, 'f', 1)
            .arg(idleEnd.SwitchesSince(start))
            .arg(idleEnd.SwitchesByNameSince(start)));
    const double cpuTicksS = double(idleEnd.cpuTicks - start.cpuTicks) / double(ClockTicksPerSecond());
    const double cpuNsS = double(idleEnd.cpuNs - start.cpuNs) / 1e9;
    say(QStringLiteral("idle %1 s: CPU %2 s by utime+stime (resolution %3 s), %4 s by schedstat")
            .arg(idleS, 0, 'f', 1)
            .arg(cpuTicksS, 0, 'f', 3)
            .arg(1.0 / double(ClockTicksPerSecond()), 0, 'f', 3)
            .arg(cpuNsS, 0, 'f', 6));
    say(QStringLiteral("idle RSS %1 (anonymous %2, file-backed %3)")
            .arg(mb(idleEnd.rssKb), mb(idleEnd.rssAnonKb), mb(idleEnd.rssFileKb)));
    PrintResult(QStringLiteral("idle wake-ups: context switches, all threads, hidden in the tray, no clock shown"),
                QStringLiteral("%1 in %2 s").arg(wakeups).arg(minuteS, 0, 'f', 0), QStringLiteral("<= 5 per minute"),
                perMinute <= 5);
    // Start-up leaves a few one-off switches in the first minute (a thread pool's idle threads end, the
    // pixmap cache drops what start-up rendered); after that a tray clock has no reason to wake at all.
    const long long steadyWakeups = idleEnd.SwitchesSince(minute);
    const double steadyS = idleS - minuteS;
    PrintResult(QStringLiteral("idle wake-ups after the first minute: context switches, all threads, over %1 s")
                    .arg(steadyS, 0, 'f', 0),
                QStringLiteral("%1 (%2)").arg(steadyWakeups).arg(idleEnd.SwitchesByNameSince(minute)),
                QStringLiteral("0"), steadyWakeups == 0);
    const double cpuPercent = 100 * cpuTicksS / idleS;
    PrintResult(QStringLiteral("idle CPU: utime+stime over %1 s hidden in the tray%2")
                    .arg(idleS, 0, 'f', 0)
                    .arg(options.quick ? QStringLiteral(" (--quick: shortened from 300 s)") : QString()),
                QStringLiteral("%1 % (%2 s; schedstat %3 %)")
                    .arg(cpuPercent, 0, 'f', 4)
                    .arg(cpuTicksS, 0, 'f', 2)
                    .arg(100 * cpuNsS / idleS, 0, 'f', 5),
                QStringLiteral("<= 0.01 %"), cpuPercent <= 0.01);
    PrintResult(QStringLiteral("memory: RSS hidden in the tray"), mb(idleEnd.rssKb), QStringLiteral("<= 30 MB"),
                idleEnd.rssKb <= 30 * 1024);

    // The alarm rings.
    tap.Arm(alarmAt);
    const std::optional<QString> fired = program.WaitForLog(QStringLiteral("Alarm fired"), margin + 15s);
    if (!fired) {
        say(QStringLiteral("the alarm did not fire; the program's log:\n") + program.Log());
        return false;
    }
    std::this_thread::sleep_until(alarmAt + 3s);
    const std::optional<WallClock::time_point> heard = tap.FirstLoud();
    static const QRegularExpression late(QStringLiteral("late by (-?\\d+) ms"));
    const QString lateMs = late.match(*fired).captured(1);
    say(QStringLiteral("one real alarm: %1; first loud sample at the sink %2")
            .arg(fired->section(QStringLiteral(" : "), 1),
                 heard ? QStringLiteral("%1 ms after the due second").arg(MsBetween(alarmAt, *heard), 0, 'f', 0)
                       : QStringLiteral("never")));
    ProcessSample peak = SampleProcess(pid);
    const ProcessSample ringStart = peak;
    const auto ringFrom = WallClock::now();
    while (WallClock::now() < ringFrom + 5s) {
        std::this_thread::sleep_for(200ms);
        const ProcessSample now = SampleProcess(pid);
        if (now.rssKb > peak.rssKb)
            peak = now;
    }
    const ProcessSample ringEnd = SampleProcess(pid);
    const double ringS = MsBetween(ringFrom, WallClock::now()) / 1000;
    say(QStringLiteral("ringing %1 s: RSS up to %2 (anonymous %3, file-backed %4); CPU %5 %; %6 context switches "
                       "(%7)")
            .arg(ringS, 0, 'f', 1)
            .arg(mb(peak.rssKb), mb(peak.rssAnonKb), mb(peak.rssFileKb))
            .arg(100 * double(ringEnd.cpuNs - ringStart.cpuNs) / 1e9 / ringS, 0, 'f', 2)
            .arg(ringEnd.SwitchesSince(ringStart))
            .arg(ringEnd.SwitchesByNameSince(ringStart)));
    PrintResult(QStringLiteral("memory: RSS while ringing (window shown, sound playing)"), mb(peak.rssKb),
                QStringLiteral("<= 50 MB"), peak.rssKb <= 50 * 1024);
    PrintInfo(QStringLiteral("real program, one alarm at a minute boundary: handler (log) / first loud sample"),
              QStringLiteral("%1 ms / %2")
                  .arg(lateMs, heard ? QStringLiteral("%1 ms").arg(MsBetween(alarmAt, *heard), 0, 'f', 0)
                                     : QStringLiteral("none")));

    // Closed as its window's close button would; then nothing may tick any more.
    if (closeWindowsOf(pid) == 0)
        say(QStringLiteral("no window of the program to close"));
    if (!tap.WaitQuiet(500ms, 5s))
        say(QStringLiteral("the sound went on after the window was closed"));
    std::this_thread::sleep_for(2s);
    const ProcessSample quietStart = SampleProcess(pid);
    const auto quietFrom = WallClock::now();
    std::this_thread::sleep_for(afterRinging);
    const ProcessSample quietEnd = SampleProcess(pid);
    const double quietS = MsBetween(quietFrom, WallClock::now()) / 1000;
    const long long quietSwitches = quietEnd.SwitchesSince(quietStart);
    say(QStringLiteral("after the alarm was closed, %1 s: %2 context switches (%3)")
            .arg(quietS, 0, 'f', 1)
            .arg(quietSwitches)
            .arg(quietEnd.SwitchesByNameSince(quietStart)));
    PrintResult(QStringLiteral("idle wake-ups after an alarm was closed (blinking and sound watch stopped)"),
                QStringLiteral("%1 in %2 s").arg(quietSwitches).arg(quietS, 0, 'f', 0),
                QStringLiteral("<= 5 per minute"), double(quietSwitches) * 60 / quietS <= 5);
    program.Stop();
    return true;
}

// Hidden in the tray, the tray hint counts the time left to the next alarm in ten-minute steps, and the
// program wakes once per step to change it. The next alarm is put a little more than twenty minutes
// ahead, so that exactly one step falls inside the window: its wake-up is all the window may hold.
bool measureTimeLeftStep(const Options& options)
{
    const auto settle = 10s;
    const auto window = 120s;
    const auto start = WallClock::now() + 5s + settle;
    const auto alarmAt = std::chrono::ceil<std::chrono::minutes>(start + 20min + 20s);
    const QDateTime alarmLocal = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(alarmAt.time_since_epoch()).count());
    AlarmRecord alarm;
    alarm.Time = QTime(alarmLocal.time().hour(), alarmLocal.time().minute());
    alarm.Label = QStringLiteral("Benchmark");
    alarm.Sound = QStringLiteral("Birds");
    QTemporaryDir data;
    writeData(data.path(), {BuildAlarmString(alarm)});
    Program program(options.exe, data.path());
    program.Start();
    if (!program.WaitForLog(QStringLiteral("Tray icon shown"), 30s)) {
        say(QStringLiteral("time left: the program did not show its tray icon"));
        return false;
    }
    const std::optional<QString> hint = program.WaitForLog(QStringLiteral("Tray hint: "), 5s);
    std::this_thread::sleep_until(start);
    const ProcessSample before = SampleProcess(program.Pid());
    const auto stepAt = alarmAt - 20min;
    progress(QStringLiteral("idle in the tray for %1 s, the hint's step at %2 s")
                 .arg(std::chrono::duration_cast<std::chrono::seconds>(window).count())
                 .arg(MsBetween(WallClock::now(), stepAt) / 1000, 0, 'f', 0));
    const auto windowStart = WallClock::now();
    std::this_thread::sleep_until(windowStart + window);
    const ProcessSample after = SampleProcess(program.Pid());
    const double windowS = MsBetween(windowStart, WallClock::now()) / 1000;
    if (!before.valid || !after.valid) {
        say(QStringLiteral("time left: the program ended"));
        return false;
    }
    const long long switches = after.SwitchesSince(before);
    const pid_t mainThread = program.Pid();
    const auto mainSwitches = [mainThread](const ProcessSample& sample) {
        const auto it = sample.switchesByThread.find(mainThread);
        return it == sample.switchesByThread.end() ? 0LL : it->second;
    };
    const long long mainThreadSwitches = mainSwitches(after) - mainSwitches(before);
    const bool stepInside = stepAt > windowStart && stepAt < windowStart + window;
    say(QStringLiteral("time left: first hint \"%1\"; %2 context switches over %3 s (%4)")
            .arg(hint.value_or(QString()))
            .arg(switches)
            .arg(windowS, 0, 'f', 0)
            .arg(after.SwitchesByNameSince(before)));
    // The step's refresh is one wake-up of the main thread, which the event loop's poll, counting in whole
    // milliseconds, may split into two switches; no other thread has anything to do with it. On a busy
    // machine the kernel can also take the CPU from the refresh while it runs (a preemption, counted as
    // an involuntary switch): that depends on the other load, not on the program, so the target is
    // judged on the wake-ups alone and the preemptions are shown beside them.
    const long long preemptions = after.preemptions - before.preemptions;
    const long long wakeUps = switches - preemptions;
    PrintResult(QStringLiteral("idle wake-ups across one ten-minute step of the tray hint's time left (next alarm 20 "
                               "min away), over %1 s")
                    .arg(windowS, 0, 'f', 0),
                QStringLiteral("%1 wake-ups and %2 preemptions, %3 of these switches the main thread's")
                    .arg(wakeUps)
                    .arg(preemptions)
                    .arg(mainThreadSwitches),
                QStringLiteral("one refresh per 10 minutes: <= 2 wake-ups, all the main thread's"),
                stepInside && wakeUps <= 2 && switches == mainThreadSwitches);
    program.Stop();
    return true;
}

// The same reading for a bare tray icon on the same desktop: what the toolkit alone costs, so the
// program's RSS target can be judged against the floor no Qt tray program goes below.
bool measureTrayFloor()
{
    QProcess floor;
    floor.setStandardOutputFile(QProcess::nullDevice());
    floor.setStandardErrorFile(QProcess::nullDevice());
    floor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_trayfloor"), {});
    if (!floor.waitForStarted(5000)) {
        say(QStringLiteral("tray floor: bench_trayfloor did not start"));
        return false;
    }
    // As long as the program is given to settle after showing its icon, and the icon's own start-up.
    std::this_thread::sleep_for(15s);
    const ProcessSample sample = SampleProcess(pid_t(floor.processId()));
    floor.kill();
    floor.waitForFinished(5000);
    if (!sample.valid) {
        say(QStringLiteral("tray floor: bench_trayfloor ended early"));
        return false;
    }
    PrintInfo(
        QStringLiteral("memory: RSS of a bare Qt tray icon with a menu on the same desktop (the toolkit's floor)"),
        QStringLiteral("%1 (anonymous %2, file-backed %3)")
            .arg(mb(sample.rssKb), mb(sample.rssAnonKb), mb(sample.rssFileKb)));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QStringLiteral("--quick"))
            options.quick = true;
        else if (arguments.at(i) == QStringLiteral("--time-left-only"))
            options.timeLeftOnly = true;
        else if (arguments.at(i) == QStringLiteral("--runs") && i + 1 < arguments.size())
            options.runs = std::max(1, arguments.at(++i).toInt());
        else
            options.exe = QFileInfo(arguments.at(i)).absoluteFilePath();
    }
    if (options.exe.isEmpty() || !QFileInfo(options.exe).isExecutable()) {
        std::fprintf(stderr, "usage: bench_program PATH_TO_LARKBELL [--quick] [--runs N] [--time-left-only]\n");
        return 2;
    }
    QTemporaryDir files;
    const QString tone = files.filePath(QStringLiteral("tone.wav"));
    if (!MakeTone(tone)) {
        std::fprintf(stderr, "sox could not write a tone\n");
        return 1;
    }
    if (options.timeLeftOnly)
        return measureTimeLeftStep(options) ? 0 : 1;
    const bool started = measureStartup(options);
    const bool idle = measureIdleAndRinging(options, tone);
    const bool timeLeft = measureTimeLeftStep(options);
    const bool floor = measureTrayFloor();
    return started && idle && timeLeft && floor ? 0 : 1;
}

// Two other alarm clocks of the Linux desktop, GNOME Clocks and KAlarm, measured from the outside on the
// same desktop and in the same way as bench_program measures Larkbell: memory (RSS and PSS) and context
// switches while idle with no window shown, start-up to a mapped window, and the first loud sample at
// the sink's monitor for one alarm at a minute boundary. Each figure is printed beside Larkbell's from
// the same run (bench_program's rows, read from scripts/bench's results file) as a ratio.
//
// Each peer runs on a home folder of its own, and the session bus is told about it, so that the
// services it activates (dconf, the PIM server) keep their files there and not in the user's home.
//
// Usage: bench_peers PATH_TO_LARKBELL RESULTS_FILE [--quick]
// Rows for the comparison table go to stdout as tab-separated lines that start with "PEER".
#include "BenchSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/app/AppIni.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <cstdio>

using namespace bench;
using namespace std::chrono_literals;

namespace {

void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

void progress(const QString& text)
{
    std::fprintf(stderr, "  %s\n", qPrintable(text));
}

QString mb(long long kb)
{
    return QString::number(double(kb) / 1024, 'f', 1) + QStringLiteral(" MB");
}

QString clockText(WallClock::time_point at)
{
    return QDateTime::fromMSecsSinceEpoch(
               std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count())
        .time()
        .toString(QStringLiteral("HH:mm:ss"));
}

/** Proportional set size: shared pages count in part, so that libraries many programs map weigh less. */
long long pssKb(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

/** Processes whose environment holds exactly this entry: everything a peer started on its own home. */
std::vector<pid_t> processesWithEnv(const QByteArray& entry)
{
    std::vector<pid_t> found;
    const QStringList all = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : all) {
        bool number = false;
        const pid_t pid = name.toInt(&number);
        if (!number || pid == ::getpid())
            continue;
        QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
        if (file.open(QIODevice::ReadOnly) && file.readAll().split('\0').contains(entry))
            found.push_back(pid);
    }
    return found;
}

QString processName(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/comm").arg(pid));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

bool runTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
             QString* output = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    const bool ok =
        process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()).trimmed();
    return ok;
}

// ---- X ----

struct TopLevel {
    Window id = 0;
    bool viewable = false;
};

/** The root's children of a WM_CLASS, bigger than GTK's 1x1 leader window. */
std::vector<TopLevel> windowsOfClass(Display* display, const QByteArray& wmClass)
{
    std::vector<TopLevel> found;
    Window root = XDefaultRootWindow(display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return found;
    for (unsigned i = 0; i < count; ++i) {
        XClassHint hint{};
        if (!XGetClassHint(display, children[i], &hint))
            continue;
        const bool match = (hint.res_class && wmClass == hint.res_class) || (hint.res_name && wmClass == hint.res_name);
        if (hint.res_name)
            XFree(hint.res_name);
        if (hint.res_class)
            XFree(hint.res_class);
        XWindowAttributes attributes{};
        if (!match || !XGetWindowAttributes(display, children[i], &attributes) || attributes.width <= 1)
            continue;
        found.push_back({children[i], attributes.map_state == IsViewable});
    }
    if (children)
        XFree(children);
    return found;
}

/** Polls every 2 ms for a viewable top-level window of the class; the instant it was first seen. */
std::optional<WallClock::time_point> waitMapped(const QByteArray& wmClass, std::chrono::milliseconds timeout)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return std::nullopt;
    std::optional<WallClock::time_point> seen;
    const auto deadline = WallClock::now() + timeout;
    while (!seen && WallClock::now() < deadline) {
        for (const TopLevel& window : windowsOfClass(display, wmClass))
            if (window.viewable)
                seen = WallClock::now();
        if (!seen)
            std::this_thread::sleep_for(2ms);
    }
    XCloseDisplay(display);
    return seen;
}

/** Closes the class's visible windows as their title bar's close button would (WM_DELETE_WINDOW). */
int closeWindows(const QByteArray& wmClass)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    int closed = 0;
    for (const TopLevel& window : windowsOfClass(display, wmClass)) {
        if (!window.viewable)
            continue;
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window.id;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(deleteWindow);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window.id, False, NoEventMask, &event);
        ++closed;
    }
    XSync(display, False);
    XCloseDisplay(display);
    return closed;
}

bool anyViewable(const QByteArray& wmClass)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    bool viewable = false;
    for (const TopLevel& window : windowsOfClass(display, wmClass))
        viewable = viewable || window.viewable;
    XCloseDisplay(display);
    return viewable;
}

// ---- one program on a home of its own ----

class Peer final
{
public:
    Peer(QString name, QString exe, QByteArray wmClass)
        : m_name(std::move(name))
        , m_exe(std::move(exe))
        , m_wmClass(std::move(wmClass))
    {
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        const QString home = m_home.path();
        m_env.insert(QStringLiteral("HOME"), home);
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        m_env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        m_env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
        for (const char* dir : {"/.config", "/.local/share", "/.cache", "/.local/state"})
            QDir().mkpath(home + QLatin1String(dir));
    }
    ~Peer() { EndAll(); }

    const QString& Name() const { return m_name; }
    QString Home() const { return m_home.path(); }
    const QByteArray& WmClass() const { return m_wmClass; }
    const QProcessEnvironment& Env() const { return m_env; }

    /**
     * Services the bus starts from now on see this home, and the display and sound server, which scripts/bench
     * sets up after the bus; the next peer sets its own home.
     */
    bool AdoptBusEnvironment() const
    {
        QStringList assignments;
        for (const char* key : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                                "DISPLAY", "XDG_RUNTIME_DIR"})
            if (m_env.contains(QLatin1String(key)))
                assignments.append(QLatin1String(key) + u'=' + m_env.value(QLatin1String(key)));
        return runTool(QStringLiteral("dbus-update-activation-environment"), assignments, m_env);
    }

    void Start(const QStringList& arguments)
    {
        Stop();
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(m_env);
        m_process->setWorkingDirectory(Home());
        m_process->setStandardOutputFile(Home() + QStringLiteral("/stdout.txt"), QIODevice::Append);
        m_process->setStandardErrorFile(Home() + QStringLiteral("/stderr.txt"), QIODevice::Append);
        m_process->setStandardInputFile(QProcess::nullDevice());
        m_started = WallClock::now();
        m_process->start(m_exe, arguments);
        m_process->waitForStarted(10000);
    }

    /** Ends the program as the session does (SIGTERM). */
    void Stop()
    {
        if (m_process)
            Terminate(*m_process);
    }

    /** The program and every helper that was started on its home (the bus's services included). */
    void EndAll()
    {
        Stop();
        for (int round = 0; round < 2; ++round) {
            const std::vector<pid_t> left = Helpers();
            for (pid_t pid : left)
                ::kill(pid, round == 0 ? SIGTERM : SIGKILL);
            const auto deadline = WallClock::now() + 5s;
            while (!Helpers().empty() && WallClock::now() < deadline)
                std::this_thread::sleep_for(50ms);
        }
    }

    std::vector<pid_t> Helpers() const
    {
        std::vector<pid_t> helpers = processesWithEnv(("HOME=" + Home()).toLocal8Bit());
        std::erase(helpers, Pid());
        return helpers;
    }

    pid_t Pid() const { return m_process ? pid_t(m_process->processId()) : -1; }
    /** Waits up to wait for the program to end; without an event loop this is also how its end is noticed. */
    bool Ended(std::chrono::milliseconds wait = 0ms)
    {
        return !m_process || m_process->state() == QProcess::NotRunning ||
               m_process->waitForFinished(int(wait.count()));
    }
    WallClock::time_point Started() const { return m_started; }

    QString ErrorTail() const
    {
        QFile file(Home() + QStringLiteral("/stderr.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        const QStringList lines = QString::fromUtf8(file.readAll()).trimmed().split(u'\n');
        return lines.mid(std::max<qsizetype>(0, lines.size() - 8)).join(u'\n');
    }

private:
    QString m_name;
    QString m_exe;
    QByteArray m_wmClass;
    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    std::unique_ptr<QProcess> m_process;
    WallClock::time_point m_started;
};

// ---- what every peer is measured for ----

struct Figures {
    std::optional<double> rssMb;
    std::optional<double> pssMb;
    std::optional<double> wakeupsPerMinute;
    std::optional<double> startupMs;
    std::optional<double> soundMs;
    QString process; // which process the memory and wake-up figures are of
    QString note;    // why a figure is missing
};

struct Options {
    QString larkbell;
    QString results;
    bool quick = false;
    int runs = 5;
    std::chrono::seconds settle = 10s;
    std::chrono::seconds idleWindow = 300s;
};

/** Start-ups to the first mapped window, the program ended between them; the median. */
std::optional<double> measureStartup(Peer& peer, const QStringList& arguments, const Options& options)
{
    std::vector<double> times;
    for (int run = 0; run < options.runs; ++run) {
        progress(QStringLiteral("%1 start-up %2/%3").arg(peer.Name()).arg(run + 1).arg(options.runs));
        peer.Start(arguments);
        const std::optional<WallClock::time_point> mapped = waitMapped(peer.WmClass(), 30s);
        if (mapped)
            times.push_back(MsBetween(peer.Started(), *mapped));
        else
            say(QStringLiteral("%1: no window mapped within 30 s; its errors:\n%2").arg(peer.Name(), peer.ErrorTail()));
        peer.Stop();
    }
    if (times.empty())
        return std::nullopt;
    say(QStringLiteral("%1 start-up to a mapped window, %2 runs: median %3 ms (min %4, max %5)")
            .arg(peer.Name())
            .arg(times.size())
            .arg(Median(times), 0, 'f', 0)
            .arg(Percentile(times, 0), 0, 'f', 0)
            .arg(Max(times), 0, 'f', 0));
    return Median(times);
}

/**
 * The peer is running with no window shown and an alarm due at alarmAt: settles, measures the idle
 * window, then listens for the alarm. Helpers are the other processes on its home, reported beside it.
 */
void measureIdleAndAlarm(Peer& peer, WallClock::time_point alarmAt, const Options& options, SinkTap& tap,
                         Figures& figures)
{
    const pid_t pid = peer.Pid();
    std::this_thread::sleep_for(options.settle);
    progress(QStringLiteral("%1 idle for %2 s, alarm at %3")
                 .arg(peer.Name())
                 .arg(options.idleWindow.count())
                 .arg(clockText(alarmAt)));
    const std::vector<pid_t> helpers = peer.Helpers();
    std::map<pid_t, ProcessSample> helpersBefore;
    for (pid_t helper : helpers)
        helpersBefore[helper] = SampleProcess(helper);
    const ProcessSample start = SampleProcess(pid);
    const auto from = WallClock::now();
    // A slow start must not make the window run into the alarm: then it is cut short, and says so.
    std::this_thread::sleep_until(std::min(from + options.idleWindow, alarmAt - 5s));
    const ProcessSample end = SampleProcess(pid);
    const double seconds = MsBetween(from, WallClock::now()) / 1000;
    if (!start.valid || !end.valid || peer.Ended()) {
        figures.note = QStringLiteral("ended while idle");
        say(QStringLiteral("%1 ended while idle; its errors:\n%2").arg(peer.Name(), peer.ErrorTail()));
        return;
    }
    const long long switches = end.SwitchesSince(start);
    const long long pss = pssKb(pid);
    figures.wakeupsPerMinute = double(switches) * 60 / seconds;
    figures.rssMb = double(end.rssKb) / 1024;
    figures.pssMb = double(pss) / 1024;
    say(QStringLiteral("%1 (pid %2) idle %3 s: %4 context switches (%5); CPU %6 s by schedstat; RSS %7 "
                       "(anonymous %8, file-backed %9), PSS %10")
            .arg(peer.Name())
            .arg(pid)
            .arg(seconds, 0, 'f', 1)
            .arg(switches)
            .arg(end.SwitchesByNameSince(start))
            .arg(double(end.cpuNs - start.cpuNs) / 1e9, 0, 'f', 4)
            .arg(mb(end.rssKb), mb(end.rssAnonKb), mb(end.rssFileKb), mb(pss)));
    long long helperSwitches = 0;
    long long helperRss = 0;
    long long helperPss = 0;
    for (pid_t helper : helpers) {
        const ProcessSample after = SampleProcess(helper);
        if (!after.valid)
            continue;
        const long long s = after.SwitchesSince(helpersBefore[helper]);
        const long long p = pssKb(helper);
        helperSwitches += s;
        helperRss += after.rssKb;
        helperPss += p;
        say(QStringLiteral("  helper on its home: %1 (pid %2): %3 context switches, RSS %4, PSS %5")
                .arg(processName(helper))
                .arg(helper)
                .arg(s)
                .arg(mb(after.rssKb), mb(p)));
    }
    if (!helpers.empty())
        std::printf("PEERNOTE\t%s: processes it started on its home besides itself: %zu; idle together they add %.1f "
                    "context switches per minute, RSS %s, PSS %s\n",
                    qPrintable(peer.Name()), helpers.size(), double(helperSwitches) * 60 / seconds,
                    qPrintable(mb(helperRss)), qPrintable(mb(helperPss)));

    tap.Arm(alarmAt);
    std::this_thread::sleep_until(alarmAt + 15s);
    if (const std::optional<WallClock::time_point> heard = tap.FirstLoud()) {
        figures.soundMs = MsBetween(alarmAt, *heard);
        say(QStringLiteral("%1: first loud sample at the sink %2 ms after the due second %3")
                .arg(peer.Name())
                .arg(*figures.soundMs, 0, 'f', 0)
                .arg(clockText(alarmAt)));
    } else {
        figures.note = QStringLiteral("no sound within 15 s of the due second");
        say(QStringLiteral("%1: nothing loud at the sink within 15 s of %2; its errors:\n%3")
                .arg(peer.Name(), clockText(alarmAt), peer.ErrorTail()));
    }
    peer.EndAll();
    if (!tap.WaitQuiet(500ms, 10s))
        say(QStringLiteral("%1: the sound went on after the program ended").arg(peer.Name()));
}

/** A minute boundary far enough ahead for start-up (GNOME Clocks' service try too), settling, the idle window. */
WallClock::time_point nextAlarm(const Options& options)
{
    return std::chrono::ceil<std::chrono::minutes>(WallClock::now() + 40s + options.settle + options.idleWindow + 15s);
}

QString localMinute(WallClock::time_point at, const QString& format)
{
    return QDateTime::fromMSecsSinceEpoch(
               std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count())
        .toString(format);
}

// GNOME Clocks keeps its alarms in GSettings; it stays running with its window closed while it has any.
Figures measureClocks(const Options& options, SinkTap& tap)
{
    Figures figures;
    figures.process = QStringLiteral("gnome-clocks, its window closed");
    Peer peer(QStringLiteral("GNOME Clocks"), QStringLiteral("gnome-clocks"), "org.gnome.clocks");
    if (QStandardPaths::findExecutable(QStringLiteral("gnome-clocks")).isEmpty()) {
        figures.note = QStringLiteral("not installed");
        return figures;
    }
    if (!peer.AdoptBusEnvironment()) {
        figures.note = QStringLiteral("the session bus did not take its home");
        return figures;
    }
    figures.startupMs = measureStartup(peer, {}, options);

    const WallClock::time_point alarmAt = nextAlarm(options);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(alarmAt.time_since_epoch()).count());
    const QString alarms =
        QStringLiteral("[{'name': <'Benchmark'>, 'id': <'6c61726b62656c6c62656e6368000001'>, 'active': <true>, "
                       "'hour': <%1>, 'minute': <%2>, 'days': <@ai []>, 'snooze_minutes': <10>, "
                       "'ring_minutes': <5>}]")
            .arg(local.time().hour())
            .arg(local.time().minute());
    QString output;
    if (!runTool(QStringLiteral("gsettings"),
                 {QStringLiteral("set"), QStringLiteral("org.gnome.clocks"), QStringLiteral("alarms"), alarms},
                 peer.Env(), &output)) {
        figures.note = QStringLiteral("gsettings could not set the alarm: ") + output;
        say(figures.note);
        return figures;
    }
    runTool(QStringLiteral("gsettings"),
            {QStringLiteral("get"), QStringLiteral("org.gnome.clocks"), QStringLiteral("alarms")}, peer.Env(), &output);
    say(QStringLiteral("GNOME Clocks alarms as read back: ") + output);

    // The bus starts it as a service without a window; whether that is what keeps the alarms decides
    // which process is measured.
    peer.Start({QStringLiteral("--gapplication-service")});
    const auto serviceUntil = WallClock::now() + 30s;
    bool serviceEnded = false;
    while (!serviceEnded && WallClock::now() < serviceUntil)
        serviceEnded = peer.Ended(100ms);
    say(!serviceEnded ? QStringLiteral("gnome-clocks --gapplication-service still runs after 30 s with an alarm set")
                      : QStringLiteral("gnome-clocks --gapplication-service ended by itself after %1 s with an "
                                       "alarm set, so it cannot ring it; the program as started from its "
                                       "launcher, its window then closed, is what keeps the alarms")
                            .arg(MsBetween(peer.Started(), WallClock::now()) / 1000, 0, 'f', 1));
    peer.Stop();

    peer.Start({});
    if (!waitMapped(peer.WmClass(), 30s)) {
        figures.note = QStringLiteral("no window");
        return figures;
    }
    std::this_thread::sleep_for(1s);
    closeWindows(peer.WmClass());
    const auto deadline = WallClock::now() + 5s;
    while (anyViewable(peer.WmClass()) && WallClock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    if (peer.Ended(1s)) {
        figures.note = QStringLiteral("ended when its window was closed");
        say(QStringLiteral("GNOME Clocks ended when its window was closed"));
        return figures;
    }
    say(QStringLiteral("GNOME Clocks runs on with its window closed (pid %1)").arg(peer.Pid()));
    measureIdleAndAlarm(peer, alarmAt, options, tap, figures);
    return figures;
}

bool waitBusName(const QString& name, const QProcessEnvironment& env, std::chrono::milliseconds timeout)
{
    const auto deadline = WallClock::now() + timeout;
    while (WallClock::now() < deadline) {
        if (runTool(QStringLiteral("dbus-send"),
                    {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=") + name,
                     QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.Peer.Ping")},
                    env))
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

/**
 * KAlarm keeps its alarms in a calendar file named in its resources file. On a new home it makes none
 * until one is added and chosen as the default in its window; these two files are what that leaves.
 */
void writeKAlarmCalendar(const Peer& peer)
{
    const QString calendar = peer.Home() + QStringLiteral("/.local/share/kalarm/calendar.ics");
    QDir().mkpath(QFileInfo(calendar).path());
    QFile ics(calendar);
    if (ics.open(QIODevice::WriteOnly))
        ics.write("BEGIN:VCALENDAR\nPRODID:-//Larkbell//benchmark//EN\nVERSION:2.0\nEND:VCALENDAR\n");
    QFile resources(peer.Home() + QStringLiteral("/.config/kalarmresources"));
    if (resources.open(QIODevice::WriteOnly))
        resources.write("[General]\nLastId=1\n\n[Resource_1]\nAlarmTypes=Active\nEnabled=Active\nId=1\n"
                        "KeepFormat=true\nName=Active\nPath=" +
                        calendar.toUtf8() + "\nReadOnly=false\nStandard=Active\nType=File\nUpdateFormat=false\n");
}

Figures measureKAlarm(const Options& options, SinkTap& tap, const QString& tone)
{
    Figures figures;
    figures.process = QStringLiteral("kalarm --tray, hidden in the tray");
    Peer peer(QStringLiteral("KAlarm"), QStringLiteral("kalarm"), "kalarm");
    if (QStandardPaths::findExecutable(QStringLiteral("kalarm")).isEmpty()) {
        figures.note = QStringLiteral("not installed");
        return figures;
    }
    if (!peer.AdoptBusEnvironment()) {
        figures.note = QStringLiteral("the session bus did not take its home");
        return figures;
    }
    writeKAlarmCalendar(peer);
    // The first start also brings up the PIM server it depends on; those start-ups are counted with the
    // rest, the server stays up between them as it would in a session.
    figures.startupMs = measureStartup(peer, {}, options);

    const WallClock::time_point alarmAt = nextAlarm(options);
    peer.Start({QStringLiteral("--tray")});
    if (!waitBusName(QStringLiteral("org.kde.kalarm"), peer.Env(), 30s)) {
        figures.note = QStringLiteral("did not come up on the session bus");
        say(QStringLiteral("KAlarm did not come up on the session bus; its errors:\n") + peer.ErrorTail());
        return figures;
    }
    QString output;
    // A message alarm with the tone, as an alarm clock rings: due at the minute, no late-cancel, no
    // flags, default colours and font, no reminder, no recurrence.
    const bool scheduled = runTool(
        QStringLiteral("dbus-send"),
        {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=org.kde.kalarm"),
         QStringLiteral("/kalarm"), QStringLiteral("org.kde.kalarm.kalarm.scheduleMessage"),
         QStringLiteral("string:Benchmark"),
         QStringLiteral("string:") + localMinute(alarmAt, QStringLiteral("yyyy-MM-ddTHH:mm")),
         QStringLiteral("int32:0"), QStringLiteral("uint32:0"), QStringLiteral("string:"), QStringLiteral("string:"),
         QStringLiteral("string:"), QStringLiteral("string:") + tone, QStringLiteral("int32:0"),
         QStringLiteral("string:"), QStringLiteral("int32:0"), QStringLiteral("int32:0")},
        peer.Env(), &output);
    if (!scheduled || !output.contains(QStringLiteral("true"))) {
        figures.note = QStringLiteral("the alarm could not be scheduled");
        say(QStringLiteral("KAlarm did not take the alarm: ") + output);
        return figures;
    }
    runTool(QStringLiteral("dbus-send"),
            {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=org.kde.kalarm"),
             QStringLiteral("/kalarm"), QStringLiteral("org.kde.kalarm.kalarm.list")},
            peer.Env(), &output);
    say(QStringLiteral("KAlarm alarms as listed: ") + output.simplified());
    if (anyViewable(peer.WmClass()))
        say(QStringLiteral("KAlarm shows a window although it was started to the tray"));
    measureIdleAndAlarm(peer, alarmAt, options, tap, figures);
    return figures;
}

// Larkbell's PSS is not among bench_program's figures: the same idle state, measured here.
std::optional<double> larkbellPss(const Options& options)
{
    QTemporaryDir data;
    {
        TAppIni ini(data.path(), QString());
        ini.SetFileName(data.filePath(QStringLiteral("Data.ini")));
        AlarmRecord alarm;
        alarm.Time = QTime(6, 45);
        alarm.Label = QStringLiteral("Get up");
        alarm.Sound = QStringLiteral("Birds");
        ini.WriteList(Settings::Alarms, {BuildAlarmString(alarm)});
        ini.Write(Settings::FirstStarted, true);
        ini.Write(Settings::ShowFloatingWindow, false);
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LARKBELL_DATA_DIR"), data.path());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(options.larkbell, {QStringLiteral("-debug"), QStringLiteral("-autorun")});
    if (!program.waitForStarted(10000))
        return std::nullopt;
    const auto deadline = WallClock::now() + 30s;
    bool shown = false;
    while (!shown && WallClock::now() < deadline && program.state() == QProcess::Running) {
        QFile log(data.filePath(QStringLiteral("Log.txt")));
        shown = log.open(QIODevice::ReadOnly) && log.readAll().contains("Tray icon shown");
        if (!shown)
            std::this_thread::sleep_for(20ms);
    }
    std::optional<double> pss;
    if (shown) {
        std::this_thread::sleep_for(options.settle);
        const pid_t pid = pid_t(program.processId());
        const ProcessSample sample = SampleProcess(pid);
        pss = double(pssKb(pid)) / 1024;
        say(QStringLiteral("Larkbell (pid %1) hidden in the tray: RSS %2, PSS %3")
                .arg(pid)
                .arg(mb(sample.rssKb), mb(pssKb(pid))));
    }
    program.terminate();
    if (!program.waitForFinished(10000))
        program.kill();
    return pss;
}

/** Larkbell's figures from bench_program's rows in the same run. */
Figures larkbellFigures(const QString& resultsPath)
{
    Figures figures;
    figures.process = QStringLiteral("larkbell, hidden in the tray");
    QFile file(resultsPath);
    if (!file.open(QIODevice::ReadOnly))
        return figures;
    static const QRegularExpression number(QStringLiteral("(-?\\d+(?:\\.\\d+)?)"));
    static const QRegularExpression inSeconds(QStringLiteral("^(\\d+) in (\\d+(?:\\.\\d+)?) s"));
    static const QRegularExpression slash(QStringLiteral("/ (-?\\d+) ms"));
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QStringList cells = line.split(u'\t');
        if (cells.size() < 3 || cells.at(0) != QStringLiteral("RESULT"))
            continue;
        const QString& metric = cells.at(1);
        const QString& figure = cells.at(2);
        if (metric.startsWith(QStringLiteral("memory: RSS hidden in the tray"))) {
            figures.rssMb = number.match(figure).captured(1).toDouble();
        } else if (metric.startsWith(QStringLiteral("idle wake-ups: context switches"))) {
            const QRegularExpressionMatch m = inSeconds.match(figure);
            if (m.hasMatch() && m.captured(2).toDouble() > 0)
                figures.wakeupsPerMinute = m.captured(1).toDouble() * 60 / m.captured(2).toDouble();
        } else if (metric.startsWith(QStringLiteral("start-up: process start -> tray icon shown"))) {
            figures.startupMs = number.match(figure).captured(1).toDouble();
        } else if (metric.startsWith(QStringLiteral("real program, one alarm at a minute boundary"))) {
            const QRegularExpressionMatch m = slash.match(figure);
            if (m.hasMatch())
                figures.soundMs = m.captured(1).toDouble();
        }
    }
    return figures;
}

QString cell(const std::optional<double>& value, int decimals, const QString& unit)
{
    return value ? QString::number(*value, 'f', decimals) + unit : QStringLiteral("-");
}

QString ratio(const std::optional<double>& peer, const std::optional<double>& larkbell)
{
    if (!peer || !larkbell)
        return QStringLiteral("-");
    if (*larkbell <= 0)
        return *peer <= 0 ? QStringLiteral("1") : QStringLiteral("inf");
    const double r = *peer / *larkbell;
    return QString::number(r, 'f', r < 10 ? 2 : r < 100 ? 1 : 0) + u'x';
}

void printRow(const QString& measurement, const std::optional<double> Figures::*field, int decimals,
              const QString& unit, const Figures& larkbell, const Figures& clocks, const Figures& kalarm)
{
    std::printf("PEER\t%s\t%s\t%s\t%s\t%s\t%s\n", qPrintable(measurement),
                qPrintable(cell(larkbell.*field, decimals, unit)), qPrintable(cell(clocks.*field, decimals, unit)),
                qPrintable(ratio(clocks.*field, larkbell.*field)), qPrintable(cell(kalarm.*field, decimals, unit)),
                qPrintable(ratio(kalarm.*field, larkbell.*field)));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString& argument : arguments) {
        if (argument == QStringLiteral("--quick"))
            options.quick = true;
        else if (options.larkbell.isEmpty())
            options.larkbell = QFileInfo(argument).absoluteFilePath();
        else
            options.results = argument;
    }
    if (options.larkbell.isEmpty() || options.results.isEmpty()) {
        std::fprintf(stderr, "usage: bench_peers PATH_TO_LARKBELL RESULTS_FILE [--quick]\n");
        return 2;
    }
    if (options.quick) {
        options.runs = 3;
        options.idleWindow = 60s;
    }
    QTemporaryDir files;
    const QString tone = files.filePath(QStringLiteral("tone.wav"));
    if (!MakeTone(tone)) {
        std::fprintf(stderr, "sox could not write a tone\n");
        return 1;
    }
    SinkTap tap;
    if (!tap.Start("alarmtest.monitor")) {
        std::fprintf(stderr, "parec could not be started\n");
        return 1;
    }

    Figures larkbell = larkbellFigures(options.results);
    larkbell.pssMb = larkbellPss(options);
    const Figures clocks = measureClocks(options, tap);
    const Figures kalarm = measureKAlarm(options, tap, tone);

    for (const Figures* f : {&clocks, &kalarm})
        if (!f->note.isEmpty())
            say(QStringLiteral("note: ") + f->note);
    const QString window = QStringLiteral("%1 s").arg(options.idleWindow.count());
    printRow(QStringLiteral("memory: RSS idle, no window shown"), &Figures::rssMb, 1, QStringLiteral(" MB"), larkbell,
             clocks, kalarm);
    printRow(QStringLiteral("memory: PSS idle, no window shown"), &Figures::pssMb, 1, QStringLiteral(" MB"), larkbell,
             clocks, kalarm);
    printRow(
        QStringLiteral("idle wake-ups: context switches per minute, all threads (Larkbell 60 s, peers %1)").arg(window),
        &Figures::wakeupsPerMinute, 1, QString(), larkbell, clocks, kalarm);
    printRow(QStringLiteral("start-up, warm median (Larkbell: to its tray icon; peers: to a mapped window)"),
             &Figures::startupMs, 0, QStringLiteral(" ms"), larkbell, clocks, kalarm);
    printRow(QStringLiteral("one alarm at a minute boundary: due second -> first loud sample at the sink"),
             &Figures::soundMs, 0, QStringLiteral(" ms"), larkbell, clocks, kalarm);
    std::printf("PEERNOTE\tmeasured processes: Larkbell: %s; GNOME Clocks: %s; KAlarm: %s%s%s\n",
                qPrintable(larkbell.process), qPrintable(clocks.process), qPrintable(kalarm.process),
                clocks.note.isEmpty() ? "" : qPrintable(QStringLiteral("; GNOME Clocks: ") + clocks.note),
                kalarm.note.isEmpty() ? "" : qPrintable(QStringLiteral("; KAlarm: ") + kalarm.note));
    const bool complete = clocks.soundMs && kalarm.soundMs && clocks.rssMb && kalarm.rssMb;
    return complete ? 0 : 1;
}

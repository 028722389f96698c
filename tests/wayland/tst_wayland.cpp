// The real program on a Wayland compositor (weston, headless): its windows, where they are stored, its
// tray icon as a panel sees it on the bus (StatusNotifierItem), a ringing alarm that must not go unseen
// although the compositor decides what comes to the front, and a session with no tray at all.

#include "Desktop.h"
#include "Journey.h"
#include "PulseTestServer.h"
#include "ShiftedClock.h"
#include "WaylandSession.h"
#include "core/app/ProfileDocument.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

constexpr int kWindowTimeoutMs = 15000;
constexpr int kRingLeadMs = 6000; // start-up on a loaded machine, with room to spare
const QRect kScreen(0, 0, 1280, 800);

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/** One run of the program in the session, on a data folder of its own. */
class Run final
{
public:
    Run(WaylandSession& session, QString exe)
        : m_session(session)
        , m_exe(std::move(exe))
        , m_data(QDir(session.Scratch()).filePath(QStringLiteral("data-XXXXXX")))
    {}
    ~Run() { Kill(); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    bool Start(const QList<std::pair<QString, QString>>& settings, const QStringList& alarms, bool autorun,
               std::optional<qint64> clockOffsetMs = std::nullopt)
    {
        ProfileDocument data;
        const QString main = QStringLiteral("Main");
        data.setValue(main, QStringLiteral("FirstStarted"), QStringLiteral("1"));
        data.setValue(main, QStringLiteral("AlarmsListCount"), QString::number(alarms.size()));
        for (qsizetype i = 0; i < alarms.size(); ++i)
            data.setValue(main, QStringLiteral("AlarmsList%1").arg(i), alarms.at(i));
        for (const auto& [key, value] : settings)
            data.setValue(main, key, value);
        QFile file(DataFile());
        if (!m_data.isValid() || !file.open(QIODevice::WriteOnly) || file.write(data.toText().toUtf8()) <= 0)
            return false;
        file.close();
        QProcessEnvironment env = m_session.Environment();
        env.insert(QStringLiteral("LARKBELL_DATA_DIR"), m_data.path());
        if (clockOffsetMs)
            env.insert(QStringLiteral("LARKBELL_TEST_CLOCK_OFFSET_MS"), QString::number(*clockOffsetMs));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        DieWithTest(m_process);
        QStringList arguments{QStringLiteral("-debug")};
        if (autorun)
            arguments.append(QStringLiteral("-autorun"));
        m_process.start(m_exe, arguments);
        return m_process.waitForStarted(10000) &&
               WaitUntil([this] { return Log().contains(QLatin1String("Tray icon shown")) || !Running(); }, 20000) &&
               Running();
    }

    bool Running() const { return m_process.state() == QProcess::Running; }
    qint64 Pid() const { return m_process.processId(); }
    QString DataFile() const { return QDir(m_data.path()).filePath(QStringLiteral("Data.ini")); }
    QString Log() const { return QString::fromUtf8(readFile(QDir(m_data.path()).filePath(QStringLiteral("Log.txt")))); }
    std::optional<QString> Saved(const QString& key) const
    {
        return ProfileDocument(QString::fromUtf8(readFile(DataFile()))).value(QStringLiteral("Main"), key);
    }
    /** What the program wrote on stdout and stderr so far. */
    QString Output()
    {
        m_output += QString::fromLocal8Bit(m_process.readAll());
        return m_output;
    }
    /** SIGTERM, as a session's end sends it; true when the program then ended by itself with code 0. */
    bool Terminate()
    {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        const bool ended = WaitUntil([this] { return !Running(); }, 15000);
        Output();
        return ended && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    void Kill()
    {
        if (!Running())
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QList<CompositorWindow> Windows() const { return m_session.Windows(Pid()); }
    std::optional<CompositorWindow> Window(const std::function<bool(const CompositorWindow&)>& which) const
    {
        for (const CompositorWindow& window : Windows()) {
            if (which(window))
                return window;
        }
        return std::nullopt;
    }
    bool WaitForWindow(const std::function<bool(const CompositorWindow&)>& which, bool shown = true)
    {
        return WaitUntil([&] { return Window(which).has_value() == shown; }, kWindowTimeoutMs, 20);
    }

    /** Why a check failed: the log's tail, the program's output and the compositor's windows. */
    QByteArray Report()
    {
        const QString log = Log();
        return QStringLiteral("\n--- log (tail)\n%1\n--- output\n%2\n--- panel\n%3\n--- scene graph\n%4")
            .arg(log.right(3000), Output().right(3000), m_session.PanelLines().join(u'\n'), m_session.SceneGraph())
            .toUtf8();
    }

private:
    WaylandSession& m_session;
    QString m_exe;
    QTemporaryDir m_data;
    QProcess m_process;
    QString m_output;
};

bool isMainWindow(const CompositorWindow& w)
{
    return w.title.endsWith(QLatin1String(" - Larkbell"));
}
// The notification window and the floating clock share the program's name as their title; the tests
// that look for one do not show the other.
bool isPlainTitled(const CompositorWindow& w)
{
    return w.title == QLatin1String("Larkbell");
}
bool isEditor(const CompositorWindow& w)
{
    return w.title.startsWith(QLatin1String("Alarm"));
}

QString withoutMnemonic(QString label)
{
    return label.remove(u'_').remove(u'&');
}

/** Counts the tray item's NewIcon signals, as a panel is told to fetch the icon again. */
class IconChanges final : public QObject
{
    Q_OBJECT
public:
    int count = 0;
public slots:
    void changed() { ++count; }
};

} // namespace

class TestWayland final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void windowsShowAndStoredPlacesSurvive();
    void trayItemAsAPanelSeesIt();
    void ringingAlarmCannotBeMissed();
    void notificationAnswersTheAlarm();
    void withoutTray();

private:
    std::optional<TrayItem> waitForTrayItem(int timeoutMs = kWindowTimeoutMs);
    QStringList ringingAlarms(const ShiftedClock::Ring& ring) const;
    std::optional<uint> waitForCriticalNotification();
    bool heardFor(int ms);

    WaylandSession m_session;
    QString m_exe;
    QString m_tone;
    SinkMonitor m_sink;
};

void TestWayland::initTestCase()
{
    QString why;
    JOURNEY_VERIFY(m_session.Start(true, &why), qPrintable(why));
    // A copy of its own: one instance runs per executable file, and other tests run the built one.
    const QString folder = QDir(m_session.Scratch()).filePath(QStringLiteral("bin"));
    QDir().mkpath(folder);
    m_exe = QDir(folder).filePath(QStringLiteral("larkbell"));
    QVERIFY(QFile::copy(QStringLiteral(LARKBELL_EXE), m_exe));
    QVERIFY(QFile::setPermissions(m_exe, QFile::permissions(QStringLiteral(LARKBELL_EXE))));
    m_tone = Journey::MakeTone(m_session.Scratch(), QStringLiteral("ring.wav"), 1.0);
    QVERIFY2(!m_tone.isEmpty(), "sox could not write the test tone");
    QVERIFY(m_sink.Start());
}

void TestWayland::cleanupTestCase()
{
    m_sink.Stop();
    m_session.Stop();
}

void TestWayland::cleanup()
{
    QString why;
    if (!m_session.PanelLines().contains(QStringLiteral("ready")) ||
        !m_session.PanelLines(QStringLiteral("item")).isEmpty())
        QVERIFY2(m_session.RestartPanel(true, &why), qPrintable(why));
}

std::optional<TrayItem> TestWayland::waitForTrayItem(int timeoutMs)
{
    if (!WaitUntil([this] { return !m_session.PanelLines(QStringLiteral("item ")).isEmpty(); }, timeoutMs))
        return std::nullopt;
    const QStringList words = m_session.PanelLines(QStringLiteral("item ")).constLast().split(u' ');
    if (words.size() != 3)
        return std::nullopt;
    return TrayItem(m_session.Bus(), words.at(1), words.at(2));
}

QStringList TestWayland::ringingAlarms(const ShiftedClock::Ring& ring) const
{
    AlarmRecord alarm = Journey::Alarm(ring.time, m_tone, true, 80);
    alarm.Label = QStringLiteral("Wayland alarm");
    return {Journey::Stored(alarm)};
}

bool TestWayland::heardFor(int ms)
{
    // A user answers an alarm after hearing it a moment, never within the first tenth of a second.
    return WaitUntil([&] { return m_sink.LoudSamples() >= qint64(ms) * 44100 / 1000; }, 5000 + ms);
}

std::optional<uint> TestWayland::waitForCriticalNotification()
{
    std::optional<uint> id;
    WaitUntil(
        [&] {
            for (const QString& line : m_session.PanelLines(QStringLiteral("notify "))) {
                const QStringList words = line.split(u' ');
                if (words.size() >= 4 && words.at(2) == QLatin1String("2"))
                    id = words.at(1).toUInt();
            }
            return id.has_value();
        },
        kWindowTimeoutMs);
    return id;
}

void TestWayland::windowsShowAndStoredPlacesSurvive()
{
    // Places stored on X11: the compositor places the windows itself, and the program must not store
    // what Qt reports back instead of them.
    Run run(m_session, m_exe);
    QVERIFY(run.Start({{QStringLiteral("ShowFloatingWindow"), QStringLiteral("1")},
                       {QStringLiteral("TMainFormLeft"), QStringLiteral("100")},
                       {QStringLiteral("TMainFormTop"), QStringLiteral("120")},
                       {QStringLiteral("TFloatingFormLeft"), QStringLiteral("30")},
                       {QStringLiteral("TFloatingFormTop"), QStringLiteral("40")},
                       {QStringLiteral("TFloatingFormWidth"), QStringLiteral("250")},
                       {QStringLiteral("TFloatingFormHeight"), QStringLiteral("90")}},
                      {}, false));
    JOURNEY_VERIFY(run.WaitForWindow(isMainWindow), run.Report());
    // The clock is frameless: what the compositor shows is the stored size itself.
    JOURNEY_VERIFY(run.WaitForWindow(
                       [](const CompositorWindow& w) { return isPlainTitled(w) && w.frame.size() == QSize(250, 90); }),
                   run.Report());

    const std::optional<TrayItem> tray = waitForTrayItem();
    JOURNEY_VERIFY(tray.has_value(), run.Report());
    int add = -1;
    for (const auto& [id, label] : tray->MenuItems()) {
        if (withoutMnemonic(label).startsWith(QLatin1String("Add")))
            add = id;
    }
    JOURNEY_VERIFY(add >= 0, run.Report());
    QVERIFY(tray->ClickMenuItem(add));
    JOURNEY_VERIFY(run.WaitForWindow(isEditor), run.Report());

    // Nothing out of sight: every window lies on the output.
    for (const CompositorWindow& window : run.Windows())
        JOURNEY_VERIFY(kScreen.contains(window.frame),
                       QByteArray(window.title.toUtf8() + " is off screen") + run.Report());

    JOURNEY_VERIFY(run.Terminate(), run.Report());
    QCOMPARE(run.Saved(QStringLiteral("TMainFormLeft")), QStringLiteral("100"));
    QCOMPARE(run.Saved(QStringLiteral("TMainFormTop")), QStringLiteral("120"));
    QCOMPARE(run.Saved(QStringLiteral("TFloatingFormLeft")), QStringLiteral("30"));
    QCOMPARE(run.Saved(QStringLiteral("TFloatingFormTop")), QStringLiteral("40"));
    // Sizes are the program's own on Wayland too, and they are stored.
    QCOMPARE(run.Saved(QStringLiteral("TFloatingFormWidth")), QStringLiteral("250"));
    QCOMPARE(run.Saved(QStringLiteral("TMainFormWidth")), QStringLiteral("560"));
    // Nothing to complain about: no warnings of the toolkit or the compositor's protocol.
    static const QRegularExpression complaint(QStringLiteral("(?i)warning|error|wl_|qt\\.qpa|QWidget::|QWindow::"));
    JOURNEY_VERIFY(!run.Output().contains(complaint), run.Report());
}

void TestWayland::trayItemAsAPanelSeesIt()
{
    const AlarmRecord later = Journey::Alarm(QTime::currentTime().addSecs(4 * 3600), m_tone);
    Run run(m_session, m_exe);
    QVERIFY(run.Start({}, {Journey::Stored(later)}, true));
    const std::optional<TrayItem> tray = waitForTrayItem();
    JOURNEY_VERIFY(tray.has_value(), run.Report());
    JOURNEY_VERIFY(run.Log().contains(QLatin1String("Tray icon shown (in the tray)")), run.Report());

    // The hint names the next alarm, as the program logged it.
    static const QRegularExpression hintLine(QStringLiteral("Tray hint: (.*)"));
    const QString hint = hintLine.match(run.Log()).captured(1).trimmed();
    QVERIFY(hint.contains(later.Label));
    JOURNEY_VERIFY(WaitUntil([&] { return tray->ToolTip().first == hint; }, 5000),
                   QByteArray("tooltip: ") + tray->ToolTip().first.toUtf8() + run.Report());
    QVERIFY(!tray->IconPixmap().isNull());

    // The tray commands, in the menu a panel shows: Open (named after the program) first.
    QStringList labels;
    const QList<std::pair<int, QString>> items = tray->MenuItems();
    for (const auto& item : items)
        labels.append(withoutMnemonic(item.second));
    JOURNEY_VERIFY(!items.isEmpty() && labels.constFirst().startsWith(QLatin1String("Larkbell")) &&
                       labels.contains(QStringLiteral("Run at startup")) && labels.contains(QStringLiteral("Add")) &&
                       labels.constLast() == QLatin1String("Exit"),
                   labels.join(u'|').toUtf8());
    const int open = items.constFirst().first;

    // A click on the icon opens the main window, a second one puts it away again, and Open brings it back.
    QVERIFY(!run.Window(isMainWindow));
    QVERIFY(tray->Activate());
    JOURNEY_VERIFY(run.WaitForWindow(isMainWindow), run.Report());
    QVERIFY(tray->Activate());
    JOURNEY_VERIFY(run.WaitForWindow(isMainWindow, false), run.Report());
    QVERIFY(tray->ClickMenuItem(open));
    JOURNEY_VERIFY(run.WaitForWindow(isMainWindow), run.Report());

    // The program ends: its item leaves the bus with it.
    JOURNEY_VERIFY(run.Terminate(), run.Report());
    QVERIFY(WaitUntil([this] { return !m_session.PanelLines(QStringLiteral("item-gone ")).isEmpty(); }, 5000));
}

void TestWayland::ringingAlarmCannotBeMissed()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kRingLeadMs);
    Run run(m_session, m_exe);
    QVERIFY(run.Start({}, ringingAlarms(ring), true, ring.offsetMs));
    const std::optional<TrayItem> tray = waitForTrayItem();
    JOURNEY_VERIFY(tray.has_value(), run.Report());
    IconChanges changes;
    QVERIFY(m_session.Bus().connect(tray->Service(), QStringLiteral("/StatusNotifierItem"),
                                    QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("NewIcon"), &changes,
                                    SLOT(changed())));
    m_sink.Reset();
    JOURNEY_VERIFY(ShiftedClock::NowMs() < ring.realDueMs,
                   QByteArray("the program took too long to start") + run.Report());

    // The window, the sound, the notification that stays, and the blinking icon.
    JOURNEY_VERIFY(run.WaitForWindow(isPlainTitled), run.Report());
    JOURNEY_VERIFY(m_sink.WaitForSound(5000) >= 0, run.Report());
    const std::optional<uint> notification = waitForCriticalNotification();
    JOURNEY_VERIFY(notification.has_value(), run.Report());
    const int before = changes.count;
    WaitUntil([&] { return changes.count - before >= 4; }, 3000, 20);
    JOURNEY_VERIFY(changes.count - before >= 4, QByteArray("icon changes while ringing: ") +
                                                    QByteArray::number(changes.count - before) + run.Report());
    // The blink shows two looks in turn, the ringing one and the normal one.
    QList<QImage> looks;
    WaitUntil(
        [&] {
            const QImage now = tray->IconPixmap();
            if (!now.isNull() && !looks.contains(now))
                looks.append(now);
            return looks.size() >= 2;
        },
        3000, 10);
    JOURNEY_VERIFY(looks.size() == 2,
                   QByteArray("looks of the icon: ") + QByteArray::number(looks.size()) + run.Report());

    // A click on the icon answers the alarm: the window goes, the sound stops, the notification closes,
    // and the icon stops blinking.
    QVERIFY(heardFor(300));
    QVERIFY(tray->Activate());
    JOURNEY_VERIFY(run.WaitForWindow(isPlainTitled, false), run.Report());
    JOURNEY_VERIFY(m_sink.WaitForQuiet(500, 5000), run.Report());
    JOURNEY_VERIFY(
        WaitUntil([&] { return m_session.PanelLines().contains(QStringLiteral("close %1").arg(*notification)); }, 5000),
        run.Report());
    // It settles on one of the two and blinks no more.
    int settled = changes.count;
    WaitUntil(
        [&] {
            if (changes.count == settled)
                return true;
            settled = changes.count;
            return false;
        },
        2000, 300);
    QVERIFY(!WaitUntil([&] { return changes.count != settled; }, 600));
    QVERIFY(looks.contains(tray->IconPixmap()));
}

void TestWayland::notificationAnswersTheAlarm()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kRingLeadMs);
    Run run(m_session, m_exe);
    QVERIFY(run.Start({}, ringingAlarms(ring), true, ring.offsetMs));
    m_sink.Reset();
    JOURNEY_VERIFY(run.WaitForWindow(isPlainTitled), run.Report());
    const std::optional<uint> notification = waitForCriticalNotification();
    JOURNEY_VERIFY(notification.has_value(), run.Report());
    JOURNEY_VERIFY(m_sink.WaitForSound(5000) >= 0, run.Report());
    QVERIFY(heardFor(300));
    m_session.PanelCommand(QStringLiteral("click %1").arg(*notification));
    JOURNEY_VERIFY(run.WaitForWindow(isPlainTitled, false), run.Report());
    JOURNEY_VERIFY(m_sink.WaitForQuiet(500, 5000), run.Report());
    QVERIFY(run.Running());
}

void TestWayland::withoutTray()
{
    // No watcher on the bus: the program has no tray, keeps its window reachable, and an alarm still
    // shows its window, plays and sends the notification that stays.
    QString why;
    QVERIFY2(m_session.RestartPanel(false, &why), qPrintable(why));
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kRingLeadMs + 2000);
    Run run(m_session, m_exe);
    QVERIFY(run.Start({}, ringingAlarms(ring), false, ring.offsetMs));
    JOURNEY_VERIFY(run.Log().contains(QLatin1String("Tray icon shown (no tray on this desktop)")), run.Report());
    JOURNEY_VERIFY(run.WaitForWindow(isMainWindow), run.Report());
    QVERIFY(m_session.PanelLines(QStringLiteral("item")).isEmpty());

    m_sink.Reset();
    JOURNEY_VERIFY(run.WaitForWindow(isPlainTitled), run.Report());
    JOURNEY_VERIFY(m_sink.WaitForSound(5000) >= 0, run.Report());
    const std::optional<uint> notification = waitForCriticalNotification();
    JOURNEY_VERIFY(notification.has_value(), run.Report());
    QVERIFY(heardFor(300));
    m_session.PanelCommand(QStringLiteral("click %1").arg(*notification));
    JOURNEY_VERIFY(run.WaitForWindow(isPlainTitled, false), run.Report());
    JOURNEY_VERIFY(m_sink.WaitForQuiet(500, 5000), run.Report());
    // The main window stayed: without a tray it is the way back to the program.
    QVERIFY(run.Window(isMainWindow));
    JOURNEY_VERIFY(run.Terminate(), run.Report());
}

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"

// Every way a user or the system ends the program, in every state the program can be in: it must be
// gone within two seconds with exit code 0, with its settings saved and the system volume given back.
// Built twice: the ways that go through the desktop (menus, the session's end) and the requests from
// outside (-close, signals), so that the two halves run side by side on desktops of their own.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "SinkRecorder.h"
#include "User.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTest>

#include <csignal>

namespace {

enum class ExitPath { FileMenu, TrayMenu, SessionEnd, CloseSwitch, Terminate, Interrupt, HangUp };
enum class State {
    IdleInTray,
    MainShown,
    MainMaximized,
    Ringing,
    RangOut,
    Snoozed,
    FloatingClock,
    EditorOpen,
    MessageBoxOpen
};
constexpr int kStates = 9;

const char* pathName(ExitPath path)
{
    switch (path) {
    case ExitPath::FileMenu:
        return "File > Exit";
    case ExitPath::TrayMenu:
        return "tray > Exit";
    case ExitPath::SessionEnd:
        return "session ends";
    case ExitPath::CloseSwitch:
        return "-close";
    case ExitPath::Terminate:
        return "SIGTERM";
    case ExitPath::Interrupt:
        return "SIGINT";
    case ExitPath::HangUp:
        return "SIGHUP";
    }
    return "?";
}

const char* stateName(State state)
{
    switch (state) {
    case State::IdleInTray:
        return "idle in the tray";
    case State::MainShown:
        return "main window shown";
    case State::MainMaximized:
        return "main window maximized";
    case State::Ringing:
        return "alarm ringing";
    case State::RangOut:
        return "alarm window up, sound ended";
    case State::Snoozed:
        return "snoozed";
    case State::FloatingClock:
        return "floating clock shown";
    case State::EditorOpen:
        return "alarm editor open";
    case State::MessageBoxOpen:
        return "message box open";
    }
    return "?";
}

bool rings(State state)
{
    return state == State::Ringing || state == State::RangOut || state == State::Snoozed;
}

bool mainWindowShown(State state)
{
    return state == State::MainShown || state == State::MainMaximized || state == State::EditorOpen ||
           state == State::MessageBoxOpen;
}

QList<ExitPath> pathsOfThisExecutable()
{
#if JOURNEY_EXIT_GROUP == 1
    return {ExitPath::FileMenu, ExitPath::TrayMenu, ExitPath::SessionEnd};
#else
    return {ExitPath::CloseSwitch, ExitPath::Terminate, ExitPath::Interrupt, ExitPath::HangUp};
#endif
}

int triesPerPath()
{
    bool ok = false;
    const int tries = qEnvironmentVariableIntValue("LARKBELL_JOURNEY_EXIT_TRIES", &ok);
    return ok && tries > 0 ? tries : 20;
}

constexpr int kExitMs = 2000;
constexpr int kRingLeadMs = 1800;
constexpr int kVolumeBefore = 30;
constexpr int kAlarmVolume = 85;
// The notification window's Snooze button: left, at the foot of the window.
constexpr int kSnoozeX = 24 + 177 / 2;
constexpr int kSnoozeY = 240 + 57 / 2;

struct Tally {
    int tries = 0;
    int notReached = 0;
    int blockedByDialog = 0;
    int hangs = 0;
    int uncleanExits = 0;
    int unsaved = 0;
    int volumeKept = 0;
    qint64 slowestMs = 0;
};

} // namespace

class TestExits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyWayOutEndsTheProgramInEveryState_data();
    void everyWayOutEndsTheProgramInEveryState();

private:
    bool reachState(State state, Program& program, User& user, const ShiftedClock::Ring& ring, QString* why);
    bool takeWayOut(ExitPath path, State state, Program& program, User& user, QElapsedTimer& sinceRequest,
                    QString* why);

    Desktop m_desktop;
    SinkRecorder m_sink;
    QString m_exe;
    QString m_ringSound;
    QString m_shortSound;
    QMap<ExitPath, Tally> m_tally;
};

void TestExits::initTestCase()
{
    Desktop::Options options;
    options.sessionManager = pathsOfThisExecutable().contains(ExitPath::SessionEnd);
    QString why;
    JOURNEY_VERIFY(Journey::SetUp(m_desktop, options, QStringLiteral(LARKBELL_EXE), &m_exe, &m_ringSound, &why),
                   qPrintable(why));
    m_shortSound = Journey::MakeTone(m_desktop.Scratch(), QStringLiteral("short.wav"), 0.3);
    JOURNEY_VERIFY(!m_shortSound.isEmpty(), "sox could not write the short test tone");
    QVERIFY(m_sink.Start(m_desktop.SessionEnvironment(), PulseTestServer::SinkName()));
}

void TestExits::cleanupTestCase()
{
    for (auto it = m_tally.cbegin(); it != m_tally.cend(); ++it) {
        const Tally& t = it.value();
        qInfo("%s: %d tries, %d hangs (not gone within %d ms), %d unclean exits, %d settings not saved, "
              "%d volumes not given back, %d states not reached, %d times the way was blocked by a dialog; "
              "slowest exit %lld ms",
              pathName(it.key()), t.tries, t.hangs, kExitMs, t.uncleanExits, t.unsaved, t.volumeKept, t.notReached,
              t.blockedByDialog, t.slowestMs);
    }
    m_sink.Stop();
    m_desktop.Stop();
}

void TestExits::everyWayOutEndsTheProgramInEveryState_data()
{
    QTest::addColumn<int>("path");
    QTest::addColumn<int>("state");
    const QList<ExitPath> paths = pathsOfThisExecutable();
    for (qsizetype p = 0; p < paths.size(); ++p) {
        // Each way out goes through the states in turn, each starting elsewhere in the cycle.
        for (int n = 0; n < triesPerPath(); ++n) {
            const auto state = State((n + int(p) * 4) % kStates);
            QTest::addRow("%s #%d: %s", pathName(paths.at(p)), n + 1, stateName(state))
                << int(paths.at(p)) << int(state);
        }
    }
}

bool TestExits::reachState(State state, Program& program, User& user, const ShiftedClock::Ring& ring, QString* why)
{
    const auto fail = [why](const QString& text) {
        *why = text;
        return false;
    };
    if (!program.WaitUntilStarted())
        return fail(QStringLiteral("the program did not start"));
    if (!program.WaitForTrayIcon(5000))
        return fail(QStringLiteral("no tray icon"));
    XWindow main;
    if (mainWindowShown(state) && !program.WaitForWindow(WindowKind::Main, 5000, &main))
        return fail(QStringLiteral("the main window did not show"));

    switch (state) {
    case State::IdleInTray:
    case State::MainShown:
        return true;
    case State::MainMaximized:
        if (!user.DoubleClickTitle(main))
            return fail(user.LastError());
        if (!WaitUntil(
                [&] {
                    const auto shown = program.Find(WindowKind::Main);
                    return shown && shown->InState("MAXIMIZED_VERT") && shown->InState("MAXIMIZED_HORZ");
                },
                3000))
            return fail(QStringLiteral("the main window did not maximize"));
        return true;
    case State::Ringing:
    case State::RangOut:
    case State::Snoozed: {
        const qint64 untilDue = ring.realDueMs - ShiftedClock::NowMs();
        m_sink.Reset();
        if (!program.WaitForWindow(WindowKind::Alarm, int(qMax<qint64>(0, untilDue)) + 3000))
            return fail(QStringLiteral("the alarm did not ring (%1 alarm fired lines; a shifted clock needs "
                                       "LARKBELL_TEST_CLOCK_OFFSET_MS)")
                            .arg(program.LogCount(QStringLiteral("Alarm fired"))));
        if (!WaitUntil([this] { return m_sink.Heard(); }, 3000))
            return fail(QStringLiteral("the alarm window is up but no sound arrived"));
        if (!WaitUntil([this] { return m_desktop.Pulse().SinkVolumePercent() == kAlarmVolume; }, 2000))
            return fail(QStringLiteral("the alarm's volume (%1 %) was not set: the sink is at %2 %")
                            .arg(kAlarmVolume)
                            .arg(m_desktop.Pulse().SinkVolumePercent()));
        if (state == State::RangOut) {
            // The short sound has played once; the window stays until someone answers it.
            if (!WaitUntil([this] { return m_sink.SinceResetMs() - m_sink.LastLoudMs() >= 500; }, 4000))
                return fail(QStringLiteral("the short sound did not end"));
            if (!program.Find(WindowKind::Alarm))
                return fail(QStringLiteral("the alarm window went away with the end of the sound"));
        }
        if (state == State::Snoozed) {
            const auto alarm = program.Find(WindowKind::Alarm);
            if (!alarm || !user.Click(*alarm, kSnoozeX, kSnoozeY))
                return fail(QStringLiteral("cannot press Snooze: ") + user.LastError());
            if (!program.WaitForNoWindow(WindowKind::Alarm, 2000))
                return fail(QStringLiteral("Snooze did not close the alarm window"));
        }
        return true;
    }
    case State::FloatingClock:
        if (!program.WaitForWindow(WindowKind::FloatingClock, 3000))
            return fail(QStringLiteral("the floating clock did not show"));
        return true;
    case State::EditorOpen:
        if (!user.KeysTo(main, QStringLiteral("ctrl+n")) || !program.WaitForWindow(WindowKind::Editor, 3000))
            return fail(QStringLiteral("Ctrl+N did not open the alarm editor ") + user.LastError());
        return true;
    case State::MessageBoxOpen:
        if (!user.KeysTo(main, QStringLiteral("ctrl+Delete")) || !program.WaitForWindow(WindowKind::MessageBox, 3000))
            return fail(QStringLiteral("Ctrl+Delete did not ask whether to delete the alarm ") + user.LastError());
        return true;
    }
    return fail(QStringLiteral("unknown state"));
}

bool TestExits::takeWayOut(ExitPath path, State state, Program& program, User& user, QElapsedTimer& sinceRequest,
                           QString* why)
{
    const auto fail = [why](const QString& text) {
        *why = text;
        return false;
    };
    Tally& tally = m_tally[path];
    // A menu that a modal dialog keeps from opening: the user answers the dialog and tries again.
    const auto openMenu = [&](const std::function<bool()>& open) {
        if (open())
            return true;
        const std::optional<XWindow> dialog =
            program.Find(WindowKind::Editor) ? program.Find(WindowKind::Editor) : program.Find(WindowKind::MessageBox);
        if (!dialog)
            return false;
        ++tally.blockedByDialog;
        qInfo("%s was blocked by the %s; closing it first", pathName(path), stateName(state));
        return user.KeysTo(*dialog, QStringLiteral("Escape")) &&
               WaitUntil([&] { return !program.Find(WindowKind::Editor) && !program.Find(WindowKind::MessageBox); },
                         2000) &&
               open();
    };

    switch (path) {
    case ExitPath::FileMenu:
        if (!program.Find(WindowKind::Main) && !user.OpenMainWindowFromTray())
            return fail(user.LastError());
        if (!openMenu([&] { return user.OpenFileMenu(); }))
            return fail(user.LastError());
        sinceRequest.start();
        return user.ChooseLastItem() || fail(user.LastError());
    case ExitPath::TrayMenu:
        if (!openMenu([&] { return user.OpenTrayMenu(); }))
            return fail(user.LastError());
        sinceRequest.start();
        return user.ChooseLastItem() || fail(user.LastError());
    case ExitPath::SessionEnd: {
        SessionManager* session = m_desktop.Session();
        if (!WaitUntil([session] { return session->Clients() > 0; }, 3000))
            return fail(QStringLiteral("the program did not register with the session manager"));
        sinceRequest.start();
        session->EndSession();
        return true;
    }
    case ExitPath::CloseSwitch: {
        sinceRequest.start();
        QString output;
        const int code = program.RunSecondCopy({QStringLiteral("-close")}, kExitMs * 2, &output);
        if (code != 0)
            return fail(QStringLiteral("larkbell -close ended with %1: %2").arg(code).arg(output.trimmed()));
        return true;
    }
    case ExitPath::Terminate:
        sinceRequest.start();
        program.Signal(SIGTERM);
        return true;
    case ExitPath::Interrupt:
        sinceRequest.start();
        program.Signal(SIGINT);
        return true;
    case ExitPath::HangUp:
        sinceRequest.start();
        program.Signal(SIGHUP);
        return true;
    }
    return fail(QStringLiteral("unknown way out"));
}

void TestExits::everyWayOutEndsTheProgramInEveryState()
{
    QFETCH(int, path);
    QFETCH(int, state);
    const auto way = ExitPath(path);
    const auto where = State(state);
    Tally& tally = m_tally[way];
    ++tally.tries;

    QVERIFY(m_desktop.Pulse().Pactl(
        {QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("%1%").arg(kVolumeBefore)}));
    QVERIFY(
        m_desktop.Pulse().Pactl({QStringLiteral("set-sink-mute"), PulseTestServer::SinkName(), QStringLiteral("0")}));

    // A daily alarm: ringing does not change the list, so whatever the file holds after the exit is the exit's.
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kRingLeadMs);
    ProgramSetup setup;
    setup.autorun = !mainWindowShown(where);
    if (rings(where)) {
        AlarmRecord alarm = Journey::Alarm(QTime(7, 0), where == State::RangOut ? m_shortSound : m_ringSound,
                                           where != State::RangOut, kAlarmVolume);
        alarm.Days = Journey::EveryDay();
        setup.alarms = {Journey::Stored(alarm)};
        setup.clockOffsetMs = ring.offsetMs;
    } else {
        // Two hours ahead of the real clock: never due while this runs.
        const QTime later = QTime::currentTime().addSecs(7200);
        AlarmRecord alarm = Journey::Alarm(QTime(later.hour(), later.minute()), m_ringSound);
        alarm.Days = Journey::EveryDay();
        setup.alarms = {Journey::Stored(alarm)};
    }
    if (where == State::FloatingClock)
        setup.settings.append({QStringLiteral("ShowFloatingWindow"), QStringLiteral("1")});

    Program program(m_desktop, m_exe);
    User user(program);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    if (!reachState(where, program, user, ring, &why)) {
        ++tally.notReached;
        QFAIL(qPrintable(
            QStringLiteral("%1 not reached: %2\n%3").arg(QLatin1String(stateName(where)), why, program.Diagnostics())));
    }

    // A change made just before the exit, which only the exit's save can have put into the file.
    QPoint movedTo;
    if (const auto main = program.Find(WindowKind::Main); main && !main->InState("MAXIMIZED_VERT")) {
        movedTo = QPoint(40 + tally.tries * 3, 60 + tally.tries * 2);
        JOURNEY_VERIFY(user.Move(*main, movedTo.x(), movedTo.y()), qPrintable(user.LastError()));
        JOURNEY_VERIFY(WaitUntil(
                           [&] {
                               const auto moved = program.Find(WindowKind::Main);
                               return moved && (moved->geometry.topLeft() - movedTo).manhattanLength() < 80;
                           },
                           2000),
                       "the window manager did not move the main window");
    }
    const bool maximized = where == State::MainMaximized;

    QElapsedTimer sinceRequest;
    if (!takeWayOut(way, where, program, user, sinceRequest, &why)) {
        ++tally.notReached;
        QFAIL(qPrintable(QStringLiteral("%1 could not be taken: %2\n%3")
                             .arg(QLatin1String(pathName(way)), why, program.Diagnostics())));
    }
    const bool ended = program.WaitForExit(int(qMax<qint64>(0, kExitMs - sinceRequest.elapsed())));
    const qint64 tookMs = sinceRequest.elapsed();
    tally.slowestMs = qMax(tally.slowestMs, tookMs);
    if (!ended) {
        ++tally.hangs;
        const QString report = program.Diagnostics();
        program.Kill();
        QFAIL(qPrintable(QStringLiteral("still running %1 ms after %2 (%3)\n%4")
                             .arg(tookMs)
                             .arg(QLatin1String(pathName(way)), QLatin1String(stateName(where)), report)));
    }
    if (!program.ExitedCleanly()) {
        ++tally.uncleanExits;
        QFAIL(qPrintable(QStringLiteral("the program ended with %1 after %2\n%3")
                             .arg(program.ExitDescription(), QLatin1String(pathName(way)), program.Diagnostics())));
    }

    // The placement is saved at the exit (and five seconds after a change, which this run is too short for).
    const std::optional<QString> left = program.SavedValue(QStringLiteral("TMainFormLeft"));
    const std::optional<QString> top = program.SavedValue(QStringLiteral("TMainFormTop"));
    const std::optional<QString> shownState = program.SavedValue(QStringLiteral("TMainFormState"));
    bool saved = false;
    if (maximized)
        saved = shownState.value_or(QString()) == QLatin1String("1");
    else if (!movedTo.isNull())
        saved = left && top && qAbs(left->toInt() - movedTo.x()) < 40 && qAbs(top->toInt() - movedTo.y()) < 40;
    else
        saved = (left && top) || shownState;
    if (!saved)
        ++tally.unsaved;
    JOURNEY_VERIFY(saved, qPrintable(QStringLiteral("the exit did not save the window's placement (moved to %1,%2; "
                                                    "maximized %3); Data.ini holds:\n%4")
                                         .arg(movedTo.x())
                                         .arg(movedTo.y())
                                         .arg(maximized)
                                         .arg(program.Saved().toText())));

    const int volume = m_desktop.Pulse().SinkVolumePercent();
    if (volume != kVolumeBefore)
        ++tally.volumeKept;
    JOURNEY_VERIFY(
        volume == kVolumeBefore,
        qPrintable(QStringLiteral("the sink stayed at %1 %, it was at %2 % before").arg(volume).arg(kVolumeBefore)));
    JOURNEY_VERIFY(!m_desktop.Pulse().SinkMuted(), "the exit left the sink muted");
}

QTEST_GUILESS_MAIN(TestExits)
#include "tst_exits.moc"

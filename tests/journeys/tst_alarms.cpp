// Alarms as a user lives them with the real program on a real desktop: a box that pops up while it
// rings, a disk that refuses the save, several alarms at one minute, time zones, a muted stream, a
// sound server that stops answering, a second start, another user squatting the program's names,
// and one ring on the real clock.
#include "Desktop.h"
#include "DiskFault.h"
#include "Journey.h"
#include "Program.h"
#include "ScreenReader.h"
#include "ShiftedClock.h"
#include "SinkRecorder.h"
#include "User.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace {

constexpr int kLeadMs = 2000;
constexpr int kAlarmVolume = 70;

struct Fired {
    QString due; // "yyyy-MM-dd HH:mm:ss.zzz", UTC
    qint64 lateMs = 0;
};

QList<Fired> firedAlarms(const Program& program)
{
    static const QRegularExpression line(
        QStringLiteral("Alarm fired: due (\\S+ \\S+) UTC, now \\S+ \\S+ UTC, late by (-?\\d+) ms"));
    QList<Fired> fired;
    for (const QString& message : program.LogMessages()) {
        const QRegularExpressionMatch m = line.match(message);
        if (m.hasMatch())
            fired.append({m.captured(1), m.captured(2).toLongLong()});
    }
    return fired;
}

/** The local times the alarm timer was armed for, in the order the log has them; "parked" for a parked timer. */
QStringList armings(const Program& program)
{
    static const QRegularExpression line(QStringLiteral("Alarm timer (armed|parked) for (\\S+ \\S+) \\("));
    QStringList times;
    for (const QString& message : program.LogMessages()) {
        const QRegularExpressionMatch m = line.match(message);
        if (m.hasMatch())
            times.append(m.captured(1) == QLatin1String("parked") ? QStringLiteral("parked") : m.captured(2));
    }
    return times;
}

QString utcText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString localText(QDate date, QTime time)
{
    return date.toString(QStringLiteral("yyyy-MM-dd")) + u' ' + time.toString(QStringLiteral("HH:mm:ss"));
}

QString logOf(Program& program)
{
    return QStringLiteral("\n--- Log.txt\n") + program.LogText();
}

/** The sink inputs of the sound server: index and the process id that plays into it. */
QList<std::pair<int, qint64>> sinkInputs(PulseTestServer& pulse)
{
    QString text;
    QList<std::pair<int, qint64>> inputs;
    if (!pulse.Pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")}, &text))
        return inputs;
    static const QRegularExpression pid(QStringLiteral("application\\.process\\.id = \"(\\d+)\""));
    for (const QString& block : text.split(QStringLiteral("Sink Input #"), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int index = block.section(u'\n', 0, 0).trimmed().toInt(&ok);
        const QRegularExpressionMatch m = pid.match(block);
        if (ok)
            inputs.append({index, m.hasMatch() ? m.captured(1).toLongLong() : 0});
    }
    return inputs;
}

/** The listening local sockets of a process: "@name" for the abstract namespace, else the path. */
QStringList listeningSockets(qint64 pid)
{
    QSet<QString> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    static const QRegularExpression socket(QStringLiteral("^socket:\\[(\\d+)\\]$"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        const QRegularExpressionMatch m = socket.match(QFile::symLinkTarget(fds.filePath(fd)).section(u'/', -1));
        if (m.hasMatch())
            inodes.insert(m.captured(1));
    }
    QFile table(QStringLiteral("/proc/net/unix"));
    QStringList names;
    if (!table.open(QIODevice::ReadOnly))
        return names;
    // Num RefCount Protocol Flags Type St Inode Path; flag 00010000 marks a listening socket.
    for (const QByteArray& raw : table.readAll().split('\n')) {
        const QStringList fields = QString::fromUtf8(raw).simplified().split(u' ');
        if (fields.size() < 8 || !inodes.contains(fields.at(6)))
            continue;
        if ((fields.at(3).toUInt(nullptr, 16) & 0x10000) == 0)
            continue;
        names.append(fields.mid(7).join(u' '));
    }
    return names;
}

} // namespace

class TestAlarmJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void aMessageBoxDoesNotSilenceTheAlarm();
    void aSaveRefusedAtFiringDoesNotStopTheNextAlarm();
    void aSaveRefusedAtStartDoesNotHoldBackTheAlarm();
    void alarmsOfOneMinuteRingTogether_data();
    void alarmsOfOneMinuteRingTogether();
    void anAlarmRingsAtItsLocalMinuteInEveryZone_data();
    void anAlarmRingsAtItsLocalMinuteInEveryZone();
    void aMutedStreamIsHeardAtTheNextAlarm();
    void aFrozenSoundServerDoesNotHoldBackTheAlarm();
    void aSecondStartKeepsTheLogOfTheRunningCopy();
    void namesHeldByAnotherUserDoNotStopTheProgram_data();
    void namesHeldByAnotherUserDoNotStopTheProgram();
    void anAlarmRingsOnTheRealClock();
    void theAlarmWindowsButtonsSpeakEnglish_data();
    void theAlarmWindowsButtonsSpeakEnglish();
    void hiddenInTheTrayItHoldsNoWindowResources();

private:
    AlarmRecord ringingAlarm(QTime time, bool daily = true) const;
    bool waitForRing(Program& program, const ShiftedClock::Ring& ring, int count = 1);
    void closeProgram(Program& program);

    Desktop m_desktop;
    SinkRecorder m_sink;
    QString m_exe;
    QString m_ringSound;
    int m_streamRestoreModule = -1;
};

void TestAlarmJourneys::initTestCase()
{
    QString why;
    JOURNEY_VERIFY(
        Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, &m_ringSound, &why),
        qPrintable(why));
    QVERIFY(m_sink.Start(m_desktop.SessionEnvironment(), PulseTestServer::SinkName()));
}

void TestAlarmJourneys::cleanupTestCase()
{
    m_sink.Stop();
    m_desktop.Stop();
}

void TestAlarmJourneys::cleanup()
{
    // A failed check must not leave the sound server stopped or remembering a muted stream for the next test.
    m_desktop.Pulse().Thaw();
    if (m_streamRestoreModule >= 0) {
        m_desktop.Pulse().Pactl({QStringLiteral("unload-module"), QString::number(m_streamRestoreModule)});
        m_streamRestoreModule = -1;
    }
    m_desktop.Pulse().Pactl({QStringLiteral("set-sink-volume"), PulseTestServer::SinkName(), QStringLiteral("50%")});
}

AlarmRecord TestAlarmJourneys::ringingAlarm(QTime time, bool daily) const
{
    AlarmRecord alarm = Journey::Alarm(time, m_ringSound, true, kAlarmVolume);
    if (daily)
        alarm.Days = Journey::EveryDay();
    return alarm;
}

bool TestAlarmJourneys::waitForRing(Program& program, const ShiftedClock::Ring& ring, int count)
{
    const qint64 untilDue = qMax<qint64>(0, ring.realDueMs - ShiftedClock::NowMs());
    // Where the program stands when it is late, for whoever has to find out why (the debugger stops it a moment).
    if (qEnvironmentVariableIsSet("LARKBELL_JOURNEY_LATE_STACKS") &&
        !program.WaitForLog(QStringLiteral("Alarm fired"), count, int(untilDue) + 300))
        qInfo("not rung 300 ms after its due second:\n%s", qPrintable(program.Diagnostics()));
    return program.WaitForLog(QStringLiteral("Alarm fired"), count, int(untilDue) + 3000 + 1000 * count);
}

void TestAlarmJourneys::closeProgram(Program& program)
{
    if (!program.Running())
        return;
    program.RunSecondCopy({QStringLiteral("-close")}, 5000);
    if (!program.WaitForExit(3000))
        program.Kill();
}

void TestAlarmJourneys::aMessageBoxDoesNotSilenceTheAlarm()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup;
    setup.autorun = false;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    User user(program);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    XWindow main;
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Main, 5000, &main), "the main window did not show");
    m_sink.Reset();
    JOURNEY_VERIFY(waitForRing(program, ring), qPrintable(QStringLiteral("the alarm did not ring") + logOf(program)));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 2000), "no alarm window");
    JOURNEY_VERIFY(WaitUntil([this] { return m_sink.Heard(); }, 3000), "the alarm is silent from the start");

    // The user goes back to the list and asks to delete the alarm: the question box opens over it.
    JOURNEY_VERIFY(user.KeysTo(main, QStringLiteral("ctrl+Delete")), qPrintable(user.LastError()));
    XWindow box;
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::MessageBox, 3000, &box), "Ctrl+Delete did not ask anything");

    // Three seconds with the box open: the alarm window stays, and sound keeps arriving.
    m_sink.Reset();
    bool alarmWindowStayed = true;
    WaitUntil(
        [&] {
            alarmWindowStayed = alarmWindowStayed && program.Find(WindowKind::Alarm).has_value();
            return m_sink.SinceResetMs() >= 3000;
        },
        4000, 10);
    m_sink.Poll();
    JOURNEY_VERIFY(alarmWindowStayed, "the alarm window went away when the message box opened");
    JOURNEY_VERIFY(m_sink.Heard() && m_sink.FirstLoudMs() < 500,
                   qPrintable(QStringLiteral("the sound stopped when the box opened (first sound after %1 ms)")
                                  .arg(m_sink.FirstLoudMs())));
    JOURNEY_VERIFY(m_sink.SinceResetMs() - m_sink.LastLoudMs() < 500,
                   qPrintable(QStringLiteral("the sound died while the box was open: last heard %1 ms ago")
                                  .arg(m_sink.SinceResetMs() - m_sink.LastLoudMs())));
    JOURNEY_VERIFY(program.Find(WindowKind::MessageBox).has_value(), "the question went away by itself");

    // "No" keeps the alarm; the list still holds it.
    QVERIFY(user.KeysTo(box, QStringLiteral("Escape")));
    QVERIFY(program.WaitForNoWindow(WindowKind::MessageBox, 2000));
    QCOMPARE(program.SavedAlarms().size(), 1);
    closeProgram(program);
}

void TestAlarmJourneys::aSaveRefusedAtFiringDoesNotStopTheNextAlarm()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs + 500);
    // Two one-time alarms a minute apart: the first one's firing switches it off, which must be saved.
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0), false)),
                    Journey::Stored(ringingAlarm(QTime(7, 1), false))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));

    DiskFault readOnly(DiskFault::Kind::FileReadOnly, program.DataDir());
    if (!readOnly.Unavailable().isEmpty())
        QSKIP(qPrintable(readOnly.Unavailable()));
    JOURNEY_VERIFY(readOnly.Apply(), qPrintable(readOnly.Unavailable()));
    JOURNEY_VERIFY(ShiftedClock::NowMs() < ring.realDueMs, "the program took too long to start for this test's lead");

    JOURNEY_VERIFY(waitForRing(program, ring),
                   qPrintable(QStringLiteral("the first alarm did not ring") + logOf(program)));
    const qint64 secondDue = ring.realDueMs + 60000;
    // The user sleeps on: nobody answers anything. The second alarm must come all the same.
    const bool second = program.WaitForLog(QStringLiteral("Alarm fired"), 2,
                                           int(qMax<qint64>(0, secondDue - ShiftedClock::NowMs())) + 3000);
    const QList<Fired> fired = firedAlarms(program);
    const QString windows = [&] {
        QString text;
        for (const XWindow& w : program.Windows())
            text += w.Describe() + u'\n';
        return text;
    }();
    readOnly.Remove();
    JOURNEY_VERIFY(second,
                   qPrintable(QStringLiteral("the alarm a minute after the refused save did not ring; windows:\n") +
                              windows + logOf(program)));
    QCOMPARE(fired.size(), 2);
    QCOMPARE(fired.at(0).due, utcText(ring.dueUtcMs));
    QCOMPARE(fired.at(1).due, utcText(ring.dueUtcMs + 60000));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 2000), "the second alarm shows no window");
    closeProgram(program);
}

void TestAlarmJourneys::aSaveRefusedAtStartDoesNotHoldBackTheAlarm()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs + 1000);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    QVERIFY(program.Prepare(setup));
    DiskFault readOnly(DiskFault::Kind::FileReadOnly, program.DataDir());
    if (!readOnly.Unavailable().isEmpty())
        QSKIP(qPrintable(readOnly.Unavailable()));
    JOURNEY_VERIFY(readOnly.Apply(), qPrintable(readOnly.Unavailable()));

    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why, true), qPrintable(why));
    m_sink.Reset();
    const bool rang = waitForRing(program, ring);
    const bool shown = rang && program.WaitForWindow(WindowKind::Alarm, 2000);
    const bool heard = shown && WaitUntil([this] { return m_sink.Heard(); }, 3000);
    const std::optional<XWindow> box = program.Find(WindowKind::MessageBox);
    const QString report = program.Diagnostics();
    readOnly.Remove();
    JOURNEY_VERIFY(rang, qPrintable(QStringLiteral("the alarm did not ring with Data.ini read-only\n") + report));
    JOURNEY_VERIFY(shown, "the alarm rang without its window");
    JOURNEY_VERIFY(heard, "the alarm window is up but nothing is heard");
    const QList<Fired> fired = firedAlarms(program);
    QVERIFY(!fired.isEmpty());
    JOURNEY_VERIFY(fired.first().lateMs < 1000,
                   qPrintable(QStringLiteral("the alarm rang %1 ms late").arg(fired.first().lateMs)));
    JOURNEY_VERIFY(
        !box, qPrintable(QStringLiteral("a modal box waits for an answer: ") + (box ? box->Describe() : QString())));
    closeProgram(program);
}

void TestAlarmJourneys::alarmsOfOneMinuteRingTogether_data()
{
    // o: one-time, d: every day, w: only on this weekday
    QTest::addColumn<QString>("kinds");
    QTest::newRow("two one-time alarms") << QStringLiteral("oo");
    QTest::newRow("three: one-time, daily, one-time") << QStringLiteral("odo");
    QTest::newRow("four: daily, this weekday, two one-time") << QStringLiteral("dwoo");
}

void TestAlarmJourneys::alarmsOfOneMinuteRingTogether()
{
    QFETCH(QString, kinds);
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup;
    QList<AlarmRecord> alarms;
    for (qsizetype i = 0; i < kinds.size(); ++i) {
        AlarmRecord alarm = ringingAlarm(QTime(7, 0), false);
        alarm.Label = QStringLiteral("Alarm %1 of %2").arg(i + 1).arg(kinds.size());
        if (kinds.at(i) == u'd')
            alarm.Days = Journey::EveryDay();
        else if (kinds.at(i) == u'w')
            alarm.Days = Journey::OnlyOn(ring.date);
        alarms.append(alarm);
        setup.alarms.append(Journey::Stored(alarm));
    }
    setup.clockOffsetMs = ring.offsetMs;
    setup.environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    ScreenReader reader;
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    const int count = int(kinds.size());
    JOURNEY_VERIFY(waitForRing(program, ring), qPrintable(QStringLiteral("nothing rang") + logOf(program)));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 2000), "no alarm window");
    // Every alarm of the minute is in the one window the firing shows.
    if (reader.Connect(m_desktop.BusAddress(), &why)) {
        QStringList texts;
        const auto namesEveryAlarm = [&] {
            texts = reader.Names(QStringLiteral("Larkbell"), QStringLiteral("label"));
            const QString shown = texts.join(u'\n');
            return std::all_of(alarms.cbegin(), alarms.cend(),
                               [&](const AlarmRecord& alarm) { return shown.contains(alarm.Label); });
        };
        JOURNEY_VERIFY(
            WaitUntil(namesEveryAlarm, 5000, 100),
            qPrintable(QStringLiteral("the alarm window reads [%1]").arg(texts.join(QStringLiteral(" | ")))));
    } else {
        qInfo("the alarm window's text is not read: %s", qPrintable(why));
    }
    const QList<Fired> fired = firedAlarms(program);
    JOURNEY_VERIFY(
        fired.size() == 1,
        qPrintable(QStringLiteral("%1 alarms of one minute rang in %2 firings").arg(count).arg(fired.size()) +
                   logOf(program)));
    QCOMPARE(fired.first().due, utcText(ring.dueUtcMs));
    JOURNEY_VERIFY(fired.first().lateMs < 1000,
                   qPrintable(QStringLiteral("they rang %1 ms late").arg(fired.first().lateMs) + logOf(program)));

    // One-time alarms switched themselves off in the file; repeating ones stay on.
    JOURNEY_VERIFY(WaitUntil(
                       [&] {
                           const QStringList saved = program.SavedAlarms();
                           if (saved.size() != count)
                               return false;
                           for (int i = 0; i < count; ++i) {
                               if (AlarmField::Enabled(saved.at(i)) == alarms.at(i).IsOneTime())
                                   return false;
                           }
                           return true;
                       },
                       3000),
                   qPrintable(QStringLiteral("Data.ini holds:\n") + program.SavedAlarms().join(u'\n')));

    // The timer waits for the earliest next day of the repeating ones, or stands parked.
    QDate next;
    for (const AlarmRecord& alarm : std::as_const(alarms)) {
        if (alarm.IsOneTime())
            continue;
        const QDate date = Journey::NextRepeat(alarm.Days, ring.date);
        if (!next.isValid() || date < next)
            next = date;
    }
    const QString expected = next.isValid() ? localText(next, QTime(7, 0)) : QStringLiteral("parked");
    JOURNEY_VERIFY(WaitUntil([&] { return armings(program).value(armings(program).size() - 1) == expected; }, 3000),
                   qPrintable(QStringLiteral("the last arming is not for %1").arg(expected) + logOf(program)));
    closeProgram(program);
}

void TestAlarmJourneys::anAlarmRingsAtItsLocalMinuteInEveryZone_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<bool>("set");
    QTest::newRow("three hours west of UTC, POSIX sign (UTC+3)") << QStringLiteral("UTC+3") << true;
    QTest::newRow("US Eastern with its DST rule") << QStringLiteral("EST5EDT,M3.2.0,M11.1.0") << true;
    QTest::newRow("half-hour offset with a quoted name") << QStringLiteral("<+0530>-5:30") << true;
    QTest::newRow("Berlin from the zone database") << QStringLiteral(":Europe/Berlin") << true;
    QTest::newRow("no TZ: the system's zone") << QString() << false;
}

void TestAlarmJourneys::anAlarmRingsAtItsLocalMinuteInEveryZone()
{
    QFETCH(QString, zone);
    QFETCH(bool, set);
    const ShiftedClock::Zone tz = set ? ShiftedClock::Zone(zone.toLatin1()) : std::nullopt;
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs, tz);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
    setup.clockOffsetMs = ring.offsetMs;
    setup.zone = tz;
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(waitForRing(program, ring),
                   qPrintable(QStringLiteral("07:00 in %1 did not ring at %2 UTC")
                                  .arg(set ? zone : QStringLiteral("the system's zone"), utcText(ring.dueUtcMs)) +
                              logOf(program)));
    const QList<Fired> fired = firedAlarms(program);
    QCOMPARE(fired.size(), 1);
    QCOMPARE(fired.first().due, utcText(ring.dueUtcMs));
    JOURNEY_VERIFY(
        qAbs(fired.first().lateMs) <= 10,
        qPrintable(QStringLiteral("rang %1 ms from its due second").arg(fired.first().lateMs) + logOf(program)));
    JOURNEY_VERIFY(armings(program).contains(localText(ring.date, QTime(7, 0))),
                   qPrintable(QStringLiteral("never armed for %1 local time").arg(localText(ring.date, QTime(7, 0))) +
                              logOf(program)));
    closeProgram(program);
}

void TestAlarmJourneys::aMutedStreamIsHeardAtTheNextAlarm()
{
    QString module;
    JOURNEY_VERIFY(
        m_desktop.Pulse().Pactl({QStringLiteral("load-module"), QStringLiteral("module-stream-restore")}, &module),
        "the sound server would not remember stream volumes");
    m_streamRestoreModule = module.trimmed().toInt();

    // The first ring: the user mutes the program's stream in the mixer; the server remembers that.
    int firstPeak = 0;
    {
        const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
        ProgramSetup setup;
        setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
        setup.clockOffsetMs = ring.offsetMs;
        Program program(m_desktop, m_exe);
        QString why;
        JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(waitForRing(program, ring),
                       qPrintable(QStringLiteral("the first alarm did not ring") + logOf(program)));
        m_sink.Reset();
        JOURNEY_VERIFY(WaitUntil([this] { return m_sink.Heard(); }, 3000), "the first ring is silent");
        m_sink.Reset();
        WaitUntil([this] { return m_sink.RecordedMs() >= 1000; }, 3000);
        firstPeak = m_sink.Peak();
        int input = -1;
        JOURNEY_VERIFY(WaitUntil(
                           [&] {
                               for (const auto& [index, pid] : sinkInputs(m_desktop.Pulse())) {
                                   if (pid == program.Pid())
                                       input = index;
                               }
                               return input >= 0;
                           },
                           2000),
                       "the program's stream is not among the sink inputs");
        QVERIFY(m_desktop.Pulse().Pactl(
            {QStringLiteral("set-sink-input-mute"), QString::number(input), QStringLiteral("1")}));
        m_sink.Reset();
        JOURNEY_VERIFY(
            WaitUntil(
                [this] { return m_sink.RecordedMs() >= 600 && m_sink.SinceResetMs() - m_sink.LastLoudMs() >= 400; },
                3000),
            "muting the stream did not silence it");
        closeProgram(program);
    }

    // The next morning: the alarm must be heard, at its own volume.
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(waitForRing(program, ring),
                   qPrintable(QStringLiteral("the second alarm did not ring") + logOf(program)));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 2000), "no alarm window");
    m_sink.Reset();
    const bool heard = WaitUntil([this] { return m_sink.Heard(); }, 3000);
    JOURNEY_VERIFY(heard, "the alarm plays into the stream the user muted last time: nothing arrives at the sink");
    m_sink.Reset();
    WaitUntil([this] { return m_sink.RecordedMs() >= 1000; }, 3000);
    JOURNEY_VERIFY(
        m_sink.Peak() * 10 >= firstPeak * 8,
        qPrintable(QStringLiteral("heard at peak %1, the first ring reached %2").arg(m_sink.Peak()).arg(firstPeak)));
    QCOMPARE(m_desktop.Pulse().SinkVolumePercent(), kAlarmVolume);
    closeProgram(program);
}

void TestAlarmJourneys::aFrozenSoundServerDoesNotHoldBackTheAlarm()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs + 500);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    User user(program);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(program.WaitForTrayIcon(3000), "no tray icon");
    JOURNEY_VERIFY(ShiftedClock::NowMs() < ring.realDueMs - 300,
                   "the program took too long to start for this test's lead");

    // The sound server stops answering just before the alarm is due (cleanup() lets it go on).
    WaitUntil([&] { return ShiftedClock::NowMs() >= ring.realDueMs - 300; }, 5000, 2);
    m_desktop.Pulse().Freeze();
    qint64 paintedAt = -1;
    WaitUntil(
        [&] {
            const std::optional<XWindow> alarm = program.Find(WindowKind::Alarm);
            if (alarm && m_desktop.X().Painted(alarm->id))
                paintedAt = ShiftedClock::NowMs();
            return paintedAt >= 0;
        },
        int(ring.realDueMs - ShiftedClock::NowMs()) + 3000, 2);
    const bool trayAnswers = paintedAt >= 0 && user.OpenTrayMenu(1000);
    const bool mainShows = trayAnswers && user.ChooseFirstItem() && program.WaitForWindow(WindowKind::Main, 1000);
    const bool fileMenuAnswers = mainShows && user.OpenFileMenu(1000) && user.Keys(QStringLiteral("Escape"));
    const QString report = paintedAt >= 0 && fileMenuAnswers ? QString() : program.Diagnostics();
    m_desktop.Pulse().Thaw();

    JOURNEY_VERIFY(paintedAt >= 0,
                   qPrintable(QStringLiteral("no alarm window with the sound server stopped\n") + report));
    qInfo("with the sound server stopped, the alarm window was painted %lld ms after the due second",
          static_cast<long long>(paintedAt - ring.realDueMs));
    JOURNEY_VERIFY(
        paintedAt - ring.realDueMs <= 100,
        qPrintable(
            QStringLiteral("the alarm window was painted %1 ms after the due second").arg(paintedAt - ring.realDueMs)));
    JOURNEY_VERIFY(trayAnswers,
                   qPrintable(QStringLiteral("the tray menu does not open while the sound server is stopped: ") +
                              user.LastError() + u'\n' + report));
    JOURNEY_VERIFY(mainShows, qPrintable(QStringLiteral("the tray menu's Open did not show the main window: ") +
                                         user.LastError()));
    JOURNEY_VERIFY(fileMenuAnswers,
                   qPrintable(QStringLiteral("the File menu does not open while the sound server is stopped: ") +
                              user.LastError() + u'\n' + report));
    const QString tomorrow = localText(ring.date.addDays(1), QTime(7, 0));
    JOURNEY_VERIFY(armings(program).contains(tomorrow),
                   qPrintable(QStringLiteral("the next alarm (%1) was not armed").arg(tomorrow) + logOf(program)));
    closeProgram(program);
}

void TestAlarmJourneys::aSecondStartKeepsTheLogOfTheRunningCopy()
{
    ProgramSetup setup;
    const QTime later = QTime::currentTime().addSecs(7200);
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(later.hour(), later.minute())))};
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    const QString before = program.LogText();
    QVERIFY(before.contains(QLatin1String("Tray icon shown")));

    QString output;
    QCOMPARE(program.RunSecondCopy({QStringLiteral("-debug")}, 10000, &output), 0);
    JOURNEY_VERIFY(program.Running(), "the first copy ended when the second started");
    // The running copy heard the second start: it shows its window.
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Main, 3000), "the second start did not bring up the running copy");
    const QString after = program.LogText();
    JOURNEY_VERIFY(after.startsWith(before),
                   qPrintable(QStringLiteral("the second start replaced the log; it now holds:\n") + after));
    closeProgram(program);
    JOURNEY_VERIFY(program.LogText().startsWith(before), "the log lost its beginning by the time the program ended");
}

void TestAlarmJourneys::namesHeldByAnotherUserDoNotStopTheProgram_data()
{
    QTest::addColumn<bool>("session");
    QTest::newRow("in a session with its runtime folder") << true;
    QTest::newRow("without runtime or cache folder, temporary folder shared") << false;
}

void TestAlarmJourneys::namesHeldByAnotherUserDoNotStopTheProgram()
{
    QFETCH(bool, session);
    if (::geteuid() != 0)
        QSKIP("needs root to act as another user");
    // The other user runs the squatter from a folder everybody may read.
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    QVERIFY(QFile::setPermissions(shared.path(), QFile::Permissions(0x7755)));
    const QString squatter = shared.filePath(QStringLiteral("squatter"));
    QVERIFY(QFile::copy(QStringLiteral(JOURNEY_SQUATTER), squatter));
    QVERIFY(QFile::setPermissions(squatter, QFile::Permissions(0x7755)));
    // A temporary folder like /tmp (world-writable, sticky) that only this test uses.
    const QString sharedTemp = shared.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(sharedTemp));
    QVERIFY(::chmod(QFile::encodeName(sharedTemp).constData(), 01777) == 0);

    ProgramSetup base;
    if (!session) {
        base.unset = {QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("XDG_CACHE_HOME")};
        base.environment.insert(QStringLiteral("HOME"), shared.filePath(QStringLiteral("no-home")));
        base.environment.insert(QStringLiteral("TMPDIR"), sharedTemp);
    }

    QStringList held;
    QStringList refused;
    QProcess holder;
    DieWithTest(holder);
    const auto hold = [&](const QStringList& names) {
        if (holder.state() != QProcess::NotRunning) {
            holder.closeWriteChannel();
            holder.waitForFinished(3000);
        }
        holder.start(QStringLiteral("setpriv"),
                     QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                 QStringLiteral("--clear-groups"), squatter} +
                         names);
        if (!holder.waitForStarted(5000))
            return false;
        QByteArray text;
        WaitUntil(
            [&] {
                text += holder.readAllStandardOutput();
                return text.contains("ready\n") || holder.state() == QProcess::NotRunning;
            },
            5000);
        held.clear();
        refused.clear();
        for (const QByteArray& line : text.split('\n')) {
            if (line.startsWith("held "))
                held.append(QString::fromUtf8(line.mid(5)));
            else if (line.startsWith("refused "))
                refused.append(QString::fromUtf8(line.mid(8)));
        }
        return text.contains("ready\n");
    };
    const auto cleanupHolder = qScopeGuard([&] {
        holder.closeWriteChannel();
        if (!holder.waitForFinished(3000))
            holder.kill();
    });

    // Round by round: whatever name the program listens on, the other user takes before the next start.
    QStringList taken;
    QStringList outOfReach;
    for (int round = 0; round < 8; ++round) {
        if (!taken.isEmpty())
            JOURNEY_VERIFY(hold(taken), "the squatter did not start");
        Program program(m_desktop, m_exe);
        QString why;
        JOURNEY_VERIFY(program.Start(base, &why), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(8000),
                       qPrintable(QStringLiteral("the program did not start while user 65534 held %1 (refused: %2)\n")
                                      .arg(held.join(QStringLiteral(", ")), refused.join(QStringLiteral(", "))) +
                                  program.Diagnostics()));
        const QStringList names = listeningSockets(program.Pid());
        closeProgram(program);
        QStringList fresh;
        for (const QString& name : names) {
            if (taken.contains(name))
                continue;
            // A path in a folder another user may write to is one they could have taken first: the folder
            // goes, and the squatter makes it again as theirs.
            if (!name.startsWith(u'@')) {
                const QFileInfo folder(QFileInfo(name).absolutePath());
                const QFileInfo parent(folder.absolutePath());
                if (!(QFile::permissions(parent.filePath()) & QFile::WriteOther) || !name.startsWith(sharedTemp)) {
                    if (!outOfReach.contains(name))
                        outOfReach.append(name);
                    continue;
                }
                QDir(folder.filePath()).removeRecursively();
            }
            fresh.append(name);
        }
        if (fresh.isEmpty())
            break;
        taken += fresh;
    }
    qInfo("the program listened on [%s], out of another user's reach; another user held [%s] and could not take [%s]",
          qPrintable(outOfReach.join(QStringLiteral(", "))), qPrintable(held.join(QStringLiteral(", "))),
          qPrintable(refused.join(QStringLiteral(", "))));

    // With everything the other user could take taken: the program starts and rings.
    if (!taken.isEmpty())
        JOURNEY_VERIFY(hold(taken), "the squatter did not start");
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup = base;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(8000),
                   qPrintable(QStringLiteral("the program did not start while user 65534 held %1\n")
                                  .arg(held.join(QStringLiteral(", "))) +
                              program.Diagnostics()));
    JOURNEY_VERIFY(waitForRing(program, ring), qPrintable(QStringLiteral("no ring") + logOf(program)));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 2000), "no alarm window");
    closeProgram(program);
}

void TestAlarmJourneys::anAlarmRingsOnTheRealClock()
{
    // The one test on the unshifted clock: a one-time alarm at the next real minute that leaves time to start.
    QDateTime due = QDateTime::currentDateTime().addSecs(60);
    due.setTime(QTime(due.time().hour(), due.time().minute()));
    if (QDateTime::currentDateTime().msecsTo(due) < 4000)
        due = due.addSecs(60);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(due.time(), false))};
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    m_sink.Reset();
    const qint64 untilDue = QDateTime::currentDateTime().msecsTo(due);
    JOURNEY_VERIFY(program.WaitForLog(QStringLiteral("Alarm fired"), 1, int(untilDue) + 3000),
                   qPrintable(QStringLiteral("no ring at %1").arg(due.toString(Qt::ISODate)) + logOf(program)));
    const QList<Fired> fired = firedAlarms(program);
    QCOMPARE(fired.size(), 1);
    QCOMPARE(fired.first().due, utcText(due.toMSecsSinceEpoch()));
    JOURNEY_VERIFY(qAbs(fired.first().lateMs) < 1000,
                   qPrintable(QStringLiteral("%1 ms late").arg(fired.first().lateMs)));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 2000), "no alarm window");
    JOURNEY_VERIFY(WaitUntil([this] { return m_sink.Heard(); }, 3000), "nothing heard");
    JOURNEY_VERIFY(
        WaitUntil(
            [&] { return program.SavedAlarms().size() == 1 && !AlarmField::Enabled(program.SavedAlarms().first()); },
            3000),
        "the one-time alarm did not switch itself off in Data.ini");
    closeProgram(program);
}

void TestAlarmJourneys::theAlarmWindowsButtonsSpeakEnglish_data()
{
    QTest::addColumn<QString>("lang");
    QTest::newRow("C.UTF-8") << QStringLiteral("C.UTF-8");
    QTest::newRow("en_US.UTF-8") << QStringLiteral("en_US.UTF-8");
}

void TestAlarmJourneys::theAlarmWindowsButtonsSpeakEnglish()
{
    QFETCH(QString, lang);
    // The buttons are drawn by the toolkit, not X windows: their captions are read as a screen reader reads them.
    ScreenReader reader;
    QString why;
    if (!reader.Connect(m_desktop.BusAddress(), &why))
        QSKIP(qPrintable(why));

    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0)))};
    setup.clockOffsetMs = ring.offsetMs;
    setup.environment.insert(QStringLiteral("LANG"), lang);
    setup.environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    Program program(m_desktop, m_exe);
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(waitForRing(program, ring), qPrintable(QStringLiteral("no ring") + logOf(program)));
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 2000), "no alarm window");
    QStringList captions;
    WaitUntil(
        [&] {
            captions = reader.Names(QStringLiteral("Larkbell"), QStringLiteral("push button"));
            return captions.contains(QLatin1String("Snooze")) && captions.contains(QLatin1String("OK"));
        },
        5000, 100);
    JOURNEY_VERIFY(
        captions.contains(QLatin1String("Snooze")) && captions.contains(QLatin1String("OK")),
        qPrintable(QStringLiteral("the alarm window's buttons read [%1]").arg(captions.join(QStringLiteral(", ")))));
    closeProgram(program);
}

QTEST_GUILESS_MAIN(TestAlarmJourneys)
/**
 * The files mapped into a process that a hidden tray clock has no use for: fonts and image plugins, and the
 * sound card's library while a sound server answers.
 */
QStringList windowResourcesMapped(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no maps)")};
    QStringList found;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QString path = QString::fromUtf8(line.mid(line.indexOf('/')));
        const bool resource = path.contains(QLatin1String("/fonts/")) ||
                              path.contains(QLatin1String("/imageformats/")) ||
                              path.contains(QLatin1String("/iconengines/")) ||
                              path.contains(QLatin1String("libQt6Svg")) || path.contains(QLatin1String("libasound"));
        if (line.contains('/') && resource && !found.contains(path))
            found.append(path);
    }
    return found;
}

void TestAlarmJourneys::hiddenInTheTrayItHoldsNoWindowResources()
{
    ProgramSetup setup;
    setup.alarms = {BuildAlarmString(ringingAlarm(QTime(7, 0)))};
    setup.settings = {{QStringLiteral("ShowFloatingWindow"), QStringLiteral("0")}};
    Program program(m_desktop, m_exe);
    QString why;
    JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
    JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(program.WaitForTrayIcon(5000), "no tray icon");
    // Time for the icon to be painted into the tray and for the alarm's sound to be prepared: what is
    // held then stays held for as long as the program waits in the tray.
    QTest::qWait(1500);
    const QStringList hidden = windowResourcesMapped(program.Pid());
    JOURNEY_VERIFY(hidden.isEmpty(), qPrintable(QStringLiteral("held while hidden: ") + hidden.join(u' ')));

    // The check can see them: the window, once open, has measured its text.
    program.RunSecondCopy({}, 5000);
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Main, 5000), "a second start did not open the window");
    JOURNEY_VERIFY(WaitUntil([&] { return !windowResourcesMapped(program.Pid()).isEmpty(); }, 3000),
                   "the open window shows text without a font");
    closeProgram(program);
}

#include "tst_alarms.moc"

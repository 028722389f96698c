// The running program as other programs of the user reach it: its remote control on the session bus,
// the command line's requests to the running copy, and the buttons on an alarm's notification, with
// dunst and with a stand-in notification server that records what it was asked to show.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "ShiftedClock.h"

#include "core/alarms/AlarmRecord.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

namespace {

const QString kName = QStringLiteral("org.larkbell.Larkbell");
const QString kPath = QStringLiteral("/org/larkbell/Larkbell");
const QString kInterface = QStringLiteral("org.larkbell.Larkbell");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kLeadMs = 2500;

struct Run {
    int code = -1;
    QString out;
    QString err;
};

/** Runs the program with switches to its end, its output and errors apart. */
Run runProgram(const QString& exe, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    DieWithTest(process);
    process.start(exe, arguments);
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(3000);
        run.err = QStringLiteral("did not end");
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

/** The elements and attributes of an introspection document's interface named name, comments and layout aside. */
QStringList interfaceTokens(const QString& xml, const QString& name)
{
    QXmlStreamReader reader(xml);
    QStringList tokens;
    int depth = 0; // inside the interface: its nesting
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            if (depth == 0 &&
                !(reader.name() == u"interface" && reader.attributes().value(QStringLiteral("name")) == name))
                continue;
            ++depth;
            QString token = QStringLiteral("<") + reader.name().toString();
            for (const QXmlStreamAttribute& attribute : reader.attributes())
                token += u' ' + attribute.name().toString() + QStringLiteral("=") + attribute.value().toString();
            tokens.append(token);
        } else if (reader.isEndElement() && depth > 0) {
            --depth;
            tokens.append(QStringLiteral("</") + reader.name().toString());
        }
    }
    return tokens;
}

/** What the program said on the bus, in order. */
class BusListener final : public QObject
{
    Q_OBJECT

public:
    QStringList ringing;
    int dismissed = 0;
    QStringList nextAlarmChanges;

    bool Listen(QDBusConnection& bus)
    {
        return bus.connect(QString(), kPath, kInterface, QStringLiteral("Ringing"), this, SLOT(onRinging(QString))) &&
               bus.connect(QString(), kPath, kInterface, QStringLiteral("Dismissed"), this, SLOT(onDismissed())) &&
               bus.connect(QString(), kPath, kInterface, QStringLiteral("NextAlarmChanged"), this,
                           SLOT(onNextAlarmChanged(QString)));
    }

public slots:
    void onRinging(const QString& label) { ringing.append(label); }
    void onDismissed() { ++dismissed; }
    void onNextAlarmChanged(const QString& due) { nextAlarmChanges.append(due); }
};

/** A notification server as small as the program needs: it records every Notify and can play the user's answer. */
class StandInNotifications final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
    };
    QList<Shown> shown;
    uint lastId = 0;

    explicit StandInNotifications(QDBusConnection bus)
        : m_bus(std::move(bus))
    {}
    bool Register()
    {
        return m_bus.registerObject(kNotificationsPath, this, QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(kNotifications);
    }
    void Invoke(uint id, const QString& action)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"));
        signal << id << action;
        m_bus.send(signal);
    }

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString&, const QString&,
                const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        shown.append({actions, hints, timeout});
        lastId = replacesId != 0 ? replacesId : lastId + 1;
        return lastId;
    }
    void CloseNotification(uint id)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(kNotificationsPath, kNotifications, QStringLiteral("NotificationClosed"));
        signal << id << 3u;
        m_bus.send(signal);
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& protocolVersion)
    {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        protocolVersion = QStringLiteral("1.2");
        return QStringLiteral("stand-in");
    }

private:
    QDBusConnection m_bus;
};

QDBusMessage callProgram(QDBusConnection& bus, const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(kName, kPath, kInterface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, 10000);
}

QString logOf(Program& program)
{
    return QStringLiteral("\n--- Log.txt\n") + program.LogText();
}

} // namespace

class TestBusJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void switchesPrintAndEndWithoutADisplay();
    void requestsFindNoCopyAndStartNone();
    void theProgramAnswersWithTheShippedInterface();
    void nextAlarmAndListAnswer();
    void setEnabledSavesAndReschedules();
    void dismissStopsARingingAlarm();
    void snoozeRingsAgainAfterTheSnoozeLength();
    void dunstShowsTheAlarmUntilItIsAnswered();
    void theNotificationsSnoozeButtonSnoozes();

private:
    AlarmRecord ringingAlarm(QTime time, const QString& label, bool window = true) const;
    bool startOn(Program& program, const ProgramSetup& setup);
    void closeProgram(Program& program);

    Desktop m_desktop;
    QString m_exe;
    QString m_ringSound;
    std::unique_ptr<QDBusConnection> m_bus;
};

void TestBusJourneys::initTestCase()
{
    QString why;
    JOURNEY_VERIFY(
        Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, &m_ringSound, &why),
        qPrintable(why));
    m_bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QString::fromLatin1(m_desktop.BusAddress()), QStringLiteral("journey-bus")));
    QVERIFY(m_bus->isConnected());
}

void TestBusJourneys::cleanupTestCase()
{
    m_bus.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("journey-bus"));
    m_desktop.Stop();
}

AlarmRecord TestBusJourneys::ringingAlarm(QTime time, const QString& label, bool window) const
{
    AlarmRecord alarm = Journey::Alarm(time, m_ringSound, true, 60);
    alarm.Days = Journey::EveryDay();
    alarm.Label = label;
    alarm.ShowMessage = window;
    return alarm;
}

bool TestBusJourneys::startOn(Program& program, const ProgramSetup& setup)
{
    QString why;
    if (!program.Start(setup, &why)) {
        qWarning("%s", qPrintable(why));
        return false;
    }
    // The service is up once the name is taken; the program logs it.
    return program.WaitUntilStarted() && program.WaitForLog(QStringLiteral("Bus service: name"), 1, 10000);
}

void TestBusJourneys::closeProgram(Program& program)
{
    if (!program.Running())
        return;
    program.RunSecondCopy({QStringLiteral("-close")}, 5000);
    if (!program.WaitForExit(5000))
        program.Kill();
}

void TestBusJourneys::switchesPrintAndEndWithoutADisplay()
{
    QProcessEnvironment bare = m_desktop.SessionEnvironment();
    bare.remove(QStringLiteral("DISPLAY"));
    bare.remove(QStringLiteral("WAYLAND_DISPLAY"));
    bare.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")); // a window would fail loudly
    const Run help = runProgram(m_exe, {QStringLiteral("--help")}, bare);
    QCOMPARE(help.code, 0);
    for (const char* mention : {"--dismiss", "--snooze", "--next", "--list", "-close", "-autorun"})
        QVERIFY2(help.out.contains(QLatin1String(mention)), mention);
    const Run version = runProgram(m_exe, {QStringLiteral("--version")}, bare);
    QCOMPARE(version.code, 0);
    QVERIFY2(version.out.startsWith(QStringLiteral("Larkbell ")) && version.out.trimmed().size() > 9,
             qPrintable(version.out));
}

void TestBusJourneys::requestsFindNoCopyAndStartNone()
{
    const QProcessEnvironment session = m_desktop.SessionEnvironment();
    QProcessEnvironment noBus = session;
    noBus.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    for (const QString& request : {QStringLiteral("--dismiss"), QStringLiteral("--snooze"), QStringLiteral("--next"),
                                   QStringLiteral("--list")}) {
        const Run run = runProgram(m_exe, {request}, session);
        QVERIFY2(run.code == 1 && run.err.contains(QStringLiteral("not running")),
                 qPrintable(request + QStringLiteral(": %1 %2").arg(run.code).arg(run.err)));
        QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
        const Run alone = runProgram(m_exe, {request}, noBus);
        QVERIFY2(alone.code == 1 && alone.err.contains(QStringLiteral("not running")),
                 qPrintable(request + QStringLiteral(" without a bus: %1 %2").arg(alone.code).arg(alone.err)));
    }
    // None of them left a copy behind that took the name or the tray.
    QVERIFY(!m_bus->interface()->isServiceRegistered(kName).value());
}

void TestBusJourneys::theProgramAnswersWithTheShippedInterface()
{
    Program program(m_desktop, m_exe);
    JOURNEY_VERIFY(startOn(program, {}), qPrintable(program.Diagnostics()));
    QString xml;
    const int code =
        m_desktop.RunTool(QStringLiteral("gdbus"),
                          {QStringLiteral("introspect"), QStringLiteral("--session"), QStringLiteral("--dest"), kName,
                           QStringLiteral("--object-path"), kPath, QStringLiteral("--xml")},
                          &xml, 10000);
    QCOMPARE(code, 0);
    QFile shipped(QStringLiteral(LARKBELL_BUS_XML));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QStringList expected = interfaceTokens(QString::fromUtf8(shipped.readAll()), kInterface);
    QVERIFY(expected.size() > 20);
    QCOMPARE(interfaceTokens(xml, kInterface), expected);
    // busctl reads the same interface from the bus: every member is there with its signature.
    QString members;
    QCOMPARE(m_desktop.RunTool(QStringLiteral("busctl"),
                               {QStringLiteral("--user"), QStringLiteral("introspect"), kName, kPath, kInterface},
                               &members, 10000),
             0);
    for (const char* member : {"ListAlarms", "a(isssb)", "SetEnabled", "NextAlarmChanged", "Ringing", "Dismissed"})
        QVERIFY2(members.contains(QLatin1String(member)), qPrintable(members));
    closeProgram(program);
}

void TestBusJourneys::nextAlarmAndListAnswer()
{
    // The program's clock stands five minutes before 07:00; the first alarm is the next one.
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), 5 * 60 * 1000);
    AlarmRecord wake = ringingAlarm(QTime(7, 0), QStringLiteral("Wake up\r\nand shine"));
    wake.Days = {false, true, true, true, true, true, false};
    AlarmRecord dentist = ringingAlarm(QTime(9, 30), QStringLiteral("Dentist"));
    dentist.Days = {};
    dentist.Enabled = false;
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(wake), Journey::Stored(dentist)};
    setup.clockOffsetMs = ring.offsetMs;
    // Weekdays only: on a weekend the next 07:00 is days away, so the expectation follows the calendar.
    QDate date = ring.date;
    while (!wake.Days[size_t(Journey::DayIndex(date))])
        date = date.addDays(1);
    Program program(m_desktop, m_exe);
    JOURNEY_VERIFY(startOn(program, setup), qPrintable(program.Diagnostics()));

    const QDBusMessage next = callProgram(*m_bus, QStringLiteral("NextAlarm"));
    QCOMPARE(next.type(), QDBusMessage::ReplyMessage);
    QCOMPARE(next.signature(), QStringLiteral("ss"));
    const QString due = next.arguments().at(0).toString();
    QVERIFY2(due.startsWith(date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("T07:00:00")),
             qPrintable(due));
    const QDateTime parsed = QDateTime::fromString(due, Qt::ISODate);
    QVERIFY2(parsed.isValid() && QRegularExpression(QStringLiteral("[+-]\\d\\d:\\d\\d$")).match(due).hasMatch(),
             qPrintable(due));
    QCOMPARE(parsed.toMSecsSinceEpoch(), ShiftedClock::LocalToUtcMs(date, QTime(7, 0), std::nullopt));
    QCOMPARE(next.arguments().at(1).toString(), QStringLiteral("Wake up\nand shine"));

    const QDBusMessage list = callProgram(*m_bus, QStringLiteral("ListAlarms"));
    QCOMPARE(list.signature(), QStringLiteral("a(isssb)"));
    QStringList entries;
    const QDBusArgument array = list.arguments().at(0).value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        int index = -1;
        QString time;
        QString days;
        QString label;
        bool enabled = false;
        array.beginStructure();
        array >> index >> time >> days >> label >> enabled;
        array.endStructure();
        entries.append(QStringLiteral("%1|%2|%3|%4|%5").arg(index).arg(time, days, label).arg(enabled));
    }
    array.endArray();
    QCOMPARE(entries, (QStringList{QStringLiteral("0|07:00|Mon,Tue,Wed,Thu,Fri|Wake up\nand shine|1"),
                                   QStringLiteral("1|09:30||Dentist|0")}));

    // The command line prints the same, from the running copy.
    const Run nextLine = runProgram(m_exe, {QStringLiteral("--next")}, program.Environment());
    QCOMPARE(nextLine.code, 0);
    QCOMPARE(nextLine.out,
             date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 07:00  Wake up / and shine\n"));
    const Run listLines = runProgram(m_exe, {QStringLiteral("/LIST")}, program.Environment());
    QCOMPARE(listLines.code, 0);
    QCOMPARE(listLines.out, QStringLiteral("0  on   07:00  Mon,Tue,Wed,Thu,Fri  Wake up / and shine\n"
                                           "1  off  09:30  once  Dentist\n"));
    QVERIFY(program.Running());
    closeProgram(program);
}

void TestBusJourneys::setEnabledSavesAndReschedules()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), 5 * 60 * 1000);
    AlarmRecord first = ringingAlarm(QTime(7, 0), QStringLiteral("First"));
    AlarmRecord second = ringingAlarm(QTime(8, 0), QStringLiteral("Second"));
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(first), Journey::Stored(second)};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    JOURNEY_VERIFY(startOn(program, setup), qPrintable(program.Diagnostics()));
    BusListener listener;
    QVERIFY(listener.Listen(*m_bus));

    const QString before = callProgram(*m_bus, QStringLiteral("NextAlarm")).arguments().value(0).toString();
    QVERIFY(before.contains(QStringLiteral("T07:00:00")));
    QCOMPARE(callProgram(*m_bus, QStringLiteral("SetEnabled"), {0, false}).type(), QDBusMessage::ReplyMessage);
    QVERIFY2(WaitUntil([&] { return !listener.nextAlarmChanges.isEmpty(); }, 5000), "no NextAlarmChanged");
    QVERIFY2(listener.nextAlarmChanges.constFirst().contains(QStringLiteral("T08:00:00")),
             qPrintable(listener.nextAlarmChanges.join(u' ')));
    // Saved as the check box saves: the alarm's Enabled column in Data.ini, the other untouched.
    QVERIFY(WaitUntil(
        [&] { return program.SavedAlarms().size() == 2 && !AlarmField::Enabled(program.SavedAlarms().at(0)); }, 5000));
    QCOMPARE(program.SavedAlarms().at(1), Journey::Stored(second));
    AlarmRecord firstOff = first;
    firstOff.Enabled = false;
    QCOMPARE(program.SavedAlarms().at(0), Journey::Stored(firstOff));

    // Off for both: no next alarm; the signal says so with an empty string.
    QCOMPARE(callProgram(*m_bus, QStringLiteral("SetEnabled"), {1, false}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(WaitUntil([&] { return listener.nextAlarmChanges.size() == 2; }, 5000));
    QCOMPARE(listener.nextAlarmChanges.at(1), QString());
    const QDBusMessage none = callProgram(*m_bus, QStringLiteral("NextAlarm"));
    QCOMPARE(none.arguments(), (QVariantList{QString(), QString()}));
    QCOMPARE(runProgram(m_exe, {QStringLiteral("--next")}, program.Environment()).out,
             QStringLiteral("No alarm is set.\n"));

    // A row the list does not have is an error, and changes nothing.
    const QDBusMessage bad = callProgram(*m_bus, QStringLiteral("SetEnabled"), {2, true});
    QCOMPARE(bad.type(), QDBusMessage::ErrorMessage);
    QCOMPARE(bad.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    QCOMPARE(callProgram(*m_bus, QStringLiteral("SetEnabled"), {-1, true}).type(), QDBusMessage::ErrorMessage);
    QCOMPARE(callProgram(*m_bus, QStringLiteral("SetEnabled"), {QStringLiteral("0"), true}).errorName(),
             QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
    QCOMPARE(program.SavedAlarms().size(), 2);

    // Back on: the list's state goes through the same save.
    QCOMPARE(callProgram(*m_bus, QStringLiteral("SetEnabled"), {0, true}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(WaitUntil([&] { return AlarmField::Enabled(program.SavedAlarms().value(0)); }, 5000));
    QVERIFY(WaitUntil([&] { return listener.nextAlarmChanges.size() == 3; }, 5000));
    QVERIFY(listener.nextAlarmChanges.at(2).contains(QStringLiteral("T07:00:00")));
    closeProgram(program);
}

void TestBusJourneys::dismissStopsARingingAlarm()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0), QStringLiteral("Get up")))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    BusListener listener;
    QVERIFY(listener.Listen(*m_bus));
    JOURNEY_VERIFY(startOn(program, setup), qPrintable(program.Diagnostics()));

    // Nothing rings yet: both requests are refused with a reason, and the command line says it.
    const QDBusMessage early = callProgram(*m_bus, QStringLiteral("Dismiss"));
    QCOMPARE(early.errorName(), QStringLiteral("org.larkbell.Larkbell.Error.NotRinging"));
    QCOMPARE(callProgram(*m_bus, QStringLiteral("Snooze")).errorName(),
             QStringLiteral("org.larkbell.Larkbell.Error.NotRinging"));
    const Run idle = runProgram(m_exe, {QStringLiteral("--dismiss")}, program.Environment());
    QCOMPARE(idle.code, 0);
    QCOMPARE(idle.err, QStringLiteral("No alarm is ringing.\n"));

    JOURNEY_VERIFY(
        WaitUntil([&] { return !listener.ringing.isEmpty(); }, int(ring.realDueMs - ShiftedClock::NowMs()) + 5000),
        qPrintable(QStringLiteral("no Ringing signal") + logOf(program)));
    QCOMPARE(listener.ringing, QStringList{QStringLiteral("Get up")});
    JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, 3000), "no alarm window");

    const Run dismiss = runProgram(m_exe, {QStringLiteral("--dismiss")}, program.Environment());
    QCOMPARE(dismiss.code, 0);
    QCOMPARE(dismiss.err, QString());
    JOURNEY_VERIFY(program.WaitForNoWindow(WindowKind::Alarm, 3000), "the alarm window stayed");
    QVERIFY(WaitUntil([&] { return listener.dismissed == 1; }, 3000));
    QCOMPARE(callProgram(*m_bus, QStringLiteral("Dismiss")).errorName(),
             QStringLiteral("org.larkbell.Larkbell.Error.NotRinging"));
    QVERIFY(program.Running());
    closeProgram(program);
    QVERIFY(program.ExitedCleanly());
}

void TestBusJourneys::snoozeRingsAgainAfterTheSnoozeLength()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0), QStringLiteral("Nap")))};
    setup.settings = {{QStringLiteral("SnoozeTime"), QStringLiteral("60")}};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    BusListener listener;
    QVERIFY(listener.Listen(*m_bus));
    JOURNEY_VERIFY(startOn(program, setup), qPrintable(program.Diagnostics()));
    JOURNEY_VERIFY(
        WaitUntil([&] { return !listener.ringing.isEmpty(); }, int(ring.realDueMs - ShiftedClock::NowMs()) + 5000),
        qPrintable(QStringLiteral("no Ringing signal") + logOf(program)));

    const Run snooze = runProgram(m_exe, {QStringLiteral("--snooze")}, program.Environment());
    QCOMPARE(snooze.code, 0);
    const qint64 snoozedAt = ShiftedClock::NowMs();
    JOURNEY_VERIFY(program.WaitForNoWindow(WindowKind::Alarm, 3000), "the alarm window stayed");
    QVERIFY(WaitUntil([&] { return listener.dismissed == 1; }, 3000));
    // The snooze length set (one minute) later, it rings again, as after the window's Snooze.
    JOURNEY_VERIFY(WaitUntil([&] { return listener.ringing.size() == 2; }, 75000),
                   qPrintable(QStringLiteral("it did not ring again") + logOf(program)));
    const qint64 after = ShiftedClock::NowMs() - snoozedAt;
    QVERIFY2(after > 55000 && after < 70000, qPrintable(QString::number(after)));
    QCOMPARE(callProgram(*m_bus, QStringLiteral("Dismiss")).type(), QDBusMessage::ReplyMessage);
    closeProgram(program);
}

void TestBusJourneys::dunstShowsTheAlarmUntilItIsAnswered()
{
    const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
    ProgramSetup setup;
    setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0), QStringLiteral("Balloon"), false))};
    setup.clockOffsetMs = ring.offsetMs;
    Program program(m_desktop, m_exe);
    BusListener listener;
    QVERIFY(listener.Listen(*m_bus));
    JOURNEY_VERIFY(startOn(program, setup), qPrintable(program.Diagnostics()));
    m_desktop.RunTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    JOURNEY_VERIFY(
        WaitUntil([&] { return !listener.ringing.isEmpty(); }, int(ring.realDueMs - ShiftedClock::NowMs()) + 5000),
        qPrintable(QStringLiteral("no Ringing signal") + logOf(program)));
    const auto displayed = [this] {
        QString count;
        m_desktop.RunTool(QStringLiteral("dunstctl"), {QStringLiteral("count"), QStringLiteral("displayed")}, &count);
        return count.trimmed().toInt();
    };
    JOURNEY_VERIFY(WaitUntil([&] { return displayed() == 1; }, 5000), "dunst shows no notification");
    // Still there, and the alarm still rings, a while later: it waits for an answer.
    QVERIFY2(!WaitUntil([&] { return displayed() != 1 || listener.dismissed != 0; }, 1500, 100),
             "the notification or the alarm went away unanswered");
    // dunst's own command answers it the way a click does.
    QCOMPARE(m_desktop.RunTool(QStringLiteral("dunstctl"), {QStringLiteral("action"), QStringLiteral("0")}), 0);
    JOURNEY_VERIFY(WaitUntil([&] { return listener.dismissed == 1; }, 5000),
                   qPrintable(QStringLiteral("the notification's answer did not stop the alarm") + logOf(program)));
    closeProgram(program);
}

void TestBusJourneys::theNotificationsSnoozeButtonSnoozes()
{
    // A bus of its own with the stand-in as its notification server; the X desktop stays the same.
    auto daemon = std::make_unique<QProcess>();
    QProcess& busDaemon = *daemon;
    const auto stopDaemon = qScopeGuard([&daemon] { StopProcess(daemon); });
    DieWithTest(busDaemon);
    busDaemon.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    QVERIFY(busDaemon.waitForStarted(10000));
    QVERIFY(WaitUntil([&] { return busDaemon.canReadLine(); }, 10000));
    const QString address = QString::fromLatin1(busDaemon.readLine().trimmed());
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("stand-in-bus"));
        QVERIFY(bus.isConnected());
        StandInNotifications server(bus);
        QVERIFY(server.Register());
        BusListener listener;
        QVERIFY(listener.Listen(bus));

        const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs + 1000);
        ProgramSetup setup;
        setup.alarms = {Journey::Stored(ringingAlarm(QTime(7, 0), QStringLiteral("Stand-in"), false))};
        setup.clockOffsetMs = ring.offsetMs;
        setup.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        Program program(m_desktop, m_exe);
        JOURNEY_VERIFY(startOn(program, setup), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(
            WaitUntil([&] { return !server.shown.isEmpty(); }, int(ring.realDueMs - ShiftedClock::NowMs()) + 5000),
            qPrintable(QStringLiteral("no notification") + logOf(program)));
        const StandInNotifications::Shown shown = server.shown.constFirst();
        QCOMPARE(shown.actions,
                 (QStringList{QStringLiteral("default"), QStringLiteral("OK"), QStringLiteral("snooze"),
                              QStringLiteral("Snooze"), QStringLiteral("dismiss"), QStringLiteral("Dismiss")}));
        QVERIFY(shown.hints.contains(QStringLiteral("urgency")));
        QCOMPARE(shown.hints.value(QStringLiteral("urgency")).metaType(), QMetaType::fromType<uchar>());
        QCOMPARE(shown.hints.value(QStringLiteral("urgency")).value<uchar>(), uchar(2));
        QVERIFY(WaitUntil([&] { return listener.ringing.size() == 1; }, 3000));

        // Another notification's button is not this alarm's answer.
        server.Invoke(server.lastId + 7, QStringLiteral("snooze"));
        server.Invoke(server.lastId, QStringLiteral("snooze"));
        JOURNEY_VERIFY(WaitUntil([&] { return listener.dismissed == 1; }, 5000),
                       qPrintable(QStringLiteral("Snooze on the notification did nothing") + logOf(program)));
        QVERIFY(program.WaitForLog(QStringLiteral("Snoozed"), 1, 3000));
        QCOMPARE(program.LogCount(QStringLiteral("Notification action: snooze")), 1);
        QCOMPARE(callProgram(bus, QStringLiteral("Dismiss")).errorName(),
                 QStringLiteral("org.larkbell.Larkbell.Error.NotRinging"));
        closeProgram(program);
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in-bus"));
    }
}

QTEST_GUILESS_MAIN(TestBusJourneys)
#include "tst_bus.moc"

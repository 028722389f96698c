// What a ringing alarm holds: media players on a private session bus paused and resumed, and the login
// manager's sleep lock on a private bus standing in for the system bus; both stand-ins run in this process,
// on connections of their own.
#include "TestSupport.h"
#include "platform/RingingGuards.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// The log lines of the platform layer, for the decisions that send nothing a stand-in could see.
QStringList g_log;
void CaptureLog(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_log.append(message);
}

bool Logged(const QString& needle)
{
    return std::any_of(g_log.cbegin(), g_log.cend(), [&](const QString& line) { return line.contains(needle); });
}

/** A media player: PlaybackStatus and Metadata, Pause and Play, and what was asked of it. */
class StandInPlayer final : public QDBusVirtualObject
{
public:
    StandInPlayer(const QString& name, bool answers = true)
        : m_connectionName(QStringLiteral("player-") + name)
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName))
        , m_answers(answers)
    {
        m_bus.registerVirtualObject(kPlayerPath, this);
        m_bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + name);
    }
    ~StandInPlayer() override
    {
        m_bus.unregisterObject(kPlayerPath);
        QDBusConnection::disconnectFromBus(m_connectionName);
    }

    QString status = QStringLiteral("Playing");
    QString track = QStringLiteral("/org/standin/track/1");
    QStringList calls; // Pause, Play, GetAll in the order they came

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        calls.append(message.member());
        if (!m_answers)
            return true;
        if (message.member() == QLatin1String("GetAll")) {
            QVariantMap metadata{{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(track))},
                                 {QStringLiteral("xesam:url"), QStringLiteral("file:///music/a.ogg")}};
            QVariantMap properties{{QStringLiteral("PlaybackStatus"), status}, {QStringLiteral("Metadata"), metadata}};
            connection.send(message.createReply(QVariant(properties)));
            return true;
        }
        if (message.member() == QLatin1String("Pause"))
            status = QStringLiteral("Paused");
        else if (message.member() == QLatin1String("Play"))
            status = QStringLiteral("Playing");
        connection.send(message.createReply());
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    qsizetype Count(const QString& member) const { return calls.count(member); }

private:
    QString m_connectionName;
    QDBusConnection m_bus;
    bool m_answers;
};

/** The login manager: Inhibit hands out one end of a pipe and keeps the other to see it closed. */
class StandInLogin final : public QDBusVirtualObject
{
public:
    explicit StandInLogin(const QString& address)
        : m_bus(QDBusConnection::connectToBus(address, QStringLiteral("login-manager")))
    {
        m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), this);
        m_bus.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    ~StandInLogin() override
    {
        for (int fd : readEnds)
            ::close(fd);
        QDBusConnection::disconnectFromBus(QStringLiteral("login-manager"));
    }

    QList<QVariantList> requests;
    QList<int> readEnds;
    bool holdAnswers = false; // the answers wait for AnswerHeld
    QList<QDBusMessage> held;

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Inhibit"))
            return false;
        requests.append(message.arguments());
        if (holdAnswers) {
            message.setDelayedReply(true);
            held.append(message);
            return true;
        }
        return Answer(message, connection);
    }

    void AnswerHeld()
    {
        for (const QDBusMessage& message : std::exchange(held, {}))
            Answer(message, m_bus);
    }

    bool Answer(const QDBusMessage& message, const QDBusConnection& connection)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return false;
        readEnds.append(ends[0]);
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
        ::close(ends[1]); // the reply took a copy
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    /** True once every copy of the last lock's descriptor is closed. */
    bool LastReleased() const
    {
        if (readEnds.isEmpty())
            return false;
        pollfd p{readEnds.last(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
    }

private:
    QDBusConnection m_bus;
};

/** Records what the guards ask, for the order of ring, snooze and dismissal. */
struct Record {
    QStringList calls;
};
class RecordingMedia final : public MediaPause
{
public:
    explicit RecordingMedia(Record& record)
        : m_record(record)
    {}
    void PausePlayers() override { m_record.calls.append(QStringLiteral("pause")); }
    void ResumePlayers() override { m_record.calls.append(QStringLiteral("resume")); }

private:
    Record& m_record;
};
class RecordingSleep final : public SleepInhibitor
{
public:
    explicit RecordingSleep(Record& record)
        : m_record(record)
    {}
    void Hold() override
    {
        m_record.calls.append(QStringLiteral("hold"));
        m_held = true;
    }
    void Release() override
    {
        if (m_held)
            m_record.calls.append(QStringLiteral("release"));
        m_held = false;
    }
    bool Held() const override { return m_held; }

private:
    Record& m_record;
    bool m_held = false;
};

} // namespace

class TestRingingGuards : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "run inside dbus-run-session");
        // A second private bus plays the system bus; it must be set before anything connects to "the system bus".
        m_systemBus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                          QStringLiteral("--print-address=1")});
        QVERIFY(m_systemBus.waitForReadyRead(5000));
        const QByteArray address = m_systemBus.readLine().trimmed();
        QVERIFY(!address.isEmpty());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        m_login = std::make_unique<StandInLogin>(QString::fromLatin1(address));
        qInstallMessageHandler(CaptureLog);
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(nullptr);
        m_login.reset();
        m_systemBus.kill();
        m_systemBus.waitForFinished(3000);
    }

    void init() { g_log.clear(); }

    void snoozeKeepsPlayersPausedButNotSleep()
    {
        Record record;
        {
            RingingGuards guards(std::make_unique<RecordingMedia>(record), std::make_unique<RecordingSleep>(record));
            guards.Ringing();
            QCOMPARE(record.calls, (QStringList{"pause", "hold"}));
            guards.Snoozed();
            QCOMPARE(record.calls.last(), QStringLiteral("release"));
            QCOMPARE(guards.CurrentState(), RingingGuards::State::Snoozed);
            // The snooze rings again: a player started in between is paused too, and sleep held again.
            guards.Ringing();
            QCOMPARE(record.calls.mid(3), (QStringList{"pause", "hold"}));
            guards.Dismissed();
            QCOMPARE(record.calls.mid(5), (QStringList{"release", "resume"}));
            guards.SnoozeCancelled();
            guards.Dismissed();
            QCOMPARE(record.calls.size(), 7);

            // A cancelled snooze resumes the players; a cancel while it rings changes nothing.
            guards.Ringing();
            guards.SnoozeCancelled();
            QCOMPARE(guards.CurrentState(), RingingGuards::State::Ringing);
            guards.Snoozed();
            guards.SnoozeCancelled();
            QCOMPARE(record.calls.mid(7), (QStringList{"pause", "hold", "release", "resume"}));
            guards.Ringing();
        }
        // Ending the program while it rings lets everything go.
        QCOMPARE(record.calls.mid(11), (QStringList{"pause", "hold", "release", "resume"}));
        // Either part may be missing.
        RingingGuards none(nullptr, nullptr);
        none.Ringing();
        none.Snoozed();
        none.Dismissed();
    }

    void playersArePausedAtTheRingAndResumedAtTheDismissal()
    {
        StandInPlayer playing(QStringLiteral("playing"));
        StandInPlayer stopped(QStringLiteral("stopped"));
        stopped.status = QStringLiteral("Stopped");
        RingingGuards guards(CreateMediaPause(), nullptr);
        guards.Ringing();
        QTRY_COMPARE_WITH_TIMEOUT(playing.Count(QStringLiteral("Pause")), 1, 5000);
        QCOMPARE(playing.status, QStringLiteral("Paused"));
        QTRY_VERIFY_WITH_TIMEOUT(stopped.Count(QStringLiteral("GetAll")) == 1, 5000);

        guards.Dismissed();
        QTRY_COMPARE_WITH_TIMEOUT(playing.Count(QStringLiteral("Play")), 1, 5000);
        QCOMPARE(playing.status, QStringLiteral("Playing"));
        // The player that was not playing was neither paused nor started.
        QCOMPARE(stopped.calls, QStringList{QStringLiteral("GetAll")});
    }

    void aPlayerTheUserChangedIsLeftAlone_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("track");
        QTest::newRow("started again") << "Playing"
                                       << "/org/standin/track/1";
        QTest::newRow("stopped") << "Stopped"
                                 << "/org/standin/track/1";
        QTest::newRow("another track") << "Paused"
                                       << "/org/standin/track/2";
    }

    void aPlayerTheUserChangedIsLeftAlone()
    {
        QFETCH(QString, status);
        QFETCH(QString, track);
        StandInPlayer player(QStringLiteral("changed"));
        RingingGuards guards(CreateMediaPause(), nullptr);
        guards.Ringing();
        QTRY_COMPARE_WITH_TIMEOUT(player.Count(QStringLiteral("Pause")), 1, 5000);
        player.status = status;
        player.track = track;
        guards.Dismissed();
        QTRY_VERIFY_WITH_TIMEOUT(Logged(QStringLiteral("left as it is")), 5000);
        QCOMPARE(player.Count(QStringLiteral("Play")), 0);
        QCOMPARE(player.status, status);
    }

    void aFrozenPlayerHoldsNothingUp()
    {
        StandInPlayer frozen(QStringLiteral("frozen"), false);
        StandInPlayer playing(QStringLiteral("lively"));
        RingingGuards guards(CreateMediaPause(), nullptr);
        // Let the bus connection come up first, so that the calls below go out at once.
        guards.Ringing();
        QTRY_COMPARE_WITH_TIMEOUT(playing.Count(QStringLiteral("Pause")), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(frozen.Count(QStringLiteral("GetAll")), 1, 5000);
        guards.Dismissed();
        QTRY_COMPARE_WITH_TIMEOUT(playing.Count(QStringLiteral("Play")), 1, 5000);
        // The frozen player is asked again at the next ring, and nothing waits for it.
        QVERIFY(ElapsedMs([&] { guards.Ringing(); }) < kReturnsWithinMs);
        QTRY_COMPARE_WITH_TIMEOUT(playing.Count(QStringLiteral("Pause")), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(frozen.Count(QStringLiteral("GetAll")), 2, 5000);
        QVERIFY(ElapsedMs([&] { guards.Dismissed(); }) < kReturnsWithinMs);
        QTRY_COMPARE_WITH_TIMEOUT(playing.Count(QStringLiteral("Play")), 2, 5000);
        QCOMPARE(frozen.Count(QStringLiteral("Pause")), 0);
    }

    void sleepIsHeldWhileItRings()
    {
        m_login->requests.clear();
        RingingGuards guards(nullptr, CreateSleepInhibitor());
        guards.Ringing();
        QTRY_COMPARE_WITH_TIMEOUT(m_login->requests.size(), 1, 5000);
        QCOMPARE(m_login->requests.constFirst(),
                 (QVariantList{QStringLiteral("sleep"), QStringLiteral("Larkbell"),
                               QStringLiteral("An alarm is ringing"), QStringLiteral("block")}));
        // Held: nothing but this program has the descriptor open now.
        QTRY_VERIFY_WITH_TIMEOUT(Logged(QStringLiteral("Sleep inhibitor held")), 5000);
        QVERIFY(!m_login->LastReleased());

        guards.Snoozed();
        QVERIFY(m_login->LastReleased());
        guards.Ringing();
        QTRY_COMPARE_WITH_TIMEOUT(m_login->requests.size(), 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(g_log.count(QStringLiteral("Sleep inhibitor held")) == 2, 5000);
        QVERIFY(!m_login->LastReleased());
        guards.Dismissed();
        QVERIFY(m_login->LastReleased());
    }

    void aLockGrantedAfterTheDismissalIsLetGo()
    {
        m_login->requests.clear();
        m_login->holdAnswers = true;
        RingingGuards guards(nullptr, CreateSleepInhibitor());
        guards.Ringing();
        QTRY_COMPARE_WITH_TIMEOUT(m_login->requests.size(), 1, 5000);
        guards.Dismissed();
        m_login->holdAnswers = false;
        m_login->AnswerHeld();
        QTRY_VERIFY_WITH_TIMEOUT(m_login->LastReleased(), 5000);
        QVERIFY(!Logged(QStringLiteral("Sleep inhibitor held")));
        // The next ring asks anew and gets it.
        guards.Ringing();
        QTRY_VERIFY_WITH_TIMEOUT(Logged(QStringLiteral("Sleep inhibitor held")), 5000);
        QCOMPARE(m_login->requests.size(), 2);
        QVERIFY(!m_login->LastReleased());
        guards.Dismissed();
        QVERIFY(m_login->LastReleased());
    }

private:
    QProcess m_systemBus;
    std::unique_ptr<StandInLogin> m_login;
};

QTEST_GUILESS_MAIN(TestRingingGuards)
#include "tst_ringingguards.moc"

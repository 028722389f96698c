// While an alarm rings, with the real program on a private desktop: a media player on the session bus is
// paused at the ring and plays again after OK, the login manager's sleep lock is held meanwhile, and with the
// sound server gone the alarm is still heard, straight through a sound device that writes to a file.
#include "Desktop.h"
#include "Journey.h"
#include "Program.h"
#include "ShiftedClock.h"
#include "User.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kLeadMs = 2500;
const QString kFileDevice = QStringLiteral("larkbelltest");

/** A media player that plays until it is told otherwise, and what it was told. */
class StandInPlayer final : public QDBusVirtualObject
{
public:
    explicit StandInPlayer(const QByteArray& address)
        : m_bus(QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("journey-player")))
    {
        m_bus.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), this);
        m_bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.journey"));
    }
    ~StandInPlayer() override { QDBusConnection::disconnectFromBus(QStringLiteral("journey-player")); }

    QString status = QStringLiteral("Playing");
    QStringList commands; // Pause and Play as they came

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QLatin1String("GetAll")) {
            const QVariantMap metadata{
                {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath("/journey/track/1"))}};
            connection.send(message.createReply(QVariant(
                QVariantMap{{QStringLiteral("PlaybackStatus"), status}, {QStringLiteral("Metadata"), metadata}})));
            return true;
        }
        commands.append(message.member());
        status = message.member() == QLatin1String("Pause") ? QStringLiteral("Paused") : QStringLiteral("Playing");
        connection.send(message.createReply());
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

private:
    QDBusConnection m_bus;
};

/** The login manager on a bus the program takes for the system bus: Inhibit hands out one end of a pipe. */
class StandInLogin final : public QDBusVirtualObject
{
public:
    explicit StandInLogin(const QByteArray& address)
        : m_bus(QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("journey-login")))
    {
        m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), this);
        m_bus.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    ~StandInLogin() override
    {
        if (m_readEnd >= 0)
            ::close(m_readEnd);
        QDBusConnection::disconnectFromBus(QStringLiteral("journey-login"));
    }

    QStringList whats;

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Inhibit") || message.arguments().isEmpty())
            return false;
        whats.append(message.arguments().constFirst().toString());
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return false;
        if (m_readEnd >= 0)
            ::close(m_readEnd);
        m_readEnd = ends[0];
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
        ::close(ends[1]);
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    /** The lock handed out last is held by someone still. */
    bool Held() const
    {
        if (m_readEnd < 0)
            return false;
        pollfd p{m_readEnd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }

private:
    QDBusConnection m_bus;
    int m_readEnd = -1;
};

qint64 LoudSamples(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    const auto* samples = reinterpret_cast<const std::int16_t*>(bytes.constData());
    qint64 loud = 0;
    for (qsizetype i = 0; i < bytes.size() / 2; ++i)
        loud += std::abs(int(samples[i])) > 1000 ? 1 : 0;
    return loud;
}

} // namespace

class TestRingingJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString why;
        JOURNEY_VERIFY(
            Journey::SetUp(m_desktop, Desktop::Options{}, QStringLiteral(LARKBELL_EXE), &m_exe, &m_ringSound, &why),
            qPrintable(why));
        // The program's home has a sound device that writes what it plays to a file.
        m_home = QDir(m_desktop.Scratch()).filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(m_home));
        m_deviceFile = QDir(m_home).filePath(QStringLiteral("device.raw"));
        QFile rc(QDir(m_home).filePath(QStringLiteral(".asoundrc")));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write(QStringLiteral("pcm.%1 {\n  type file\n  slave.pcm \"null\"\n  file \"%2\"\n  format \"raw\"\n}\n")
                     .arg(kFileDevice, m_deviceFile)
                     .toUtf8());
    }

    void cleanupTestCase() { m_desktop.Stop(); }

    void aPlayerPausesForTheAlarmAndPlaysAgainAfterOK()
    {
        StandInPlayer player(m_desktop.BusAddress());
        StandInLogin login(m_desktop.BusAddress());
        const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
        AlarmRecord alarm = Journey::Alarm(QTime(7, 0), m_ringSound);
        alarm.Snooze = false; // OK alone fills the button row
        ProgramSetup setup;
        setup.alarms = {Journey::Stored(alarm)};
        setup.clockOffsetMs = ring.offsetMs;
        setup.environment = environment();
        // The desktop's bus stands in for the system bus too.
        setup.environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                                 QString::fromLatin1(m_desktop.BusAddress()));
        Program program(m_desktop, m_exe);
        User user(program);
        QString why;
        JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        QVERIFY(player.commands.isEmpty());

        XWindow window;
        JOURNEY_VERIFY(
            program.WaitForWindow(WindowKind::Alarm, int(ring.realDueMs - ShiftedClock::NowMs()) + 5000, &window),
            qPrintable(QStringLiteral("the alarm did not ring\n") + program.Diagnostics()));
        JOURNEY_VERIFY(WaitUntil([&] { return player.commands == QStringList{QStringLiteral("Pause")}; }, 5000),
                       qPrintable(QStringLiteral("the player was not paused: ") + player.commands.join(u',') + u'\n' +
                                  program.LogText()));
        JOURNEY_VERIFY(WaitUntil([&] { return login.Held(); }, 5000),
                       qPrintable(QStringLiteral("no sleep lock while ringing\n") + program.LogText()));
        QCOMPARE(login.whats, QStringList{QStringLiteral("sleep")});

        // OK: the lock goes, the music comes back.
        QVERIFY2(user.Click(window, window.geometry.width() / 2, 268), qPrintable(user.LastError()));
        JOURNEY_VERIFY(program.WaitForNoWindow(WindowKind::Alarm, 3000), "OK did not close the alarm window");
        JOURNEY_VERIFY(WaitUntil([&] { return player.commands.size() == 2; }, 5000),
                       qPrintable(QStringLiteral("the player was not resumed: ") + player.commands.join(u',')));
        QCOMPARE(player.commands.last(), QStringLiteral("Play"));
        JOURNEY_VERIFY(WaitUntil([&] { return !login.Held(); }, 3000), "the sleep lock was kept after OK");
        close(program);
    }

    void aDeadSoundServerStillLetsTheAlarmBeHeard()
    {
        const ShiftedClock::Ring ring = ShiftedClock::PlanRing(QTime(7, 0), kLeadMs);
        ProgramSetup setup;
        setup.alarms = {Journey::Stored(Journey::Alarm(QTime(7, 0), m_ringSound))};
        setup.clockOffsetMs = ring.offsetMs;
        setup.environment = environment();
        Program program(m_desktop, m_exe);
        QString why;
        JOURNEY_VERIFY(program.Start(setup, &why), qPrintable(why));
        JOURNEY_VERIFY(program.WaitUntilStarted(), qPrintable(program.Diagnostics()));
        JOURNEY_VERIFY(ShiftedClock::NowMs() < ring.realDueMs - 300, "the program took too long to start");

        // The sound server crashes before the alarm; the program had its stream prepared there.
        QFile::remove(m_deviceFile);
        m_desktop.Pulse().Kill();
        JOURNEY_VERIFY(program.WaitForWindow(WindowKind::Alarm, int(ring.realDueMs - ShiftedClock::NowMs()) + 5000),
                       qPrintable(QStringLiteral("the alarm did not ring\n") + program.Diagnostics()));
        JOURNEY_VERIFY(WaitUntil([&] { return LoudSamples(m_deviceFile) > 44100; }, 10000),
                       qPrintable(QStringLiteral("nothing loud reached the sound device (%1 loud samples)\n")
                                      .arg(LoudSamples(m_deviceFile)) +
                                  program.LogText()));
        JOURNEY_VERIFY(program.LogText().contains(QLatin1String("playing on the sound device: started")),
                       qPrintable(program.LogText()));
        close(program);
    }

private:
    QMap<QString, QString> environment() const
    {
        return {{QStringLiteral("HOME"), m_home}, {QStringLiteral("LARKBELL_ALSA_DEVICE"), kFileDevice}};
    }

    static void close(Program& program)
    {
        if (!program.Running())
            return;
        program.RunSecondCopy({QStringLiteral("-close")}, 5000);
        if (!program.WaitForExit(3000))
            program.Kill();
    }

    Desktop m_desktop;
    QString m_exe;
    QString m_ringSound;
    QString m_home;
    QString m_deviceFile;
};

QTEST_MAIN(TestRingingJourneys)
#include "tst_ringing.moc"

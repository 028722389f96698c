// One copy of the program per user, whatever the timing: two copies of the real executable started
// at the same moment leave exactly one running, and a process of another user can neither show nor end
// our copy, through the program or by writing to its channel directly.
#include "PrivateCopy.h"
#include "linux/LinuxInstanceChannel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kDefaultRounds = 50;
constexpr int kStartTimeoutMs = 20000;
constexpr uid_t kNobody = 65534;

PrivateCopy& program()
{
    static PrivateCopy copy(QStringLiteral(LARKBELL_EXE));
    return copy;
}

QString exePath()
{
    return program().Path();
}

QProcessEnvironment programEnvironment(const QString& dataDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LARKBELL_DATA_DIR"), dataDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

QString logOf(const QString& dataDir)
{
    QFile file(dataDir + QStringLiteral("/Log.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int closeCopy(const QString& dataDir, const QStringList& prefix = {})
{
    QProcess close;
    close.setProcessEnvironment(programEnvironment(dataDir));
    close.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList command = prefix + QStringList{exePath(), QStringLiteral("-close")};
    close.start(command.first(), command.mid(1));
    return close.waitForFinished(kStartTimeoutMs) && close.exitStatus() == QProcess::NormalExit ? close.exitCode() : -1;
}

enum class Sent { Delivered, NotConnected, Refused, NotSwitched };

// Sends one request to the abstract socket `name` from a child process running as user nobody.
Sent sendAsNobody(const std::string& name, int message)
{
    const pid_t child = ::fork();
    if (child < 0)
        return Sent::NotSwitched;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(int(Sent::NotSwitched));
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), std::min(name.size(), sizeof address.sun_path - 2));
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0)
            ::_exit(int(Sent::NotConnected));
        const std::array<std::int32_t, 3> packet{message, InstanceMessage::Param1, InstanceMessage::Param2};
        ::_exit(int(::send(fd, packet.data(), sizeof packet, MSG_NOSIGNAL) == sizeof packet ? Sent::Delivered
                                                                                            : Sent::Refused));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? Sent(WEXITSTATUS(status)) : Sent::NotSwitched;
}

} // namespace

class TestInstanceRace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(program().Ok()); }
    void twoCopiesStartedTogetherLeaveExactlyOne();
    void anotherUserCannotShowOrEndOurCopy();
};

void TestInstanceRace::twoCopiesStartedTogetherLeaveExactlyOne()
{
    const int rounds = qEnvironmentVariableIsSet("LARKBELL_RACE_ROUNDS")
                           ? qEnvironmentVariableIntValue("LARKBELL_RACE_ROUNDS")
                           : kDefaultRounds;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir data;
        std::array<QProcess, 2> copies;
        for (QProcess& copy : copies) {
            copy.setProcessEnvironment(programEnvironment(data.path()));
            copy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        // Started back to back: both reach the claim while the other is still starting.
        for (QProcess& copy : copies)
            copy.start(exePath(), {QStringLiteral("-autorun"), QStringLiteral("-debug")});
        // The copy that gave way hands over and ends; the other goes on running and hears of it. (Each run
        // starts Log.txt afresh, so only lines after the hand-over are sure to stay in the shared log.)
        const auto ended = [&] {
            return int(std::count_if(copies.begin(), copies.end(),
                                     [](const QProcess& p) { return p.state() == QProcess::NotRunning; }));
        };
        QTRY_VERIFY_WITH_TIMEOUT(ended() >= 1 &&
                                     logOf(data.path()).contains(QStringLiteral("Request from another copy: 1425")),
                                 kStartTimeoutMs);
        QVERIFY2(ended() == 1,
                 qPrintable(
                     QStringLiteral("round %1: %2 copies ended\n%3").arg(round).arg(ended()).arg(logOf(data.path()))));
        QProcess& gone = copies[0].state() == QProcess::NotRunning ? copies[0] : copies[1];
        QProcess& running = &gone == &copies[0] ? copies[1] : copies[0];
        QCOMPARE(gone.exitStatus(), QProcess::NormalExit);
        QCOMPARE(gone.exitCode(), 0);
        QCOMPARE(running.state(), QProcess::Running);
        QCOMPARE(closeCopy(data.path()), 0);
        QVERIFY(running.waitForFinished(kStartTimeoutMs));
        QCOMPARE(running.exitCode(), 0);
    }
    qInfo("%d rounds of two copies started together: one stayed each time (%lld ms)", rounds, elapsed.elapsed());
}

void TestInstanceRace::anotherUserCannotShowOrEndOurCopy()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run processes as another user (uid 65534)");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv (util-linux) is not installed");
    const QStringList asNobody = {setpriv, QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups"), QStringLiteral("--")};

    QTemporaryDir ours;
    QTemporaryDir theirs; // the other user's own data folder
    QVERIFY(QFile::setPermissions(theirs.path(), QFile::Permissions(0x7777)));
    QProcess copy;
    copy.setProcessEnvironment(programEnvironment(ours.path()));
    copy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    copy.start(exePath(), {QStringLiteral("-autorun"), QStringLiteral("-debug")});
    QTRY_VERIFY_WITH_TIMEOUT(logOf(ours.path()).contains(QStringLiteral("Tray icon shown")), kStartTimeoutMs);

    // The program itself, started by the other user with CLOSE, reaches no copy of ours.
    QCOMPARE(closeCopy(theirs.path(), asNobody), 0);

    // Their own copy runs beside ours (each user has one) and shows nothing of ours.
    QProcess their;
    QProcessEnvironment env = programEnvironment(theirs.path());
    env.insert(QStringLiteral("HOME"), theirs.path());
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    their.setProcessEnvironment(env);
    their.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    their.start(asNobody.first(),
                asNobody.mid(1) + QStringList{exePath(), QStringLiteral("-autorun"), QStringLiteral("-debug")});
    QTRY_VERIFY_WITH_TIMEOUT(logOf(theirs.path()).contains(QStringLiteral("Tray icon shown")), kStartTimeoutMs);
    QCOMPARE(their.state(), QProcess::Running);

    // Requests written straight to our channel by a process of the other user are dropped.
    const std::string exe = QFileInfo(exePath()).canonicalFilePath().toStdString();
    for (int slot = 0; slot < LinuxInstanceChannel::kSlots; ++slot) {
        const std::string name = LinuxInstanceChannel::SocketName(exe, ::geteuid(), slot);
        for (int message : {InstanceMessage::Show, InstanceMessage::Exit}) {
            const Sent sent = sendAsNobody(name, message);
            if (sent == Sent::NotSwitched)
                QSKIP("cannot switch a process to user nobody here");
            // Our copy listens on the first name: the stranger reaches it, and is dropped there.
            if (slot == 0)
                QVERIFY(sent == Sent::Delivered || sent == Sent::Refused);
        }
    }
    // A request of our own as the control: once it is logged, the earlier ones have been dealt with.
    QVERIFY(LinuxInstanceChannel::Send(exe, InstanceMessage::Show, InstanceMessage::Param1, InstanceMessage::Param2));
    QTRY_VERIFY_WITH_TIMEOUT(logOf(ours.path()).contains(QStringLiteral("Request from another copy: 1425")),
                             kStartTimeoutMs);
    QCOMPARE(logOf(ours.path()).count(QStringLiteral("Request from another copy")), 1);
    QCOMPARE(copy.state(), QProcess::Running);

    QCOMPARE(closeCopy(theirs.path(), asNobody), 0);
    QVERIFY(their.waitForFinished(kStartTimeoutMs));
    QCOMPARE(copy.state(), QProcess::Running);
    QCOMPARE(closeCopy(ours.path()), 0);
    QVERIFY(copy.waitForFinished(kStartTimeoutMs));
}

QTEST_GUILESS_MAIN(TestInstanceRace)
#include "tst_instancerace.moc"

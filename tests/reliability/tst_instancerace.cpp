// One copy of the program per user, whatever the timing: two copies of the real executable started
// at the same moment leave exactly one running, also where a killed copy left its socket, and a process
// of another user can neither keep our copy from starting nor show or end it, through the program or by
// writing to its channel directly.
#include "PrivateCopy.h"
#include "platform/linux/LinuxInstanceChannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// A socket file, or an abstract name after '@'.
sockaddr_un addressOf(const std::string& target, socklen_t& length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t size = std::min(target.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path, target.data(), size);
    if (target.front() == '@')
        address.sun_path[0] = '\0';
    length = socklen_t(offsetof(sockaddr_un, sun_path) + size + (target.front() == '@' ? 0 : 1));
    return address;
}

bool switchToNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// Sends one request to `target` from a child process running as user nobody.
Sent sendAsNobody(const std::string& target, int message)
{
    socklen_t length = 0;
    const sockaddr_un address = addressOf(target, length);
    const pid_t child = ::fork();
    if (child < 0)
        return Sent::NotSwitched;
    if (child == 0) {
        if (!switchToNobody())
            ::_exit(int(Sent::NotSwitched));
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
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

// The abstract names earlier versions listened on, which anyone could take first.
std::vector<std::string> oldAbstractNames(const std::string& exe)
{
    const std::string name = "@larkbell." + std::to_string(::geteuid()) + '.' +
                             QCryptographicHash::hash(QByteArray::fromStdString(exe), QCryptographicHash::Sha256)
                                 .toHex()
                                 .left(32)
                                 .toStdString();
    return {name, name + ".1", name + ".2", name + ".3"};
}

/**
 * A process of user nobody sitting on every name of ours it can guess: the old abstract names, and our
 * socket and lock file in the shared temporary folder, which it creates open to all. Ends with the object.
 */
class Squatter final
{
public:
    Squatter(const std::vector<std::string>& sockets, const std::string& lockFile)
    {
        std::vector<std::pair<sockaddr_un, socklen_t>> addresses;
        for (const std::string& target : sockets) {
            socklen_t length = 0;
            addresses.emplace_back(addressOf(target, length), length);
        }
        std::string folder;
        for (const std::string& target : sockets) {
            if (target.front() != '@')
                folder = target.substr(0, target.rfind('/'));
        }
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_stop) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(m_stop[1]);
            bool taken = switchToNobody();
            if (taken && !folder.empty())
                taken = (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) && ::chmod(folder.c_str(), 0777) == 0;
            for (const auto& [address, length] : addresses) {
                const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
                taken = taken && fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                        ::listen(fd, 4) == 0;
            }
            const int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0666);
            taken = taken && lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0;
            const char answer = taken ? 'y' : 'n';
            if (::write(ready[1], &answer, 1) == 1) {
                char ignored;
                while (::read(m_stop[0], &ignored, 1) > 0) {
                }
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(m_stop[0]);
        pollfd wait{ready[0], POLLIN, 0};
        char answer = 'n';
        m_ok =
            m_pid > 0 && ::poll(&wait, 1, kStartTimeoutMs) == 1 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }
    ~Squatter()
    {
        ::close(m_stop[1]);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    bool Ok() const { return m_ok; }

private:
    pid_t m_pid = -1;
    int m_stop[2] = {-1, -1};
    bool m_ok = false;
};

LinuxInstanceChannel::Place placeOf(const QString& exe)
{
    return LinuxInstanceChannel::Locate(QFileInfo(exe).canonicalFilePath().toStdString())
        .value_or(LinuxInstanceChannel::Place{});
}

// What a copy that died leaves behind: its socket file, nobody listening and the lock free.
bool leaveStaleSocket(const std::string& path)
{
    socklen_t length = 0;
    const sockaddr_un address = addressOf(path, length);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(fd, 1) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}

} // namespace

class TestInstanceRace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoCopiesStartedTogetherLeaveExactlyOne();
    void anotherUserCannotShowOrEndOurCopy();

private:
    QTemporaryDir m_runtime; // this user's private runtime folder, for the test and the copies it starts
    QTemporaryDir m_temp;    // stands in for /tmp, open to all
};

void TestInstanceRace::initTestCase()
{
    QVERIFY(program().Ok());
    QVERIFY(m_runtime.isValid() && m_temp.isValid());
    QVERIFY(::chmod(QFile::encodeName(m_temp.path()).constData(), 01777) == 0);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
}

void TestInstanceRace::twoCopiesStartedTogetherLeaveExactlyOne()
{
    const int rounds = qEnvironmentVariableIsSet("LARKBELL_RACE_ROUNDS")
                           ? qEnvironmentVariableIntValue("LARKBELL_RACE_ROUNDS")
                           : kDefaultRounds;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir data;
        // Every other round starts where a killed copy left its socket file.
        if (round % 2 == 1)
            QVERIFY(leaveStaleSocket(placeOf(exePath()).socket));
        std::array<QProcess, 2> copies;
        for (QProcess& copy : copies) {
            copy.setProcessEnvironment(programEnvironment(data.path()));
            copy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        // Started back to back: both reach the claim while the other is still starting.
        for (QProcess& copy : copies)
            copy.start(exePath(), {QStringLiteral("-autorun"), QStringLiteral("-debug")});
        // The copy that gave way hands over and ends; the other goes on running and hears of it.
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

    // The other user sits on every name of ours it can guess before our copy starts.
    const std::string exe = QFileInfo(exePath()).canonicalFilePath().toStdString();
    const LinuxInstanceChannel::Place place = placeOf(exePath());
    const std::string guessed = m_temp.filePath(QStringLiteral("larkbell-%1/").arg(::geteuid())).toStdString() +
                                place.socket.substr(place.folder.size() + 1);
    std::vector<std::string> names = oldAbstractNames(exe);
    names.push_back(guessed);
    const Squatter squatter(names, guessed.substr(0, guessed.size() - 4) + "lock");
    QVERIFY(squatter.Ok());

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

    // Requests written straight to our channel by a process of the other user do not even reach it.
    for (int message : {InstanceMessage::Show, InstanceMessage::Exit}) {
        const Sent sent = sendAsNobody(place.socket, message);
        if (sent == Sent::NotSwitched)
            QSKIP("cannot switch a process to user nobody here");
        QCOMPARE(sent, Sent::NotConnected);
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

#include "platform/Platform.h"
#include "platform/linux/LinuxInstanceChannel.h"

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <grp.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWaitMs = 10000;
constexpr uid_t kNobody = 65534;

// Requests as the running copy's callback saw them.
struct Inbox {
    std::vector<int> messages;
    bool onMainThread = true;
    std::function<void(int)> callback()
    {
        return [this](int message) {
            messages.push_back(message);
            onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
};

bool SendValid(const std::string& exePath, int message)
{
    return LinuxInstanceChannel::Send(exePath, message, InstanceMessage::Param1, InstanceMessage::Param2);
}

sockaddr_un SocketFileAddress(const std::string& path, socklen_t& length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size() + 1, sizeof address.sun_path));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return address;
}

// Bytes straight onto the channel's socket, past the sending side's own checks.
bool SendRaw(const std::string& socketPath, const QByteArray& bytes)
{
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = SocketFileAddress(socketPath, length);
    const bool sent = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                      ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    return sent;
}

// What a copy that died leaves behind: its socket file, with nobody listening and the lock free.
bool LeaveStaleSocket(const std::string& socketPath)
{
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = SocketFileAddress(socketPath, length);
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(fd, 1) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound && QFileInfo::exists(QString::fromStdString(socketPath));
}

QByteArray Packet(int message, int param1, int param2)
{
    const std::array<std::int32_t, 3> numbers{message, param1, param2};
    return QByteArray(reinterpret_cast<const char*>(numbers.data()), sizeof numbers);
}

LinuxInstanceChannel::Place PlaceOf(const std::string& exePath)
{
    return LinuxInstanceChannel::Locate(exePath).value_or(LinuxInstanceChannel::Place{});
}

// The abstract names earlier versions listened on: a stranger who read that code would take these first.
QStringList OldAbstractNames(const std::string& exePath)
{
    const QString canonical = QFileInfo(QString::fromStdString(exePath)).canonicalFilePath();
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(32));
    const QString name = QStringLiteral("@larkbell.%1.%2").arg(::geteuid()).arg(hash);
    return {name, name + QStringLiteral(".1"), name + QStringLiteral(".2"), name + QStringLiteral(".3")};
}

bool MakeFolder(const QString& path, mode_t mode)
{
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool GiveToNobody(const QString& path)
{
    return ::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0;
}

QString Canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

unsigned ModeOf(const QString& path)
{
    struct stat info {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// One copy of the helper program, started and stopped by the test.
class Helper final
{
public:
    explicit Helper(const QStringList& arguments, bool asNobody = false)
    {
        if (asNobody) {
            m_process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                    ::_exit(126);
            });
        }
        m_process.start(QStringLiteral(INSTANCE_HELPER), arguments);
    }
    ~Helper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(kWaitMs))
                m_process.kill();
            m_process.waitForFinished(kWaitMs);
        }
    }
    /** The next line the helper prints; empty when it printed nothing in time. */
    QByteArray nextLine()
    {
        while (!m_process.canReadLine() && m_process.waitForReadyRead(kWaitMs)) {
        }
        return m_process.readLine().trimmed();
    }
    void write(const QByteArray& bytes) { m_process.write(bytes); }
    void closeInput() { m_process.closeWriteChannel(); }
    bool finish()
    {
        return m_process.waitForFinished(kWaitMs) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }
    bool couldNotSwitchUser() { return m_process.waitForFinished(kWaitMs) && m_process.exitCode() == 126; }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace

class TestInstanceChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void theFirstClaimIsTheRunningCopyAndLaterCopiesReachIt();
    void requestsNeedBothParameters_data();
    void requestsNeedBothParameters();
    void aCopyInAnotherFolderRunsAlongside();
    void aLinkToTheSameExecutableIsTheSameProgram();
    void nothingRunningMeansNothingToSendTo();
    void aClaimAfterTheRunningCopyEndedSucceeds();
    void aSocketLeftByAKilledCopyDoesNotBlockTheNextStart();
    void aRequestWaitsForACopyAboutToListen();
    void theExitRequestEndsTheRunningCopy();
    void ofCopiesStartedTogetherExactlyOneKeepsRunning();
    void theChannelLivesInTheFirstSafeFolder_data();
    void theChannelLivesInTheFirstSafeFolder();
    void aFolderTooDeepForASocketAddressStillWorks();
    void anotherUserCannotReachOrUseOurChannel();
    void anotherUserSittingOnEveryNameItCanGuessCannotKeepUsOut();

private:
    QString folder(const QString& name) const
    {
        return m_dir.filePath(QStringLiteral("%1%2").arg(name).arg(m_counter));
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_temp; // stands in for /tmp: open to every user, sticky
    std::string m_exe;
    std::string m_otherExe;
    int m_counter = 0;
};

void TestInstanceChannel::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_temp.isValid());
    // Users other than us may pass through (not look into) our test folder, as through a home folder.
    QVERIFY(::chmod(QFile::encodeName(m_dir.path()).constData(), 0711) == 0);
    QVERIFY(::chmod(QFile::encodeName(m_temp.path()).constData(), 01777) == 0);
}

void TestInstanceChannel::init()
{
    // A fresh executable path and fresh folders per test, so no test meets another's channel, and no
    // test touches the folders of the user running it.
    ++m_counter;
    const QString first = folder(QStringLiteral("copy")) + QStringLiteral("/larkbell");
    const QString second = folder(QStringLiteral("elsewhere")) + QStringLiteral("/larkbell");
    QVERIFY(QDir().mkpath(QFileInfo(first).path()) && QDir().mkpath(QFileInfo(second).path()));
    WriteFileBytes(first, "#!/bin/sh\n");
    WriteFileBytes(second, "#!/bin/sh\n");
    m_exe = first.toStdString();
    m_otherExe = second.toStdString();

    QVERIFY(MakeFolder(folder(QStringLiteral("run")), 0700));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder(QStringLiteral("run"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(folder(QStringLiteral("cache"))));
    qputenv("HOME", QFile::encodeName(folder(QStringLiteral("home"))));
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
}

void TestInstanceChannel::theFirstClaimIsTheRunningCopyAndLaterCopiesReachIt()
{
    Inbox inbox;
    const auto channel = CreatePlatform()->ClaimInstance(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY2(channel->GuardProblem().empty(), channel->GuardProblem().c_str());
    Inbox second;
    QVERIFY(!LinuxInstanceChannel::Claim(m_exe, second.callback()));
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
    QVERIFY(inbox.onMainThread);
    QVERIFY(second.messages.empty());
}

void TestInstanceChannel::requestsNeedBothParameters_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("show with both parameters") << Packet(1425, 2109, 1973) << true;
    QTest::newRow("exit with both parameters") << Packet(1426, 2109, 1973) << true;
    QTest::newRow("a wrong first parameter") << Packet(1425, 2110, 1973) << false;
    QTest::newRow("a wrong second parameter") << Packet(1426, 2109, 0) << false;
    QTest::newRow("the parameters swapped") << Packet(1425, 1973, 2109) << false;
    QTest::newRow("a packet too short") << Packet(1425, 2109, 1973).left(8) << false;
    QTest::newRow("a packet too long") << Packet(1425, 2109, 1973) + QByteArray(4, '\0') << false;
    QTest::newRow("an empty packet") << QByteArray() << false;
}

void TestInstanceChannel::requestsNeedBothParameters()
{
    QFETCH(QByteArray, packet);
    QFETCH(bool, delivered);
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY(SendRaw(PlaceOf(m_exe).socket, packet));
    // A valid request after it: once that arrived, the one before has been dealt with.
    constexpr int kSentinel = 7;
    QVERIFY(SendValid(m_exe, kSentinel));
    QTRY_VERIFY_WITH_TIMEOUT(!inbox.messages.empty() && inbox.messages.back() == kSentinel, kWaitMs);
    std::vector<int> expected;
    if (delivered) {
        std::int32_t message = 0;
        std::memcpy(&message, packet.constData(), sizeof message);
        expected.push_back(message);
    }
    expected.push_back(kSentinel);
    QCOMPARE(inbox.messages, expected);
}

void TestInstanceChannel::aCopyInAnotherFolderRunsAlongside()
{
    Inbox here;
    Inbox there;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, here.callback());
    const auto other = LinuxInstanceChannel::Claim(m_otherExe, there.callback());
    QVERIFY(channel);
    QVERIFY(other);
    QVERIFY(SendValid(m_otherExe, InstanceMessage::Exit));
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(here.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(there.messages, std::vector<int>{InstanceMessage::Exit}, kWaitMs);
}

void TestInstanceChannel::aLinkToTheSameExecutableIsTheSameProgram()
{
    const QString link = folder(QStringLiteral("link"));
    QVERIFY(QFile::link(QString::fromStdString(m_exe), link));
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY(!LinuxInstanceChannel::Claim(link.toStdString(), [](int) {}));
    QVERIFY(SendValid(link.toStdString(), InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
}

void TestInstanceChannel::nothingRunningMeansNothingToSendTo()
{
    QVERIFY(!SendValid(m_exe, InstanceMessage::Exit));
    // Nor when a dead copy's socket file is still there.
    QVERIFY(LeaveStaleSocket(PlaceOf(m_exe).socket));
    QVERIFY(!SendValid(m_exe, InstanceMessage::Exit));
}

void TestInstanceChannel::aClaimAfterTheRunningCopyEndedSucceeds()
{
    Inbox first;
    auto channel = LinuxInstanceChannel::Claim(m_exe, first.callback());
    QVERIFY(channel);
    channel.reset();
    QVERIFY(!QFileInfo::exists(QString::fromStdString(PlaceOf(m_exe).socket)));
    QVERIFY(!SendValid(m_exe, InstanceMessage::Show));
    Inbox second;
    channel = LinuxInstanceChannel::Claim(m_exe, second.callback());
    QVERIFY(channel);
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(second.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
    QVERIFY(first.messages.empty());
}

void TestInstanceChannel::aSocketLeftByAKilledCopyDoesNotBlockTheNextStart()
{
    Helper copy({QStringLiteral("claim"), QString::fromStdString(m_exe)});
    QCOMPARE(copy.nextLine(), QByteArray("ready"));
    copy.write("go\n");
    QCOMPARE(copy.nextLine(), QByteArray("primary"));
    QVERIFY(!LinuxInstanceChannel::Claim(m_exe, [](int) {}));
    copy.process().kill();
    QVERIFY(copy.process().waitForFinished(kWaitMs));
    // The killed copy could not remove its socket file.
    QVERIFY(QFileInfo::exists(QString::fromStdString(PlaceOf(m_exe).socket)));
    QVERIFY(!SendValid(m_exe, InstanceMessage::Show));
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY2(channel->GuardProblem().empty(), channel->GuardProblem().c_str());
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
}

void TestInstanceChannel::aRequestWaitsForACopyAboutToListen()
{
    // A copy holds the lock but has not bound its socket yet, as when CLOSE is given the moment the
    // program starts: the request must wait for it rather than find nobody.
    const LinuxInstanceChannel::Place place = PlaceOf(m_exe);
    const int lock = ::open(place.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    QVERIFY(watch >= 0 && ::inotify_add_watch(watch, place.lock.c_str(), IN_OPEN) >= 0);
    std::future<bool> sent = std::async(std::launch::async, [this] { return SendValid(m_exe, InstanceMessage::Exit); });
    // The sender has looked at the lock: now the starting copy listens.
    pollfd opened{watch, POLLIN, 0};
    QCOMPARE(::poll(&opened, 1, kWaitMs), 1);
    ::close(watch);
    const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    socklen_t length = 0;
    const sockaddr_un address = SocketFileAddress(place.socket, length);
    QVERIFY(::bind(listener, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(listener, 1) == 0);
    QCOMPARE(sent.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    QVERIFY(sent.get());
    const int connection = ::accept(listener, nullptr, nullptr);
    QVERIFY(connection >= 0);
    QByteArray received(64, '\0');
    received.truncate(::recv(connection, received.data(), static_cast<size_t>(received.size()), 0));
    QCOMPARE(received, Packet(InstanceMessage::Exit, InstanceMessage::Param1, InstanceMessage::Param2));
    ::close(connection);
    ::close(listener);
    ::unlink(place.socket.c_str());
    ::close(lock);
}

void TestInstanceChannel::theExitRequestEndsTheRunningCopy()
{
    Helper copy({QStringLiteral("claim"), QString::fromStdString(m_exe)});
    QCOMPARE(copy.nextLine(), QByteArray("ready"));
    copy.write("go\n");
    QCOMPARE(copy.nextLine(), QByteArray("primary"));
    // As a copy started with CLOSE does.
    QVERIFY(SendValid(m_exe, InstanceMessage::Exit));
    QCOMPARE(copy.nextLine(), QByteArray("message 1426"));
    QCOMPARE(copy.nextLine(), QByteArray("exit"));
    QVERIFY(copy.finish());
    QVERIFY(!QFileInfo::exists(QString::fromStdString(PlaceOf(m_exe).socket)));
}

void TestInstanceChannel::ofCopiesStartedTogetherExactlyOneKeepsRunning()
{
    constexpr int kCopies = 6;
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        const QString exe = QString::fromStdString(m_exe) + QString::number(round);
        // Every other round starts where a copy died and left its socket file.
        if (round % 2 == 1)
            QVERIFY(LeaveStaleSocket(PlaceOf(exe.toStdString()).socket));
        std::vector<std::unique_ptr<Helper>> copies;
        for (int i = 0; i < kCopies; ++i)
            copies.push_back(std::make_unique<Helper>(QStringList{QStringLiteral("claim"), exe}));
        for (auto& copy : copies)
            QCOMPARE(copy->nextLine(), QByteArray("ready"));
        for (auto& copy : copies)
            copy->write("go\n");
        Helper* running = nullptr;
        int handedOver = 0;
        for (auto& copy : copies) {
            const QByteArray result = copy->nextLine();
            if (result == "primary") {
                QVERIFY2(!running, "two copies kept running");
                running = copy.get();
            } else {
                QCOMPARE(result, QByteArray("secondary sent"));
                QVERIFY(copy->finish());
                ++handedOver;
            }
        }
        QVERIFY2(running, "no copy kept running");
        QCOMPARE(handedOver, kCopies - 1);
        for (int i = 0; i < handedOver; ++i)
            QCOMPARE(running->nextLine(), QByteArray("message 1425"));
        running->closeInput();
        QVERIFY(running->finish());
    }
}

void TestInstanceChannel::theChannelLivesInTheFirstSafeFolder_data()
{
    // How each candidate folder is set up:
    //   runtime: private (ours, 0700), unset, mode 0755, mode 0750, another user's, a file, a relative path,
    //            private but its larkbell folder opened to others (0755)
    //   cache:   usual (ours, 0755), unset (nor HOME), home (from HOME, not there yet), writable (0777),
    //            under a folder others can write to
    //   temp:    sticky (like /tmp), writable (0777, not sticky), taken (larkbell-<uid> is another user's),
    //            link (larkbell-<uid> is a link to a private folder of ours)
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<QString>("cache");
    QTest::addColumn<QString>("temp");
    QTest::addColumn<QString>("expected"); // runtime, cache, home, temp or none

    QTest::newRow("the runtime folder when it is private") << "private"
                                                           << "usual"
                                                           << "sticky"
                                                           << "runtime";
    QTest::newRow("the cache when there is no runtime folder") << "unset"
                                                               << "usual"
                                                               << "sticky"
                                                               << "cache";
    QTest::newRow("the cache under HOME, created when missing") << "unset"
                                                                << "home"
                                                                << "sticky"
                                                                << "home";
    QTest::newRow("a runtime folder others can read is refused") << "0755"
                                                                 << "usual"
                                                                 << "sticky"
                                                                 << "cache";
    QTest::newRow("a runtime folder its group can read is refused") << "0750"
                                                                    << "usual"
                                                                    << "sticky"
                                                                    << "cache";
    QTest::newRow("another user's runtime folder is refused") << "others"
                                                              << "usual"
                                                              << "sticky"
                                                              << "cache";
    QTest::newRow("a runtime path that is a file is refused") << "file"
                                                              << "usual"
                                                              << "sticky"
                                                              << "cache";
    QTest::newRow("a relative runtime path is refused") << "relative"
                                                        << "usual"
                                                        << "sticky"
                                                        << "cache";
    QTest::newRow("a larkbell folder opened to others is refused") << "opened"
                                                                   << "usual"
                                                                   << "sticky"
                                                                   << "cache";
    QTest::newRow("the temporary folder when the cache is open to all") << "unset"
                                                                        << "writable"
                                                                        << "sticky"
                                                                        << "temp";
    QTest::newRow("the temporary folder when the cache lies in a folder open to all") << "unset"
                                                                                      << "under-writable"
                                                                                      << "sticky"
                                                                                      << "temp";
    QTest::newRow("the temporary folder when there is no cache") << "0755"
                                                                 << "unset"
                                                                 << "sticky"
                                                                 << "temp";
    QTest::newRow("no place when the temporary folder is open to all and not sticky") << "unset"
                                                                                      << "unset"
                                                                                      << "writable"
                                                                                      << "none";
    QTest::newRow("no place when another user took our folder in the temporary folder") << "unset"
                                                                                        << "unset"
                                                                                        << "taken"
                                                                                        << "none";
    QTest::newRow("no place when our folder in the temporary folder is a link") << "unset"
                                                                                << "writable"
                                                                                << "link"
                                                                                << "none";
}

void TestInstanceChannel::theChannelLivesInTheFirstSafeFolder()
{
    QFETCH(QString, runtime);
    QFETCH(QString, cache);
    QFETCH(QString, temp);
    QFETCH(QString, expected);
    if ((runtime == QLatin1String("others") || temp == QLatin1String("taken")) && ::geteuid() != 0)
        QSKIP("needs root to give a folder to another user");

    const QString runtimePath = folder(QStringLiteral("xdg-run"));
    if (runtime == QLatin1String("unset")) {
        qunsetenv("XDG_RUNTIME_DIR");
    } else if (runtime == QLatin1String("relative")) {
        qputenv("XDG_RUNTIME_DIR", "run");
    } else if (runtime == QLatin1String("file")) {
        WriteFileBytes(runtimePath, "not a folder");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimePath));
    } else {
        const mode_t mode = runtime == QLatin1String("0755") ? 0755 : runtime == QLatin1String("0750") ? 0750 : 0700;
        QVERIFY(MakeFolder(runtimePath, mode));
        if (runtime == QLatin1String("others"))
            QVERIFY(GiveToNobody(runtimePath));
        if (runtime == QLatin1String("opened"))
            QVERIFY(MakeFolder(runtimePath + QStringLiteral("/larkbell"), 0755));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimePath));
    }

    QString cacheFolder = folder(QStringLiteral("xdg-cache"));
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("HOME");
    if (cache == QLatin1String("home")) {
        QVERIFY(MakeFolder(folder(QStringLiteral("home")), 0700));
        qputenv("HOME", QFile::encodeName(folder(QStringLiteral("home"))));
        cacheFolder = folder(QStringLiteral("home")) + QStringLiteral("/.cache");
    } else if (cache != QLatin1String("unset")) {
        if (cache == QLatin1String("under-writable")) {
            QVERIFY(MakeFolder(cacheFolder, 0777));
            cacheFolder += QStringLiteral("/cache");
        }
        QVERIFY(MakeFolder(cacheFolder, cache == QLatin1String("writable") ? 0777 : 0755));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheFolder));
    }

    const QString tempFolder = folder(QStringLiteral("tmp"));
    const QString ours = tempFolder + QStringLiteral("/larkbell-%1").arg(::geteuid());
    QVERIFY(MakeFolder(tempFolder, temp == QLatin1String("writable") ? 0777 : 01777));
    if (temp == QLatin1String("taken")) {
        QVERIFY(MakeFolder(ours, 0700));
        QVERIFY(GiveToNobody(ours));
    } else if (temp == QLatin1String("link")) {
        QVERIFY(MakeFolder(folder(QStringLiteral("elsewhere-private")), 0700));
        QVERIFY(QFile::link(folder(QStringLiteral("elsewhere-private")), ours));
    }
    qputenv("TMPDIR", QFile::encodeName(tempFolder));

    const std::optional<LinuxInstanceChannel::Place> place = LinuxInstanceChannel::Locate(m_exe);
    if (expected == QLatin1String("none")) {
        QVERIFY(!place);
        // The program still runs, says why on stderr, and keeps no other copy out.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("runs without keeping other copies")));
        const auto channel = LinuxInstanceChannel::Claim(m_exe, [](int) {});
        QVERIFY(channel);
        QVERIFY(QString::fromStdString(channel->GuardProblem()).contains(QStringLiteral("no safe folder")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("runs without keeping other copies")));
        const auto other = LinuxInstanceChannel::Claim(m_exe, [](int) {});
        QVERIFY(other);
        QVERIFY(!SendValid(m_exe, InstanceMessage::Show));
        return;
    }

    const QString base = expected == QLatin1String("runtime") ? runtimePath
                         : expected == QLatin1String("temp")  ? tempFolder
                                                              : cacheFolder;
    const QString want = Canonical(base) + (expected == QLatin1String("temp") ? ours.mid(tempFolder.size())
                                                                              : QStringLiteral("/larkbell"));
    QVERIFY(place);
    QCOMPARE(QString::fromStdString(place->folder), want);
    QCOMPARE(QFileInfo(want).ownerId(), ::geteuid());
    QCOMPARE(ModeOf(want), 0700u);
    if (runtime != QLatin1String("unset") && expected != QLatin1String("runtime") &&
        runtime != QLatin1String("opened") && runtime != QLatin1String("file"))
        QVERIFY(!QFileInfo::exists(runtimePath + QStringLiteral("/larkbell")));

    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY2(channel->GuardProblem().empty(), channel->GuardProblem().c_str());
    QVERIFY(QFileInfo::exists(QString::fromStdString(place->socket)));
    QVERIFY(!LinuxInstanceChannel::Claim(m_exe, [](int) {}));
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
}

void TestInstanceChannel::aFolderTooDeepForASocketAddressStillWorks()
{
    QString deep = folder(QStringLiteral("deep"));
    while (deep.size() < int(sizeof(sockaddr_un::sun_path)) + 20)
        deep += QStringLiteral("/a-folder-with-a-long-name");
    QVERIFY(MakeFolder(deep, 0700));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(deep));
    QVERIFY(PlaceOf(m_exe).socket.size() >= sizeof(sockaddr_un::sun_path));

    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY2(channel->GuardProblem().empty(), channel->GuardProblem().c_str());
    QVERIFY(QFileInfo::exists(QString::fromStdString(PlaceOf(m_exe).socket)));
    QVERIFY(!LinuxInstanceChannel::Claim(m_exe, [](int) {}));
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
}

void TestInstanceChannel::anotherUserCannotReachOrUseOurChannel()
{
    if (::geteuid() != 0)
        QSKIP("needs root to start a process as another user");
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    const LinuxInstanceChannel::Place place = PlaceOf(m_exe);
    const QStringList exitRequest = {QStringLiteral("raw-send"), QString::fromStdString(place.socket),
                                     QStringLiteral("1426"), QStringLiteral("2109"), QStringLiteral("1973")};
    {
        Helper stranger(exitRequest, true);
        const QByteArray said = stranger.nextLine();
        if (said.isEmpty() && stranger.couldNotSwitchUser())
            QSKIP("cannot switch to user nobody here");
        QCOMPARE(said, QByteArray("failed")); // our folder is shut to them
    }
    // Even with the folders opened to everyone, the channel itself drops a stranger's request.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QVERIFY(::chmod(runtime.constData(), 0711) == 0 && ::chmod(place.folder.c_str(), 0711) == 0 &&
            ::chmod(place.socket.c_str(), 0777) == 0);
    {
        Helper stranger(exitRequest, true);
        QCOMPARE(stranger.nextLine(), QByteArray("sent"));
        QVERIFY(stranger.finish());
    }
    QVERIFY(::chmod(runtime.constData(), 0700) == 0 && ::chmod(place.folder.c_str(), 0700) == 0);
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_VERIFY_WITH_TIMEOUT(!inbox.messages.empty(), kWaitMs);
    QCOMPARE(inbox.messages, std::vector<int>{InstanceMessage::Show});
}

void TestInstanceChannel::anotherUserSittingOnEveryNameItCanGuessCannotKeepUsOut()
{
    if (::geteuid() != 0)
        QSKIP("needs root to start a process as another user");
    // Our socket's name in the temporary folder (the only place of ours a stranger can see) and the
    // abstract names earlier versions used.
    const QString temp = m_temp.filePath(QStringLiteral("tmp%1").arg(m_counter));
    QVERIFY(MakeFolder(temp, 01777));
    qputenv("TMPDIR", QFile::encodeName(temp));
    const QString name = QFileInfo(QString::fromStdString(PlaceOf(m_exe).socket)).completeBaseName();
    const QString ours = temp + QStringLiteral("/larkbell-%1").arg(::geteuid());
    const QString guessed = ours + u'/' + name;
    Helper squatter(
        QStringList{QStringLiteral("squat")} + OldAbstractNames(m_exe) +
            QStringList{guessed + QStringLiteral(".sock"), QStringLiteral("lock:") + guessed + QStringLiteral(".lock")},
        true);
    const QByteArray said = squatter.nextLine();
    if (said.isEmpty() && squatter.couldNotSwitchUser())
        QSKIP("cannot switch to user nobody here");
    QCOMPARE(said, QByteArray("bound"));
    QCOMPARE(QFileInfo(ours).ownerId(), kNobody);

    const auto claimsAndHears = [this] {
        Inbox inbox;
        const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
        QVERIFY(channel);
        QVERIFY2(channel->GuardProblem().empty(), channel->GuardProblem().c_str());
        QVERIFY(!LinuxInstanceChannel::Claim(m_exe, [](int) {}));
        QVERIFY(SendValid(m_exe, InstanceMessage::Show));
        QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
    };
    // In the runtime folder, and in the cache without one.
    claimsAndHears();
    if (QTest::currentTestFailed())
        return;
    qunsetenv("XDG_RUNTIME_DIR");
    claimsAndHears();
    if (QTest::currentTestFailed())
        return;

    // With nothing but the temporary folder, the stranger's folder is refused: no guard, but we run.
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("HOME");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("runs without keeping other copies")));
    const auto channel = LinuxInstanceChannel::Claim(m_exe, [](int) {});
    QVERIFY(channel);
    QVERIFY(QString::fromStdString(channel->GuardProblem()).contains(QStringLiteral("belongs to user 65534")));
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"

#include "Platform.h"
#include "linux/LinuxInstanceChannel.h"

#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <array>
#include <cstdint>
#include <cstring>
#include <grp.h>
#include <memory>
#include <sys/socket.h>
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
    std::function<void(int)> callback() {
        return [this](int message) {
            messages.push_back(message);
            onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
};

bool SendValid(const std::string& exePath, int message) {
    return LinuxInstanceChannel::Send(exePath, message, InstanceMessage::Param1, InstanceMessage::Param2);
}

// Bytes straight onto the channel's socket, past the sending side's own checks.
bool SendRaw(const std::string& socketName, const QByteArray& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, socketName.data(), socketName.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + socketName.size());
    const bool sent = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                      ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    return sent;
}

QByteArray Packet(int message, int param1, int param2) {
    const std::array<std::int32_t, 3> numbers{message, param1, param2};
    return QByteArray(reinterpret_cast<const char*>(numbers.data()), sizeof numbers);
}

// One copy of the helper program, started and stopped by the test.
class Helper final {
public:
    explicit Helper(const QStringList& arguments, bool asNobody = false) {
        if (asNobody) {
            m_process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                    ::_exit(126);
            });
        }
        m_process.start(QStringLiteral(INSTANCE_HELPER), arguments);
    }
    ~Helper() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(kWaitMs))
                m_process.kill();
            m_process.waitForFinished(kWaitMs);
        }
    }
    /** The next line the helper prints; empty when it printed nothing in time. */
    QByteArray nextLine() {
        while (!m_process.canReadLine() && m_process.waitForReadyRead(kWaitMs)) {
        }
        return m_process.readLine().trimmed();
    }
    void write(const QByteArray& bytes) { m_process.write(bytes); }
    void closeInput() { m_process.closeWriteChannel(); }
    bool finish() {
        return m_process.waitForFinished(kWaitMs) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace

class TestInstanceChannel : public QObject {
    Q_OBJECT

private slots:
    void init();

    void theFirstClaimIsTheRunningCopyAndLaterCopiesReachIt();
    void requestsNeedBothParameters_data();
    void requestsNeedBothParameters();
    void aCopyInAnotherFolderRunsAlongside();
    void aLinkToTheSameExecutableIsTheSameProgram();
    void nothingRunningMeansNothingToSendTo();
    void aClaimAfterTheRunningCopyEndedSucceeds();
    void aKilledCopyLeavesNoStaleChannel();
    void theExitRequestEndsTheRunningCopy();
    void ofCopiesStartedTogetherExactlyOneKeepsRunning();
    void anotherUsersRequestsAreDropped();
    void anotherUserHoldingTheNameCannotKeepUsOut();

private:
    QTemporaryDir m_dir;
    std::string m_exe;
    std::string m_otherExe;
    int m_counter = 0;
};

void TestInstanceChannel::init() {
    // A fresh executable path per test, so no test meets another's channel.
    QVERIFY(m_dir.isValid());
    ++m_counter;
    const QString first = m_dir.filePath(QStringLiteral("copy%1/larkbell").arg(m_counter));
    const QString second = m_dir.filePath(QStringLiteral("elsewhere%1/larkbell").arg(m_counter));
    QVERIFY(QDir().mkpath(QFileInfo(first).path()) && QDir().mkpath(QFileInfo(second).path()));
    WriteFileBytes(first, "#!/bin/sh\n");
    WriteFileBytes(second, "#!/bin/sh\n");
    m_exe = first.toStdString();
    m_otherExe = second.toStdString();
}

void TestInstanceChannel::theFirstClaimIsTheRunningCopyAndLaterCopiesReachIt() {
    Inbox inbox;
    const auto channel = CreatePlatform()->ClaimInstance(m_exe, inbox.callback());
    QVERIFY(channel);
    Inbox second;
    QVERIFY(!LinuxInstanceChannel::Claim(m_exe, second.callback()));
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
    QVERIFY(inbox.onMainThread);
    QVERIFY(second.messages.empty());
}

void TestInstanceChannel::requestsNeedBothParameters_data() {
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

void TestInstanceChannel::requestsNeedBothParameters() {
    QFETCH(QByteArray, packet);
    QFETCH(bool, delivered);
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY(SendRaw(LinuxInstanceChannel::SocketName(m_exe, ::geteuid(), 0), packet));
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

void TestInstanceChannel::aCopyInAnotherFolderRunsAlongside() {
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

void TestInstanceChannel::aLinkToTheSameExecutableIsTheSameProgram() {
    const QString link = m_dir.filePath(QStringLiteral("link%1").arg(m_counter));
    QVERIFY(QFile::link(QString::fromStdString(m_exe), link));
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY(!LinuxInstanceChannel::Claim(link.toStdString(), [](int) {}));
    QVERIFY(SendValid(link.toStdString(), InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
}

void TestInstanceChannel::nothingRunningMeansNothingToSendTo() {
    QVERIFY(!SendValid(m_exe, InstanceMessage::Exit));
}

void TestInstanceChannel::aClaimAfterTheRunningCopyEndedSucceeds() {
    Inbox first;
    auto channel = LinuxInstanceChannel::Claim(m_exe, first.callback());
    QVERIFY(channel);
    channel.reset();
    QVERIFY(!SendValid(m_exe, InstanceMessage::Show));
    Inbox second;
    channel = LinuxInstanceChannel::Claim(m_exe, second.callback());
    QVERIFY(channel);
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(second.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
    QVERIFY(first.messages.empty());
}

void TestInstanceChannel::aKilledCopyLeavesNoStaleChannel() {
    Helper copy({QStringLiteral("claim"), QString::fromStdString(m_exe)});
    QCOMPARE(copy.nextLine(), QByteArray("ready"));
    copy.write("go\n");
    QCOMPARE(copy.nextLine(), QByteArray("primary"));
    QVERIFY(!LinuxInstanceChannel::Claim(m_exe, [](int) {}));
    copy.process().kill();
    QVERIFY(copy.process().waitForFinished(kWaitMs));
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
}

void TestInstanceChannel::theExitRequestEndsTheRunningCopy() {
    Helper copy({QStringLiteral("claim"), QString::fromStdString(m_exe)});
    QCOMPARE(copy.nextLine(), QByteArray("ready"));
    copy.write("go\n");
    QCOMPARE(copy.nextLine(), QByteArray("primary"));
    // As a copy started with CLOSE does.
    QVERIFY(SendValid(m_exe, InstanceMessage::Exit));
    QCOMPARE(copy.nextLine(), QByteArray("message 1426"));
    QCOMPARE(copy.nextLine(), QByteArray("exit"));
    QVERIFY(copy.finish());
}

void TestInstanceChannel::ofCopiesStartedTogetherExactlyOneKeepsRunning() {
    constexpr int kCopies = 6;
    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds; ++round) {
        const QString exe = QString::fromStdString(m_exe) + QString::number(round);
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

void TestInstanceChannel::anotherUsersRequestsAreDropped() {
    if (::geteuid() != 0)
        QSKIP("needs root to start a process as another user");
    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    const QString name = QString::fromStdString(LinuxInstanceChannel::SocketName(m_exe, ::geteuid(), 0));
    Helper stranger(
        {QStringLiteral("raw-send"), name, QStringLiteral("1426"), QStringLiteral("2109"), QStringLiteral("1973")},
        true);
    const QByteArray said = stranger.nextLine();
    if (said.isEmpty() && stranger.process().exitCode() == 126)
        QSKIP("cannot switch to user nobody here");
    QCOMPARE(said, QByteArray("sent"));
    QVERIFY(stranger.finish());
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_VERIFY_WITH_TIMEOUT(!inbox.messages.empty(), kWaitMs);
    QCOMPARE(inbox.messages, std::vector<int>{InstanceMessage::Show});
}

void TestInstanceChannel::anotherUserHoldingTheNameCannotKeepUsOut() {
    if (::geteuid() != 0)
        QSKIP("needs root to start a process as another user");
    const QString name = QString::fromStdString(LinuxInstanceChannel::SocketName(m_exe, ::geteuid(), 0));
    Helper squatter({QStringLiteral("squat"), name}, true);
    const QByteArray said = squatter.nextLine();
    if (said.isEmpty() && squatter.process().exitCode() == 126)
        QSKIP("cannot switch to user nobody here");
    QCOMPARE(said, QByteArray("bound"));

    Inbox inbox;
    const auto channel = LinuxInstanceChannel::Claim(m_exe, inbox.callback());
    QVERIFY(channel);
    QVERIFY(!LinuxInstanceChannel::Claim(m_exe, [](int) {}));
    QVERIFY(SendValid(m_exe, InstanceMessage::Show));
    QTRY_COMPARE_WITH_TIMEOUT(inbox.messages, std::vector<int>{InstanceMessage::Show}, kWaitMs);
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"

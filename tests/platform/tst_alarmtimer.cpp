#include "platform/linux/LinuxAlarmTimer.h"
#include "platform/linux/TimerFd.h"

#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(TimerRead)
Q_DECLARE_METATYPE(WallTime)

namespace {

// Generous: the machine is shared, and a timer that needs more than this has failed anyway.
constexpr int kWaitMs = 10000;

// What the callback saw: when it ran and on which thread.
struct Firings {
    std::vector<WallTime> at;
    bool onMainThread = true;
    std::function<void()> callback()
    {
        return [this] {
            at.push_back(std::chrono::system_clock::now());
            onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
};

double Milliseconds(std::chrono::system_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

class TestAlarmTimer : public QObject
{
    Q_OBJECT

private slots:
    void firesAtItsDueTimeOnTheMainThread();
    void aDueTimeInThePastFiresAtOnce_data();
    void aDueTimeInThePastFiresAtOnce();
    void reArmingReplacesTheEarlierDueTime();
    void aDisarmedTimerDoesNotFire();
    void theCallbackMayReArmTheTimer();
    void dueTimesBecomeAbsoluteKernelTimes_data();
    void dueTimesBecomeAbsoluteKernelTimes();
    void readResultsAreClassified_data();
    void readResultsAreClassified();
    void eachReadLeadsToTheRightStep_data();
    void eachReadLeadsToTheRightStep();
};

void TestAlarmTimer::firesAtItsDueTimeOnTheMainThread()
{
    // A plain event loop, as the program runs: QTRY's polling would add its own pauses to the latency.
    QEventLoop loop;
    Firings firings;
    const auto record = firings.callback();
    const auto timer = LinuxAlarmTimer::Create([&] {
        record();
        loop.quit();
    });
    QVERIFY(timer);
    const WallTime due = std::chrono::system_clock::now() + 1500ms;
    QVERIFY(timer->Arm(due));
    QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(firings.at.size(), size_t(1));
    const double latencyMs = Milliseconds(firings.at.front() - due);
    qInfo("alarm timer latency: %.3f ms", latencyMs);
    QVERIFY(firings.onMainThread);
    QVERIFY2(latencyMs >= -5.0, "fired before its due time");
    QVERIFY2(latencyMs < 1000.0, "fired more than a second late");
}

void TestAlarmTimer::aDueTimeInThePastFiresAtOnce_data()
{
    QTest::addColumn<WallTime>("due");
    const WallTime now = std::chrono::system_clock::now();
    QTest::newRow("an hour ago") << now - 1h;
    QTest::newRow("a millisecond ago") << now - 1ms;
    QTest::newRow("the epoch itself") << WallTime{};
    QTest::newRow("before the epoch") << WallTime{} - 24h;
}

void TestAlarmTimer::aDueTimeInThePastFiresAtOnce()
{
    QFETCH(WallTime, due);
    Firings firings;
    const auto timer = LinuxAlarmTimer::Create(firings.callback());
    QVERIFY(timer);
    const WallTime armedAt = std::chrono::system_clock::now();
    QVERIFY(timer->Arm(due));
    QTRY_COMPARE_WITH_TIMEOUT(firings.at.size(), size_t(1), kWaitMs);
    qInfo("fired %.3f ms after arming", Milliseconds(firings.at.front() - armedAt));
    QVERIFY(firings.at.front() - armedAt < 1s);
}

void TestAlarmTimer::reArmingReplacesTheEarlierDueTime()
{
    Firings firings;
    const auto timer = LinuxAlarmTimer::Create(firings.callback());
    QVERIFY(timer);
    const WallTime now = std::chrono::system_clock::now();
    QVERIFY(timer->Arm(now + 300ms));
    const WallTime later = now + 1200ms;
    QVERIFY(timer->Arm(later));
    QTRY_COMPARE_WITH_TIMEOUT(firings.at.size(), size_t(1), kWaitMs);
    QVERIFY2(firings.at.front() >= later, "the replaced due time fired");

    // And an earlier due time replaces a later one.
    QVERIFY(timer->Arm(std::chrono::system_clock::now() + 1h));
    const WallTime sooner = std::chrono::system_clock::now() + 200ms;
    QVERIFY(timer->Arm(sooner));
    QTRY_COMPARE_WITH_TIMEOUT(firings.at.size(), size_t(2), kWaitMs);
    QVERIFY(firings.at.back() >= sooner);
    QVERIFY(firings.at.back() - sooner < 1s);
}

void TestAlarmTimer::aDisarmedTimerDoesNotFire()
{
    Firings disarmed;
    Firings sentinel;
    const auto timer = LinuxAlarmTimer::Create(disarmed.callback());
    const auto later = LinuxAlarmTimer::Create(sentinel.callback());
    QVERIFY(timer && later);
    const WallTime now = std::chrono::system_clock::now();
    QVERIFY(timer->Arm(now + 200ms));
    timer->Disarm();
    // The sentinel comes due well after the disarmed time; once it fired, the other would have too.
    QVERIFY(later->Arm(now + 700ms));
    QTRY_COMPARE_WITH_TIMEOUT(sentinel.at.size(), size_t(1), kWaitMs);
    QCOMPARE(disarmed.at.size(), size_t(0));
}

void TestAlarmTimer::theCallbackMayReArmTheTimer()
{
    std::vector<WallTime> firedAt;
    std::unique_ptr<LinuxAlarmTimer> timer;
    timer = LinuxAlarmTimer::Create([&] {
        firedAt.push_back(std::chrono::system_clock::now());
        if (firedAt.size() < 3)
            QVERIFY(timer->Arm(std::chrono::system_clock::now() + 50ms));
    });
    QVERIFY(timer);
    QVERIFY(timer->Arm(std::chrono::system_clock::now() + 50ms));
    QTRY_COMPARE_WITH_TIMEOUT(firedAt.size(), size_t(3), kWaitMs);
}

void TestAlarmTimer::dueTimesBecomeAbsoluteKernelTimes_data()
{
    QTest::addColumn<WallTime>("due");
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<qint64>("nanoseconds");
    QTest::newRow("a whole second") << WallTime{} + 1'800'000'000s << qint64(1'800'000'000) << qint64(0);
    QTest::newRow("a fraction keeps its nanoseconds")
        << WallTime{} + 1'800'000'000s + 123'456'789ns << qint64(1'800'000'000) << qint64(123'456'789);
    QTest::newRow("the epoch is one nanosecond after it, not a disarm") << WallTime{} << qint64(0) << qint64(1);
    QTest::newRow("before the epoch is clamped, not rejected") << WallTime{} - 10s << qint64(0) << qint64(1);
}

void TestAlarmTimer::dueTimesBecomeAbsoluteKernelTimes()
{
    QFETCH(WallTime, due);
    QFETCH(qint64, seconds);
    QFETCH(qint64, nanoseconds);
    const timespec kernelTime = ToTimespec(due);
    QCOMPARE(qint64(kernelTime.tv_sec), seconds);
    QCOMPARE(qint64(kernelTime.tv_nsec), nanoseconds);
}

void TestAlarmTimer::readResultsAreClassified_data()
{
    QTest::addColumn<qint64>("result");
    QTest::addColumn<int>("error");
    QTest::addColumn<TimerRead>("expected");
    QTest::newRow("an 8-byte count is an expiry") << qint64(8) << 0 << TimerRead::Expired;
    QTest::newRow("ECANCELED is a clock change") << qint64(-1) << ECANCELED << TimerRead::ClockChanged;
    QTest::newRow("EINTR is read again") << qint64(-1) << EINTR << TimerRead::Interrupted;
    QTest::newRow("EAGAIN is a stale wake-up") << qint64(-1) << EAGAIN << TimerRead::Nothing;
    QTest::newRow("EBADF is a broken descriptor") << qint64(-1) << EBADF << TimerRead::Broken;
    QTest::newRow("a short read is a broken descriptor") << qint64(4) << 0 << TimerRead::Broken;
}

void TestAlarmTimer::readResultsAreClassified()
{
    QFETCH(qint64, result);
    QFETCH(int, error);
    QFETCH(TimerRead, expected);
    QCOMPARE(ClassifyTimerRead(static_cast<ssize_t>(result), error), expected);
}

void TestAlarmTimer::eachReadLeadsToTheRightStep_data()
{
    QTest::addColumn<TimerRead>("read");
    QTest::addColumn<bool>("armed");
    QTest::addColumn<bool>("fire");
    QTest::addColumn<bool>("rearm");
    QTest::addColumn<bool>("stop");
    QTest::newRow("an expiry of an armed timer fires") << TimerRead::Expired << true << true << false << false;
    QTest::newRow("an expiry after disarming does nothing") << TimerRead::Expired << false << false << false << false;
    QTest::newRow("a clock change re-arms for the same instant without firing")
        << TimerRead::ClockChanged << true << false << true << false;
    QTest::newRow("a clock change while disarmed does nothing")
        << TimerRead::ClockChanged << false << false << false << false;
    QTest::newRow("an interrupted read keeps waiting") << TimerRead::Interrupted << true << false << false << false;
    QTest::newRow("a stale wake-up keeps waiting") << TimerRead::Nothing << true << false << false << false;
    QTest::newRow("a broken descriptor stops the watch") << TimerRead::Broken << true << false << false << true;
}

void TestAlarmTimer::eachReadLeadsToTheRightStep()
{
    QFETCH(TimerRead, read);
    QFETCH(bool, armed);
    QFETCH(bool, fire);
    QFETCH(bool, rearm);
    QFETCH(bool, stop);
    const TimerStep step = NextTimerStep(read, armed);
    QCOMPARE(step.fire, fire);
    QCOMPARE(step.rearm, rearm);
    QCOMPARE(step.stop, stop);
}

QTEST_GUILESS_MAIN(TestAlarmTimer)
#include "tst_alarmtimer.moc"

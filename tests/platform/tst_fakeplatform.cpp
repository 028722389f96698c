#include "platform/fake/FakePlatform.h"

#include <QTest>

#include <chrono>
#include <vector>

using namespace std::chrono_literals;

namespace {

const WallTime kNoon = WallTime{} + std::chrono::hours(24 * 20'000) + 12h;

} // namespace

class TestFakePlatform : public QObject
{
    Q_OBJECT

private slots:
    void recordsEveryArmInOrder();
    void firesOnlyArmedTimersAndOnlyOnce();
    void advancingTheClockFiresWhatIsDue();
    void theCallbackMayReArm();
    void aSystemWithoutWakeStillArmsTheWakeTimer();
    void failuresCanBePlayed();
    void clockChangesReachEveryLiveWatch();
    void requestsReachTheClaimedCopyWithBothParameters();
    void autostartFollowsTheMachineAndUserEntries();
    void notificationsAreRecordedAndAnsweredWhileShown();
};

void TestFakePlatform::recordsEveryArmInOrder()
{
    FakePlatform fake;
    const auto alarm = fake.CreateAlarmTimer([] {});
    const auto wake = fake.CreateWakeTimer();
    QVERIFY(alarm && wake);
    QCOMPARE(wake->Path(), WakePath::RealtimeAlarm);
    alarm->Disarm();
    wake->Disarm();
    QVERIFY(alarm->Arm(kNoon));
    QVERIFY(wake->Arm(kNoon - 10s));

    const auto& calls = fake.ArmCalls();
    QCOMPARE(calls.size(), size_t(4));
    QCOMPARE(calls[0].timer, FakePlatform::Timer::Alarm);
    QVERIFY(!calls[0].due);
    QCOMPARE(calls[1].timer, FakePlatform::Timer::Wake);
    QVERIFY(!calls[1].due);
    QCOMPARE(calls[2].timer, FakePlatform::Timer::Alarm);
    QVERIFY(calls[2].due == kNoon);
    QVERIFY(!calls[2].wakes);
    QCOMPARE(calls[3].timer, FakePlatform::Timer::Wake);
    QVERIFY(calls[3].due == kNoon - 10s);
    QVERIFY(calls[3].wakes);
    QVERIFY(fake.AlarmDue() == kNoon);
    QVERIFY(fake.WakeDue() == kNoon - 10s);

    fake.ClearArmCalls();
    QVERIFY(fake.ArmCalls().empty());
}

void TestFakePlatform::firesOnlyArmedTimersAndOnlyOnce()
{
    FakePlatform fake;
    int fired = 0;
    const auto alarm = fake.CreateAlarmTimer([&] { ++fired; });
    QVERIFY(!fake.FireAlarmTimer());
    QVERIFY(alarm->Arm(kNoon));
    QVERIFY(fake.FireAlarmTimer());
    QCOMPARE(fired, 1);
    QVERIFY(!fake.AlarmDue());
    QVERIFY(!fake.FireAlarmTimer());
    QCOMPARE(fired, 1);
}

void TestFakePlatform::advancingTheClockFiresWhatIsDue()
{
    FakePlatform fake;
    int fired = 0;
    const auto alarm = fake.CreateAlarmTimer([&] { ++fired; });
    QVERIFY(alarm->Arm(kNoon));
    QVERIFY(!fake.AdvanceTo(kNoon - 1ms));
    QCOMPARE(fired, 0);
    QVERIFY(fake.AdvanceTo(kNoon));
    QCOMPARE(fired, 1);
}

void TestFakePlatform::theCallbackMayReArm()
{
    FakePlatform fake;
    std::unique_ptr<AlarmTimer> alarm;
    alarm = fake.CreateAlarmTimer([&] { alarm->Arm(kNoon + 24h); });
    QVERIFY(alarm->Arm(kNoon));
    QVERIFY(fake.AdvanceTo(kNoon + 1h));
    QVERIFY(fake.AlarmDue() == kNoon + 24h);
}

void TestFakePlatform::aSystemWithoutWakeStillArmsTheWakeTimer()
{
    FakePlatform fake;
    fake.SetWakePath(WakePath::None);
    QVERIFY(!fake.WakeTimersAllowed());
    const auto wake = fake.CreateWakeTimer();
    QCOMPARE(wake->Path(), WakePath::None);
    QVERIFY(wake->Arm(kNoon));
    QVERIFY(!fake.ArmCalls().back().wakes);
    QVERIFY(fake.WakeDue() == kNoon);
}

void TestFakePlatform::failuresCanBePlayed()
{
    FakePlatform fake;
    fake.SetArmFails(true);
    const auto alarm = fake.CreateAlarmTimer([] {});
    QVERIFY(!alarm->Arm(kNoon));
    QVERIFY(!fake.AlarmDue());
    fake.SetTimerCreationFails(true);
    QVERIFY(!fake.CreateAlarmTimer([] {}));
    QVERIFY(!fake.CreateWakeTimer());
}

void TestFakePlatform::clockChangesReachEveryLiveWatch()
{
    FakePlatform fake;
    std::vector<ClockChange> first;
    std::vector<ClockChange> second;
    const auto watch = fake.WatchClock([&](ClockChange change) { first.push_back(change); });
    auto other = fake.WatchClock([&](ClockChange change) { second.push_back(change); });
    fake.ChangeClock(ClockChange::TimeSet);
    other.reset();
    fake.ChangeClock(ClockChange::ZoneChanged);
    QCOMPARE(first, (std::vector<ClockChange>{ClockChange::TimeSet, ClockChange::ZoneChanged}));
    QCOMPARE(second, std::vector<ClockChange>{ClockChange::TimeSet});
}

void TestFakePlatform::requestsReachTheClaimedCopyWithBothParameters()
{
    FakePlatform fake;
    std::vector<int> received;
    QVERIFY(!fake.SendToInstance("/a/larkbell", InstanceMessage::Show, 2109, 1973));
    auto channel = fake.ClaimInstance("/a/larkbell", [&](int message) { received.push_back(message); });
    QVERIFY(channel);
    QVERIFY(!fake.ClaimInstance("/a/larkbell", [](int) {}));
    QVERIFY(fake.ClaimInstance("/b/larkbell", [](int) {}));
    QVERIFY(fake.SendToInstance("/a/larkbell", InstanceMessage::Show, 2109, 1973));
    QVERIFY(fake.SendToInstance("/a/larkbell", InstanceMessage::Exit, 2109, 1974));
    QCOMPARE(received, std::vector<int>{InstanceMessage::Show});
    channel.reset();
    QVERIFY(fake.ClaimInstance("/a/larkbell", [](int) {}));
}

void TestFakePlatform::autostartFollowsTheMachineAndUserEntries()
{
    FakePlatform fake;
    QVERIFY(!fake.AutostartEnabled("/a/larkbell"));
    QVERIFY(!fake.DisableAutostart());
    QVERIFY(fake.EnableAutostart("/b/larkbell"));
    QVERIFY(!fake.AutostartEnabled("/a/larkbell"));
    QVERIFY(fake.EnableAutostart("/a/larkbell"));
    QVERIFY(fake.AutostartEnabled("/a/larkbell"));
    QVERIFY(fake.DisableAutostart());
    fake.SetMachineAutostart("/a/larkbell");
    QVERIFY(fake.AutostartEnabled("/a/larkbell"));
    QVERIFY(!fake.DisableAutostart());
    QVERIFY(fake.AutostartEnabled("/a/larkbell"));
}

void TestFakePlatform::notificationsAreRecordedAndAnsweredWhileShown()
{
    FakePlatform fake;
    int clicked = 0;
    int closed = 0;
    std::vector<std::string> chosen;
    const auto notifications = fake.CreateNotifications(
        {[&] { ++clicked; }, [&] { ++closed; }, {}, [&](const std::string& key) { chosen.push_back(key); }});
    QVERIFY(notifications);
    QVERIFY(!fake.ClickNotification());
    QVERIFY(notifications->Show("Larkbell", "07:00", 30000));
    QVERIFY(notifications->Show("Larkbell", "07:05", 60000));
    QCOMPARE(fake.ShownNotifications().size(), 2u);
    QCOMPARE(fake.ShownNotifications().back().text, "07:05");
    QCOMPARE(fake.ShownNotifications().back().timeoutMs, 60000);
    const unsigned id = notifications->NotificationId();
    QVERIFY(id != 0);
    QVERIFY(fake.ClickNotification());
    QCOMPARE(clicked, 1);
    QVERIFY(notifications->IsShown());
    QVERIFY(fake.CloseNotification());
    QCOMPARE(closed, 1);
    QVERIFY(!notifications->IsShown());
    // A cancelled notification is the program's own doing: nothing is reported for it.
    QVERIFY(notifications->Show("Larkbell", "07:10", 30000));
    QVERIFY(notifications->NotificationId() != id);
    notifications->Cancel();
    QCOMPARE(fake.NotificationCancels(), 1);
    QVERIFY(!fake.CloseNotification());
    QVERIFY(!fake.ClickNotification());
    QCOMPARE(closed, 1);
    QCOMPARE(clicked, 1);
    // Buttons: recorded with the notification, and only one it offers can be chosen.
    QVERIFY(notifications->Show("Larkbell", "07:15", 30000, {true, {{"snooze", "Snooze"}}}));
    QVERIFY(fake.ShownNotifications().back().style.critical);
    QCOMPARE(fake.ShownNotifications().back().style.actions.size(), 1u);
    QVERIFY(!fake.ChooseNotificationAction("dismiss"));
    QVERIFY(fake.ChooseNotificationAction("snooze"));
    QCOMPARE(chosen, std::vector<std::string>{"snooze"});
    QCOMPARE(clicked, 1);
}

QTEST_GUILESS_MAIN(TestFakePlatform)
#include "tst_fakeplatform.moc"

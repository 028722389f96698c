#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

class FakeAlarmTimer;
class FakeWakeTimer;
class FakeClockWatch;
class FakeExitRequestWatch;
class FakeInstanceChannel;
class FakeNotifications;
class FakeSleepTrial;

} // namespace

struct FakePlatform::State {
    std::vector<ArmCall> calls;
    std::vector<FakeAlarmTimer*> alarmTimers;
    std::vector<FakeWakeTimer*> wakeTimers;
    std::vector<FakeClockWatch*> clockWatches;
    std::vector<FakeExitRequestWatch*> exitWatches;
    std::vector<FakeNotifications*> notifications;
    std::vector<FakePlatform::ShownNotification> shownNotifications;
    int notificationCancels = 0;
    unsigned lastNotificationId = 0;
    std::map<std::string, std::function<void(int)>> instances;
    WakePath wakePath = WakePath::RealtimeAlarm;
    std::optional<WakeStatus> wakeStatus;
    FakeSleepTrial* sleepTrial = nullptr;
    bool creationFails = false;
    bool armFails = false;
    std::optional<std::string> machineAutostart;
    std::optional<std::string> userAutostart;
};

namespace {

using State = FakePlatform::State;

template <typename T> void Forget(std::vector<T*>& list, T* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

class FakeAlarmTimer final : public AlarmTimer
{
public:
    FakeAlarmTimer(std::shared_ptr<State> state, std::function<void()> onFired)
        : m_state(std::move(state))
        , m_onFired(std::move(onFired))
    {
        m_state->alarmTimers.push_back(this);
    }
    ~FakeAlarmTimer() override { Forget(m_state->alarmTimers, this); }

    bool Arm(WallTime due) override
    {
        m_state->calls.push_back({FakePlatform::Timer::Alarm, due, false});
        if (m_state->armFails)
            return false;
        m_due = due;
        return true;
    }
    void Disarm() override
    {
        m_state->calls.push_back({FakePlatform::Timer::Alarm, std::nullopt, false});
        m_due.reset();
    }

    std::optional<WallTime> Due() const { return m_due; }
    void Fire()
    {
        m_due.reset();
        m_onFired();
    }

private:
    std::shared_ptr<State> m_state;
    std::function<void()> m_onFired;
    std::optional<WallTime> m_due;
};

class FakeWakeTimer final : public WakeTimer
{
public:
    explicit FakeWakeTimer(std::shared_ptr<State> state)
        : m_state(std::move(state))
        , m_path(m_state->wakePath)
    {
        m_state->wakeTimers.push_back(this);
    }
    ~FakeWakeTimer() override { Forget(m_state->wakeTimers, this); }

    bool Arm(WallTime due) override
    {
        m_state->calls.push_back({FakePlatform::Timer::Wake, due, m_path != WakePath::None});
        if (m_state->armFails)
            return false;
        m_due = due;
        return true;
    }
    void Disarm() override
    {
        m_state->calls.push_back({FakePlatform::Timer::Wake, std::nullopt, false});
        m_due.reset();
    }
    WakePath Path() const override { return m_path; }
    std::optional<WallTime> Due() const { return m_due; }

private:
    std::shared_ptr<State> m_state;
    WakePath m_path;
    std::optional<WallTime> m_due;
};

class FakeClockWatch final : public ClockWatch
{
public:
    FakeClockWatch(std::shared_ptr<State> state, std::function<void(ClockChange)> onChanged)
        : m_state(std::move(state))
        , m_onChanged(std::move(onChanged))
    {
        m_state->clockWatches.push_back(this);
    }
    ~FakeClockWatch() override { Forget(m_state->clockWatches, this); }
    void Notify(ClockChange change) { m_onChanged(change); }

private:
    std::shared_ptr<State> m_state;
    std::function<void(ClockChange)> m_onChanged;
};

class FakeExitRequestWatch final : public ExitRequestWatch
{
public:
    FakeExitRequestWatch(std::shared_ptr<State> state, std::function<void()> onRequest)
        : m_state(std::move(state))
        , m_onRequest(std::move(onRequest))
    {
        m_state->exitWatches.push_back(this);
    }
    ~FakeExitRequestWatch() override { Forget(m_state->exitWatches, this); }
    void Notify() { m_onRequest(); }

private:
    std::shared_ptr<State> m_state;
    std::function<void()> m_onRequest;
};

class FakeNotifications final : public DesktopNotifications
{
public:
    FakeNotifications(std::shared_ptr<State> state, NotificationEvents events)
        : m_state(std::move(state))
        , m_events(std::move(events))
    {
        m_state->notifications.push_back(this);
    }
    ~FakeNotifications() override { Forget(m_state->notifications, this); }

    using DesktopNotifications::Show;
    bool Show(const std::string& title, const std::string& text, int timeoutMs, const NotificationStyle& style) override
    {
        m_state->shownNotifications.push_back({title, text, timeoutMs, style});
        m_actions = style.actions;
        // A server keeps the id of the notification a new one replaces.
        if (m_id == 0)
            m_id = ++m_state->lastNotificationId;
        return true;
    }
    void Cancel() override
    {
        ++m_state->notificationCancels;
        m_id = 0;
    }
    bool IsShown() const override { return m_id != 0; }
    unsigned NotificationId() const override { return m_id; }

    bool Click()
    {
        if (m_id == 0)
            return false;
        if (m_events.onClicked)
            m_events.onClicked();
        return true;
    }
    bool ChooseAction(const std::string& key)
    {
        const bool offered = std::any_of(m_actions.begin(), m_actions.end(),
                                         [&key](const NotificationAction& action) { return action.key == key; });
        if (m_id == 0 || !offered)
            return false;
        if (m_events.onAction)
            m_events.onAction(key);
        return true;
    }
    bool CloseByUser()
    {
        if (m_id == 0)
            return false;
        m_id = 0;
        if (m_events.onClosed)
            m_events.onClosed();
        return true;
    }

private:
    std::shared_ptr<State> m_state;
    NotificationEvents m_events;
    std::vector<NotificationAction> m_actions; // of the shown notification
    unsigned m_id = 0;
};

class FakeInstanceChannel final : public InstanceChannel
{
public:
    FakeInstanceChannel(std::shared_ptr<State> state, std::string exePath)
        : m_state(std::move(state))
        , m_exePath(std::move(exePath))
    {}
    ~FakeInstanceChannel() override { m_state->instances.erase(m_exePath); }

private:
    std::shared_ptr<State> m_state;
    std::string m_exePath;
};

template <typename T> std::optional<WallTime> EarliestDue(const std::vector<T*>& timers)
{
    std::optional<WallTime> earliest;
    for (const T* timer : timers) {
        const auto due = timer->Due();
        if (due && (!earliest || *due < *earliest))
            earliest = due;
    }
    return earliest;
}

} // namespace

FakePlatform::FakePlatform()
    : m_state(std::make_shared<State>())
{}

FakePlatform::~FakePlatform() = default;

std::unique_ptr<AlarmTimer> FakePlatform::CreateAlarmTimer(std::function<void()> onFired)
{
    if (m_state->creationFails)
        return nullptr;
    return std::make_unique<FakeAlarmTimer>(m_state, std::move(onFired));
}

std::unique_ptr<WakeTimer> FakePlatform::CreateWakeTimer()
{
    if (m_state->creationFails)
        return nullptr;
    return std::make_unique<FakeWakeTimer>(m_state);
}

std::unique_ptr<ClockWatch> FakePlatform::WatchClock(std::function<void(ClockChange)> onChanged)
{
    return std::make_unique<FakeClockWatch>(m_state, std::move(onChanged));
}

std::unique_ptr<ExitRequestWatch> FakePlatform::WatchExitRequests(std::function<void()> onRequest)
{
    return std::make_unique<FakeExitRequestWatch>(m_state, std::move(onRequest));
}

void FakePlatform::RequestExit()
{
    const std::vector<FakeExitRequestWatch*> watches = m_state->exitWatches; // a callback may end a watch
    for (FakeExitRequestWatch* watch : watches)
        watch->Notify();
}

std::unique_ptr<DesktopNotifications> FakePlatform::CreateNotifications(NotificationEvents events)
{
    return std::make_unique<FakeNotifications>(m_state, std::move(events));
}

const std::vector<FakePlatform::ShownNotification>& FakePlatform::ShownNotifications() const
{
    return m_state->shownNotifications;
}

int FakePlatform::NotificationCancels() const
{
    return m_state->notificationCancels;
}

bool FakePlatform::ClickNotification()
{
    const std::vector<FakeNotifications*> notifications = m_state->notifications; // a callback may end one
    bool reported = false;
    for (FakeNotifications* notification : notifications)
        reported = notification->Click() || reported;
    return reported;
}

bool FakePlatform::ChooseNotificationAction(const std::string& key)
{
    const std::vector<FakeNotifications*> notifications = m_state->notifications; // a callback may end one
    bool reported = false;
    for (FakeNotifications* notification : notifications)
        reported = notification->ChooseAction(key) || reported;
    return reported;
}

bool FakePlatform::CloseNotification()
{
    const std::vector<FakeNotifications*> notifications = m_state->notifications; // a callback may end one
    bool reported = false;
    for (FakeNotifications* notification : notifications)
        reported = notification->CloseByUser() || reported;
    return reported;
}

bool FakePlatform::WakeTimersAllowed()
{
    return m_state->wakePath != WakePath::None;
}

namespace {

class FakeSleepTrial final : public SleepTrial
{
public:
    FakeSleepTrial(std::shared_ptr<State> state, WallTime wake, SleepTrialEvents events)
        : m_state(std::move(state))
        , m_events(std::move(events))
        , wakeAt(wake)
    {
        m_state->sleepTrial = this;
    }
    ~FakeSleepTrial() override
    {
        if (m_state->sleepTrial == this)
            m_state->sleepTrial = nullptr;
    }
    void Resume(WallTime at, std::chrono::milliseconds slept)
    {
        if (m_events.asleep)
            m_events.asleep();
        if (m_events.resumed)
            m_events.resumed(at, slept); // may end this object
    }
    void Fail(const std::string& why)
    {
        if (m_events.failed)
            m_events.failed(why);
    }

private:
    std::shared_ptr<State> m_state;
    SleepTrialEvents m_events;

public:
    const WallTime wakeAt;
};

} // namespace

WakeStatus FakePlatform::DetectWakeStatus()
{
    if (m_state->wakeStatus)
        return *m_state->wakeStatus;
    if (m_state->wakePath == WakePath::None)
        return {WakePath::None, WakeAbility::No, WakeReason::NoCapability};
    return {m_state->wakePath, WakeAbility::Yes,
            m_state->wakePath == WakePath::PowerDaemon ? WakeReason::DaemonCanWake : WakeReason::CapabilityHeld};
}

std::unique_ptr<SleepTrial> FakePlatform::StartSleepTrial(WallTime wakeAt, SleepTrialEvents events)
{
    return std::make_unique<FakeSleepTrial>(m_state, wakeAt, std::move(events));
}

void FakePlatform::SetWakeStatus(WakeStatus status)
{
    m_state->wakeStatus = status;
}

std::optional<WallTime> FakePlatform::SleepTrialWake() const
{
    return m_state->sleepTrial ? std::optional<WallTime>(m_state->sleepTrial->wakeAt) : std::nullopt;
}

bool FakePlatform::ResumeFromSleepTrial(WallTime at, std::chrono::milliseconds slept)
{
    if (!m_state->sleepTrial)
        return false;
    m_state->sleepTrial->Resume(at, slept);
    return true;
}

bool FakePlatform::FailSleepTrial(const std::string& why)
{
    if (!m_state->sleepTrial)
        return false;
    m_state->sleepTrial->Fail(why);
    return true;
}

std::unique_ptr<InstanceChannel> FakePlatform::ClaimInstance(const std::string& exePath,
                                                             std::function<void(int message)> onMessage)
{
    if (!m_state->instances.emplace(exePath, std::move(onMessage)).second)
        return nullptr;
    return std::make_unique<FakeInstanceChannel>(m_state, exePath);
}

bool FakePlatform::SendToInstance(const std::string& exePath, int message, int param1, int param2)
{
    const auto found = m_state->instances.find(exePath);
    if (found == m_state->instances.end())
        return false;
    if (param1 == InstanceMessage::Param1 && param2 == InstanceMessage::Param2) {
        const auto onMessage = found->second; // the callback may release the channel
        onMessage(message);
    }
    return true;
}

bool FakePlatform::EnableAutostart(const std::string& exePath)
{
    m_state->userAutostart = exePath;
    return true;
}

bool FakePlatform::DisableAutostart()
{
    return std::exchange(m_state->userAutostart, std::nullopt).has_value();
}

bool FakePlatform::AutostartEnabled(const std::string& exePath)
{
    return m_state->machineAutostart == exePath || m_state->userAutostart == exePath;
}

const std::vector<FakePlatform::ArmCall>& FakePlatform::ArmCalls() const
{
    return m_state->calls;
}

void FakePlatform::ClearArmCalls()
{
    m_state->calls.clear();
}

std::optional<WallTime> FakePlatform::AlarmDue() const
{
    return EarliestDue(m_state->alarmTimers);
}

std::optional<WallTime> FakePlatform::WakeDue() const
{
    return EarliestDue(m_state->wakeTimers);
}

void FakePlatform::SetWakePath(WakePath path)
{
    m_state->wakePath = path;
}

void FakePlatform::SetTimerCreationFails(bool fails)
{
    m_state->creationFails = fails;
}

void FakePlatform::SetArmFails(bool fails)
{
    m_state->armFails = fails;
}

bool FakePlatform::FireAlarmTimer()
{
    return AdvanceTo(WallTime::max());
}

bool FakePlatform::AdvanceTo(WallTime now)
{
    // A copy: a callback may create, re-arm or destroy timers.
    const std::vector<FakeAlarmTimer*> timers = m_state->alarmTimers;
    bool fired = false;
    for (FakeAlarmTimer* timer : timers) {
        const bool alive =
            std::find(m_state->alarmTimers.begin(), m_state->alarmTimers.end(), timer) != m_state->alarmTimers.end();
        const auto due = alive ? timer->Due() : std::nullopt;
        if (due && *due <= now) {
            fired = true;
            timer->Fire();
        }
    }
    return fired;
}

void FakePlatform::ChangeClock(ClockChange change)
{
    const std::vector<FakeClockWatch*> watches = m_state->clockWatches;
    for (FakeClockWatch* watch : watches) {
        if (std::find(m_state->clockWatches.begin(), m_state->clockWatches.end(), watch) != m_state->clockWatches.end())
            watch->Notify(change);
    }
}

void FakePlatform::SetMachineAutostart(std::optional<std::string> exePath)
{
    m_state->machineAutostart = std::move(exePath);
}

std::optional<std::string> FakePlatform::UserAutostart() const
{
    return m_state->userAutostart;
}

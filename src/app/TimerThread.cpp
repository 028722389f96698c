#include "app/TimerThread.h"

#include <QString>

WallTime ToWallTime(const QDateTime& utc)
{
    return WallTime(std::chrono::milliseconds(utc.toMSecsSinceEpoch()));
}

TTimerThread::TTimerThread(std::unique_ptr<AlarmTimer> alarm, std::unique_ptr<WakeTimer> wake, const AppClock& clock)
    : m_clock(clock)
    , m_alarm(std::move(alarm))
    , m_wake(std::move(wake))
{}

std::unique_ptr<TTimerThread> TTimerThread::Create(Platform& platform, std::function<void()> onDue,
                                                   const AppClock& clock)
{
    auto alarm = platform.CreateAlarmTimer(std::move(onDue));
    auto wake = platform.CreateWakeTimer();
    if (!alarm || !wake)
        return nullptr;
    return std::unique_ptr<TTimerThread>(new TTimerThread(std::move(alarm), std::move(wake), clock));
}

bool TTimerThread::ArmAlarm(const QDateTime& utc)
{
    return m_alarm->Arm(ToWallTime(m_clock.ToSystemClock(utc)));
}

WakeArming TTimerThread::ArmWake(const QDateTime& utc, bool wake)
{
    // A parked wake timer must not wake the computer a year from now for nothing.
    if (!wake) {
        m_wake->Disarm();
        return {true, false, QString::fromLatin1(WakePathName(m_wake->Path()))};
    }
    const bool armed = m_wake->Arm(ToWallTime(m_clock.ToSystemClock(utc)));
    return {armed, armed && m_wake->Path() != WakePath::None, QString::fromLatin1(WakePathName(m_wake->Path()))};
}

void TTimerThread::Stop()
{
    m_alarm->Disarm();
    m_wake->Disarm();
}

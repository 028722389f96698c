#include "platform/windows/WindowsWakeTimer.h"

std::unique_ptr<WindowsWakeTimer> WindowsWakeTimer::Create(const wchar_t* name, WaitableTimer::Setter set)
{
    const HANDLE timer = ::CreateWaitableTimerW(nullptr, TRUE, name);
    if (!timer)
        return nullptr;
    const WakePath path = WaitableTimer::ResumeSupported(set).value_or(true) ? WakePath::RealtimeAlarm : WakePath::None;
    return std::unique_ptr<WindowsWakeTimer>(new WindowsWakeTimer(timer, std::move(set), path));
}

WindowsWakeTimer::WindowsWakeTimer(HANDLE timer, WaitableTimer::Setter set, WakePath path)
    : m_timer(timer)
    , m_set(std::move(set))
    , m_path(path)
{}

WindowsWakeTimer::~WindowsWakeTimer()
{
    ::CancelWaitableTimer(m_timer);
    ::CloseHandle(m_timer);
}

bool WindowsWakeTimer::Arm(WallTime due)
{
    // Resume is asked for even when Path() is None: the answer is the system's to give at each arming,
    // and a refusal only costs the second call.
    const WaitableTimer::ArmResult result = WaitableTimer::Arm(m_timer, due, true, m_set);
    m_lastArmResumes = result.resumes;
    return result.armed;
}

void WindowsWakeTimer::Disarm()
{
    m_lastArmResumes = false;
    WaitableTimer::Park(m_timer, m_set);
}

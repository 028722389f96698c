#pragma once

#include "platform/WakeTimer.h"
#include "platform/windows/WaitableTimer.h"

#include <windows.h>

#include <memory>

/**
 * The wake timer: the named manual-reset waitable timer "Larkbell Wakeup", armed with resume so that
 * the system leaves sleep at the due time. Nobody waits on it. Where the system cannot resume for
 * timers it is armed without resume, and Path() is None; RealtimeAlarm stands for a resume-capable
 * system timer here.
 */
class WindowsWakeTimer final : public WakeTimer
{
public:
    static constexpr const wchar_t* kName = L"Larkbell Wakeup";

    /** nullptr when the system cannot create the timer. `set` stands in for SetWaitableTimer in tests. */
    static std::unique_ptr<WindowsWakeTimer> Create(const wchar_t* name = kName,
                                                    WaitableTimer::Setter set = WaitableTimer::SetOnSystem);
    ~WindowsWakeTimer() override;

    bool Arm(WallTime due) override;
    void Disarm() override;
    WakePath Path() const override { return m_path; }

    /** Whether the last Arm got the system's promise to resume; for the debug log and tests. */
    bool LastArmResumes() const { return m_lastArmResumes; }
    HANDLE Handle() const { return m_timer; }

private:
    WindowsWakeTimer(HANDLE timer, WaitableTimer::Setter set, WakePath path);

    HANDLE m_timer;
    WaitableTimer::Setter m_set;
    WakePath m_path;
    bool m_lastArmResumes = false;
};

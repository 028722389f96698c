#pragma once

#include "platform/AlarmTimer.h"
#include "platform/windows/HiddenWindow.h"

#include <windows.h>

#include <functional>
#include <memory>

/**
 * The alarm timer: the named manual-reset waitable timer "Larkbell", armed with an absolute UTC due
 * time. A thread of its own waits on it; when it is signalled the thread posts a message to a
 * message-only window of the creating thread, whose message loop runs the callback there, and the
 * thread does not wait again until that message was handled. The handler checks that the timer is
 * still signalled, so a firing overtaken by Arm or Disarm on the creating thread is dropped.
 */
class WindowsAlarmTimer final : public AlarmTimer
{
public:
    static constexpr const wchar_t* kName = L"Larkbell";

    /** nullptr when the timer, its thread or its window cannot be created. */
    static std::unique_ptr<WindowsAlarmTimer> Create(std::function<void()> onFired, const wchar_t* name = kName);
    ~WindowsAlarmTimer() override;

    bool Arm(WallTime due) override;
    void Disarm() override;

private:
    explicit WindowsAlarmTimer(std::function<void()> onFired);
    static DWORD WINAPI WaitLoop(void* self);
    void onSignalled();

    std::function<void()> m_onFired;
    HANDLE m_timer = nullptr;
    HANDLE m_stop = nullptr;    // manual-reset event: the thread ends
    HANDLE m_handled = nullptr; // auto-reset event: the creating thread has handled the last firing
    HANDLE m_thread = nullptr;
    std::unique_ptr<HiddenWindow> m_window;
    bool m_armed = false;
};

#include "platform/windows/WindowsAlarmTimer.h"

#include "platform/windows/WaitableTimer.h"

namespace {

constexpr UINT kSignalledMessage = WM_APP + 1;

} // namespace

WindowsAlarmTimer::WindowsAlarmTimer(std::function<void()> onFired)
    : m_onFired(std::move(onFired))
{}

std::unique_ptr<WindowsAlarmTimer> WindowsAlarmTimer::Create(std::function<void()> onFired, const wchar_t* name)
{
    std::unique_ptr<WindowsAlarmTimer> timer(new WindowsAlarmTimer(std::move(onFired)));
    WindowsAlarmTimer* self = timer.get();
    timer->m_window = HiddenWindow::Create(L"LarkbellAlarmTimer", HiddenWindow::Kind::MessageOnly, 0,
                                           [self](UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
                                               if (message != kSignalledMessage)
                                                   return std::nullopt;
                                               self->onSignalled();
                                               return 0;
                                           });
    timer->m_timer = ::CreateWaitableTimerW(nullptr, TRUE, name);
    timer->m_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    timer->m_handled = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!timer->m_window || !timer->m_timer || !timer->m_stop || !timer->m_handled)
        return nullptr;
    timer->m_thread = ::CreateThread(nullptr, 0, &WindowsAlarmTimer::WaitLoop, self, 0, nullptr);
    if (!timer->m_thread)
        return nullptr;
    return timer;
}

WindowsAlarmTimer::~WindowsAlarmTimer()
{
    if (m_thread) {
        ::SetEvent(m_stop);
        ::WaitForSingleObject(m_thread, INFINITE);
        ::CloseHandle(m_thread);
    }
    m_window.reset();
    if (m_timer) {
        ::CancelWaitableTimer(m_timer);
        ::CloseHandle(m_timer);
    }
    if (m_stop)
        ::CloseHandle(m_stop);
    if (m_handled)
        ::CloseHandle(m_handled);
}

bool WindowsAlarmTimer::Arm(WallTime due)
{
    // Setting the timer also clears its signalled state, so a firing already on its way is dropped.
    m_armed = WaitableTimer::Arm(m_timer, due, false).armed;
    return m_armed;
}

void WindowsAlarmTimer::Disarm()
{
    m_armed = false;
    WaitableTimer::Park(m_timer);
}

DWORD WINAPI WindowsAlarmTimer::WaitLoop(void* param)
{
    auto* self = static_cast<WindowsAlarmTimer*>(param);
    const HWND window = self->m_window->Handle();
    for (;;) {
        const HANDLE signalled[] = {self->m_stop, self->m_timer};
        if (::WaitForMultipleObjects(2, signalled, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return 0;
        if (!::PostMessageW(window, kSignalledMessage, 0, 0))
            return 0;
        // The manual-reset timer stays signalled until the creating thread re-arms or parks it.
        const HANDLE answered[] = {self->m_stop, self->m_handled};
        if (::WaitForMultipleObjects(2, answered, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return 0;
    }
}

void WindowsAlarmTimer::onSignalled()
{
    // Signalled without being armed by us happens only when another process shares the timer's name;
    // it is parked all the same, or the waiting thread would be released again at once, forever.
    const bool signalled = ::WaitForSingleObject(m_timer, 0) == WAIT_OBJECT_0;
    const bool due = m_armed && signalled;
    if (signalled) {
        m_armed = false;
        WaitableTimer::Park(m_timer);
    }
    ::SetEvent(m_handled);
    if (due) {
        // A copy, and the last statement: the callback may re-arm or even destroy this timer.
        const std::function<void()> onFired = m_onFired;
        onFired();
    }
}

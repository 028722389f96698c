#include "platform/Platform.h"

#include "platform/windows/CoreAudioEndpoint.h"
#include "platform/windows/HiddenWindow.h"
#include "platform/windows/PowerPlan.h"
#include "platform/windows/RunKeyAutostart.h"
#include "platform/windows/WaitableTimer.h"
#include "platform/windows/WindowsAlarmTimer.h"
#include "platform/windows/WindowsClockWatch.h"
#include "platform/windows/WindowsInstanceChannel.h"
#include "platform/windows/WindowsMonitorPower.h"
#include "platform/windows/WindowsText.h"
#include "platform/windows/WindowsWakeTimer.h"
#include "platform/windows/WinmmMixer.h"

namespace {

class WindowsPlatform final : public Platform
{
public:
    std::unique_ptr<AlarmTimer> CreateAlarmTimer(std::function<void()> onFired) override
    {
        return WindowsAlarmTimer::Create(std::move(onFired));
    }
    std::unique_ptr<WakeTimer> CreateWakeTimer() override { return WindowsWakeTimer::Create(); }
    std::unique_ptr<ClockWatch> WatchClock(std::function<void(ClockChange)> onChanged) override
    {
        return WindowsClockWatch::Create(std::move(onChanged));
    }
    std::unique_ptr<ExitRequestWatch> WatchExitRequests(std::function<void()>) override
    {
        // A GUI program on Windows is asked to end through WM_QUERYENDSESSION, which the toolkit turns
        // into its session manager's request; there is no signal to watch.
        return nullptr;
    }
    std::unique_ptr<DesktopNotifications> CreateNotifications(NotificationEvents) override
    {
        // The tray balloon is the system's own notification here.
        return nullptr;
    }
    bool WakeTimersAllowed() override
    {
        return WaitableTimer::ResumeSupported().value_or(true) && PowerPlan::WakeTimersAllowed();
    }

    std::unique_ptr<InstanceChannel> ClaimInstance(const std::string& exePath,
                                                   std::function<void(int message)> onMessage) override
    {
        return WindowsInstanceChannel::Claim(exePath, std::move(onMessage));
    }
    bool SendToInstance(const std::string& exePath, int message, int param1, int param2) override
    {
        return WindowsInstanceChannel::Send(exePath, message, param1, param2);
    }

    bool EnableAutostart(const std::string& exePath) override { return RunKeyAutostart::Enable(exePath); }
    bool DisableAutostart() override { return RunKeyAutostart::Disable(); }
    bool AutostartEnabled(const std::string& exePath) override { return RunKeyAutostart::Enabled(exePath); }

    void MonitorOn() override
    {
        // The system command needs a top-level window of ours to be sent to; a hidden one serves.
        if (!m_monitorWindow)
            m_monitorWindow =
                HiddenWindow::Create(L"LarkbellMonitorPower", HiddenWindow::Kind::TopLevel, WS_EX_TOOLWINDOW, nullptr);
        WindowsMonitorPower::On(m_monitorWindow ? m_monitorWindow->Handle() : nullptr);
    }

private:
    std::unique_ptr<HiddenWindow> m_monitorWindow;
};

} // namespace

std::unique_ptr<Platform> CreatePlatform()
{
    return std::make_unique<WindowsPlatform>();
}

std::string OwnExecutablePath()
{
    return WindowsText::Narrow(WindowsText::CurrentExePath());
}

std::unique_ptr<IVolumeEndpoint> CreateSystemVolumeEndpoint()
{
    return std::make_unique<CoreAudioEndpoint>();
}

std::unique_ptr<IVolumeMixer> CreateSystemVolumeMixer()
{
    return std::make_unique<WinmmMixer>();
}

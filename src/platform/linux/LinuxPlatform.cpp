#include "platform/Platform.h"

#include <filesystem>

#include "platform/linux/DesktopAutostart.h"
#include "platform/linux/LinuxAlarmTimer.h"
#include "platform/linux/LinuxClockWatch.h"
#include "platform/linux/LinuxDesktopNotifications.h"
#include "platform/linux/LinuxExitRequestWatch.h"
#include "platform/linux/LinuxInstanceChannel.h"
#include "platform/linux/LinuxSleepTrial.h"
#include "platform/linux/LinuxWakeTimer.h"
#include "platform/linux/MonitorPower.h"

namespace {

class LinuxPlatform final : public Platform
{
public:
    std::unique_ptr<AlarmTimer> CreateAlarmTimer(std::function<void()> onFired) override
    {
        return LinuxAlarmTimer::Create(std::move(onFired));
    }
    std::unique_ptr<WakeTimer> CreateWakeTimer() override { return std::make_unique<LinuxWakeTimer>(); }
    std::unique_ptr<ClockWatch> WatchClock(std::function<void(ClockChange)> onChanged) override
    {
        return LinuxClockWatch::Create(std::move(onChanged));
    }
    std::unique_ptr<ExitRequestWatch> WatchExitRequests(std::function<void()> onRequest) override
    {
        return LinuxExitRequestWatch::Create(std::move(onRequest));
    }
    std::unique_ptr<DesktopNotifications> CreateNotifications(NotificationEvents events) override
    {
        return std::make_unique<LinuxDesktopNotifications>(std::move(events));
    }
    bool WakeTimersAllowed() override { return DetectWakePath() != WakePath::None; }
    WakeStatus DetectWakeStatus() override { return DetectLinuxWakeStatus(); }
    std::unique_ptr<SleepTrial> StartSleepTrial(WallTime wakeAt, SleepTrialEvents events) override
    {
        return std::make_unique<LinuxSleepTrial>(wakeAt, std::move(events));
    }

    std::unique_ptr<InstanceChannel> ClaimInstance(const std::string& exePath,
                                                   std::function<void(int message)> onMessage) override
    {
        return LinuxInstanceChannel::Claim(exePath, std::move(onMessage));
    }
    bool SendToInstance(const std::string& exePath, int message, int param1, int param2) override
    {
        return LinuxInstanceChannel::Send(exePath, message, param1, param2);
    }

    bool EnableAutostart(const std::string& exePath) override { return DesktopAutostart::Enable(exePath); }
    bool DisableAutostart() override { return DesktopAutostart::Disable(); }
    bool AutostartEnabled(const std::string& exePath) override { return DesktopAutostart::Enabled(exePath); }

    void MonitorOn() override { MonitorPower::On(); }
};

} // namespace

std::unique_ptr<Platform> CreatePlatform()
{
    return std::make_unique<LinuxPlatform>();
}

std::string OwnExecutablePath()
{
    // The kernel's link names the image this process runs, whatever argv[0] says.
    std::error_code error;
    const std::filesystem::path path = std::filesystem::canonical("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

#include "platform/windows/WindowsClockWatch.h"

#include <cstring>

namespace {

DYNAMIC_TIME_ZONE_INFORMATION CurrentZone()
{
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    ::GetDynamicTimeZoneInformation(&zone);
    return zone;
}

bool SameDate(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

bool SameZone(const DYNAMIC_TIME_ZONE_INFORMATION& a, const DYNAMIC_TIME_ZONE_INFORMATION& b)
{
    return a.Bias == b.Bias && a.StandardBias == b.StandardBias && a.DaylightBias == b.DaylightBias &&
           SameDate(a.StandardDate, b.StandardDate) && SameDate(a.DaylightDate, b.DaylightDate) &&
           std::wcsncmp(a.TimeZoneKeyName, b.TimeZoneKeyName, 128) == 0 &&
           a.DynamicDaylightTimeDisabled == b.DynamicDaylightTimeDisabled;
}

WindowsClockWatch::WindowsClockWatch(std::function<void(ClockChange)> onChanged)
    : m_onChanged(std::move(onChanged))
    , m_zone(CurrentZone())
{}

std::unique_ptr<WindowsClockWatch> WindowsClockWatch::Create(std::function<void(ClockChange)> onChanged)
{
    std::unique_ptr<WindowsClockWatch> watch(new WindowsClockWatch(std::move(onChanged)));
    WindowsClockWatch* self = watch.get();
    watch->m_window =
        HiddenWindow::Create(kClassName, HiddenWindow::Kind::TopLevel, WS_EX_TOOLWINDOW,
                             [self](UINT message, WPARAM wParam, LPARAM) { return self->onMessage(message, wParam); });
    if (!watch->m_window)
        return nullptr;
    return watch;
}

WindowsClockWatch::~WindowsClockWatch() = default;

std::optional<LRESULT> WindowsClockWatch::onMessage(UINT message, WPARAM wParam)
{
    ClockChange change;
    if (message == WM_TIMECHANGE) {
        const DYNAMIC_TIME_ZONE_INFORMATION zone = CurrentZone();
        change = SameZone(zone, m_zone) ? ClockChange::TimeSet : ClockChange::ZoneChanged;
        m_zone = zone;
    } else if (message == WM_POWERBROADCAST && (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND)) {
        // The clock ran on while the computer slept; as on Linux, a resume counts as the clock being set.
        change = ClockChange::TimeSet;
    } else {
        return std::nullopt;
    }
    const std::function<void(ClockChange)> onChanged = m_onChanged; // it may destroy this watch
    onChanged(change);
    return message == WM_POWERBROADCAST ? TRUE : 0;
}

#include "platform/windows/WindowsLocalTime.h"

#include <optional>

namespace {

constexpr long long kTicksPerSecond = 10000000LL;

// Whole seconds since 1601-01-01, with the milliseconds set aside: the search below works in seconds.
std::optional<long long> ToSeconds(const SYSTEMTIME& time)
{
    SYSTEMTIME whole = time;
    whole.wMilliseconds = 0;
    FILETIME file;
    if (!::SystemTimeToFileTime(&whole, &file))
        return std::nullopt;
    const long long ticks = (static_cast<long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return ticks / kTicksPerSecond;
}

std::optional<SYSTEMTIME> FromSeconds(long long seconds, WORD milliseconds)
{
    const long long ticks = seconds * kTicksPerSecond;
    FILETIME file;
    file.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    file.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME time;
    if (!::FileTimeToSystemTime(&file, &time))
        return std::nullopt;
    time.wMilliseconds = milliseconds;
    return time;
}

// Offset from UTC, in seconds, that the zone's clock shows at the UTC instant `utcSeconds`.
std::optional<long long> OffsetAt(const TIME_ZONE_INFORMATION& zone, long long utcSeconds)
{
    const std::optional<SYSTEMTIME> utc = FromSeconds(utcSeconds, 0);
    SYSTEMTIME local;
    if (!utc || !::SystemTimeToTzSpecificLocalTime(&zone, &*utc, &local))
        return std::nullopt;
    const std::optional<long long> localSeconds = ToSeconds(local);
    if (!localSeconds)
        return std::nullopt;
    return *localSeconds - utcSeconds;
}

} // namespace

bool UtcToLocal(const SYSTEMTIME& utc, const TIME_ZONE_INFORMATION& zone, SYSTEMTIME& local)
{
    return ::SystemTimeToTzSpecificLocalTime(&zone, &utc, &local) != FALSE;
}

bool LocalToUtc(const SYSTEMTIME& local, const TIME_ZONE_INFORMATION& zone, SYSTEMTIME& utc)
{
    SYSTEMTIME converted;
    if (!::TzSpecificLocalTimeToSystemTime(&zone, &local, &converted))
        return false;
    const std::optional<long long> wall = ToSeconds(local);
    const std::optional<long long> answer = ToSeconds(converted);
    if (!wall || !answer)
        return false;
    // The system's answer is right for most times, but what it does in the skipped and the repeated
    // hour differs between versions (Wine, for one, puts a skipped time before the change). Every
    // offset the zone uses is tried, and the earliest instant whose clock really shows `wall` wins.
    const long long standard = -60LL * (zone.Bias + zone.StandardBias);
    const long long daylight = -60LL * (zone.Bias + zone.DaylightBias);
    std::optional<long long> first;
    for (const long long offset : {*wall - *answer, standard, daylight}) {
        const long long candidate = *wall - offset;
        if (OffsetAt(zone, candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (!first) {
        // Skipped: the clock jumps over `wall` between the two candidates. The change is the first
        // instant after the earlier candidate that shows the later offset; a binary search finds it.
        const long long bigger = standard > daylight ? standard : daylight;
        const long long smaller = standard > daylight ? daylight : standard;
        long long before = *wall - bigger; // still shows the smaller offset
        long long after = *wall - smaller; // already shows the bigger one
        const std::optional<long long> beforeOffset = OffsetAt(zone, before);
        if (!beforeOffset || OffsetAt(zone, after) == beforeOffset)
            return false;
        while (after - before > 1) {
            const long long middle = before + (after - before) / 2;
            if (OffsetAt(zone, middle) == beforeOffset)
                before = middle;
            else
                after = middle;
        }
        first = after;
    }
    const std::optional<SYSTEMTIME> result = FromSeconds(*first, local.wMilliseconds);
    if (!result)
        return false;
    utc = *result;
    return true;
}

bool LocalToUtc(const SYSTEMTIME& local, SYSTEMTIME& utc)
{
    DYNAMIC_TIME_ZONE_INFORMATION dynamic{};
    TIME_ZONE_INFORMATION zone{};
    if (::GetDynamicTimeZoneInformation(&dynamic) == TIME_ZONE_ID_INVALID ||
        !::GetTimeZoneInformationForYear(local.wYear, &dynamic, &zone)) {
        if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID)
            return false;
    }
    return LocalToUtc(local, zone, utc);
}

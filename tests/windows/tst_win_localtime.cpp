// Local time to UTC through the system's zone conversion, with the gap and overlap rule, for
// Europe/Berlin's rules given explicitly and for the current zone (the test runs with TZ=Europe/Berlin).
#include "TestKit.h"

#include "platform/windows/WindowsLocalTime.h"

#include <string>

namespace {

TIME_ZONE_INFORMATION Berlin()
{
    TIME_ZONE_INFORMATION zone{};
    zone.Bias = -60;
    // Standard time from the last Sunday of October, 03:00 local summer time; summer time from the last
    // Sunday of March, 02:00 local standard time.
    zone.StandardDate = {0, 10, 0, 5, 3, 0, 0, 0};
    zone.StandardBias = 0;
    zone.DaylightDate = {0, 3, 0, 5, 2, 0, 0, 0};
    zone.DaylightBias = -60;
    return zone;
}

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second = 0, WORD ms = 0)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = ms;
    return time;
}

std::string Text(const SYSTEMTIME& t)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

long long Seconds(const SYSTEMTIME& t)
{
    FILETIME file;
    ::SystemTimeToFileTime(&t, &file);
    return static_cast<long long>((static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime) /
           10000000LL;
}

SYSTEMTIME FromSeconds(long long seconds)
{
    const long long ticks = seconds * 10000000LL;
    FILETIME file{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time;
    ::FileTimeToSystemTime(&file, &time);
    return time;
}

std::string Utc(const TIME_ZONE_INFORMATION& zone, const SYSTEMTIME& local)
{
    SYSTEMTIME utc{};
    if (!LocalToUtc(local, zone, utc))
        return "failed";
    return Text(utc);
}

std::string UtcHere(const SYSTEMTIME& local)
{
    SYSTEMTIME utc{};
    if (!LocalToUtc(local, utc))
        return "failed";
    return Text(utc);
}

void ordinaryTimes()
{
    const TIME_ZONE_INFORMATION berlin = Berlin();
    CHECK_EQ(Utc(berlin, At(2024, 1, 15, 12, 0)), std::string("2024-01-15 11:00:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 7, 15, 12, 0)), std::string("2024-07-15 10:00:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 12, 31, 23, 30, 15, 250)), std::string("2024-12-31 22:30:15.250"));
    CHECK_EQ(Utc(berlin, At(2025, 1, 1, 0, 30)), std::string("2024-12-31 23:30:00.000"));
}

void springForwardGapMapsToTheChange()
{
    // 2024-03-31: at 01:00 UTC the clock jumps from 02:00 to 03:00; 02:00 .. 02:59:59 never show.
    const TIME_ZONE_INFORMATION berlin = Berlin();
    CHECK_EQ(Utc(berlin, At(2024, 3, 31, 1, 59, 59)), std::string("2024-03-31 00:59:59.000"));
    CHECK_EQ(Utc(berlin, At(2024, 3, 31, 2, 0)), std::string("2024-03-31 01:00:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 3, 31, 2, 30)), std::string("2024-03-31 01:00:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 3, 31, 2, 59, 59, 500)), std::string("2024-03-31 01:00:00.500"));
    CHECK_EQ(Utc(berlin, At(2024, 3, 31, 3, 0)), std::string("2024-03-31 01:00:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 3, 31, 3, 1)), std::string("2024-03-31 01:01:00.000"));
    CHECK_EQ(Utc(berlin, At(2025, 3, 30, 2, 15)), std::string("2025-03-30 01:00:00.000"));
}

void fallBackOverlapMapsToTheFirstOccurrence()
{
    // 2024-10-27: at 01:00 UTC the clock goes back from 03:00 to 02:00; 02:00 .. 02:59:59 show twice.
    const TIME_ZONE_INFORMATION berlin = Berlin();
    CHECK_EQ(Utc(berlin, At(2024, 10, 27, 1, 59)), std::string("2024-10-26 23:59:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 10, 27, 2, 0)), std::string("2024-10-27 00:00:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 10, 27, 2, 30)), std::string("2024-10-27 00:30:00.000"));
    CHECK_EQ(Utc(berlin, At(2024, 10, 27, 2, 59, 59)), std::string("2024-10-27 00:59:59.000"));
    CHECK_EQ(Utc(berlin, At(2024, 10, 27, 3, 0)), std::string("2024-10-27 02:00:00.000"));
}

void roundTripThroughAYear()
{
    // Every UTC instant, every 15 minutes of 2024, shown as local time and converted back, comes back as
    // itself, except the second pass through the repeated hour, which comes back as the first.
    const TIME_ZONE_INFORMATION berlin = Berlin();
    const long long start = Seconds(At(2024, 1, 1, 0, 0));
    const long long end = Seconds(At(2025, 1, 1, 0, 0));
    const long long repeatedFrom = Seconds(At(2024, 10, 27, 1, 0)); // UTC
    const long long repeatedTo = Seconds(At(2024, 10, 27, 2, 0));
    int mismatches = 0;
    int checked = 0;
    for (long long utc = start; utc < end; utc += 15 * 60) {
        SYSTEMTIME local;
        SYSTEMTIME back;
        const SYSTEMTIME instant = FromSeconds(utc);
        if (!UtcToLocal(instant, berlin, local) || !LocalToUtc(local, berlin, back)) {
            ++mismatches;
            continue;
        }
        const long long expected = utc >= repeatedFrom && utc < repeatedTo ? utc - 3600 : utc;
        if (Seconds(back) != expected && ++mismatches <= 5)
            std::printf("  %s UTC -> %s local -> %s UTC\n", Text(instant).c_str(), Text(local).c_str(),
                        Text(back).c_str());
        ++checked;
    }
    CHECK_EQ(mismatches, 0);
    CHECK_EQ(checked, 366 * 96);
}

void currentZoneIsBerlin()
{
    // The test runs with TZ=Europe/Berlin; the system must offer the same rules as the zone above.
    TIME_ZONE_INFORMATION current{};
    CHECK(::GetTimeZoneInformation(&current) != TIME_ZONE_ID_INVALID);
    CHECK_EQ(current.Bias, -60L);
    CHECK_EQ(current.DaylightBias, -60L);
    CHECK_EQ(current.StandardDate.wMonth, 10);
    CHECK_EQ(current.StandardDate.wDay, 5);
    CHECK_EQ(current.StandardDate.wHour, 3);
    CHECK_EQ(current.DaylightDate.wMonth, 3);
    CHECK_EQ(current.DaylightDate.wDay, 5);
    CHECK_EQ(current.DaylightDate.wHour, 2);

    CHECK_EQ(UtcHere(At(2024, 7, 15, 12, 0)), std::string("2024-07-15 10:00:00.000"));
    CHECK_EQ(UtcHere(At(2024, 3, 31, 2, 30)), std::string("2024-03-31 01:00:00.000"));
    CHECK_EQ(UtcHere(At(2024, 10, 27, 2, 30)), std::string("2024-10-27 00:30:00.000"));
}

void zoneWithoutDaylightSaving()
{
    TIME_ZONE_INFORMATION tokyo{};
    tokyo.Bias = -540;
    CHECK_EQ(Utc(tokyo, At(2024, 3, 31, 2, 30)), std::string("2024-03-30 17:30:00.000"));
    CHECK_EQ(Utc(tokyo, At(2024, 10, 27, 2, 30)), std::string("2024-10-26 17:30:00.000"));
}

} // namespace

int main()
{
    return TestKit::RunTests(
        "Windows local time to UTC",
        {
            {"ordinary times", ordinaryTimes},
            {"a time in the spring-forward gap maps to the change", springForwardGapMapsToTheChange},
            {"a time in the fall-back overlap maps to its first occurrence", fallBackOverlapMapsToTheFirstOccurrence},
            {"round trip through a year", roundTripThroughAYear},
            {"the current zone is Europe/Berlin", currentZoneIsBerlin},
            {"a zone without daylight saving", zoneWithoutDaylightSaving},
        });
}

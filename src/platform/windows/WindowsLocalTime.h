#pragma once

#include <windows.h>

/**
 * Local date-time to UTC for a zone's rules, through TzSpecificLocalTimeToSystemTime, with the same
 * rule as the rest of the program (see LocalToUtc in the core): a local time that the clock skips at
 * the spring-forward change maps to the instant of the change, the first moment the clock shows that
 * time or later; a local time that the clock shows twice maps to its first occurrence. Milliseconds are
 * kept. False when the system cannot convert the date.
 */
bool LocalToUtc(const SYSTEMTIME& local, const TIME_ZONE_INFORMATION& zone, SYSTEMTIME& utc);

/** The same for the current zone, with its rules for the year of `local` (dynamic daylight saving). */
bool LocalToUtc(const SYSTEMTIME& local, SYSTEMTIME& utc);

/** UTC to local time for a zone's rules; false when the system cannot convert the date. */
bool UtcToLocal(const SYSTEMTIME& utc, const TIME_ZONE_INFORMATION& zone, SYSTEMTIME& local);

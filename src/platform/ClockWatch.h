#pragma once

/** What made local alarm times move against the UTC instants the timers were armed for. */
enum class ClockChange {
    TimeSet,     // the wall clock was set (also reported after the computer resumes from sleep)
    ZoneChanged, // the system's time zone (its zone file) changed
};

/**
 * Watches for changes of the system clock and time zone while it lives; the callback given to its
 * factory runs on the thread that created it. Several notices may arrive for one change, so callers
 * coalesce them.
 *
 * A change of the TZ environment variable cannot be observed: a process keeps the environment it was
 * started with, so only a restart picks up a new TZ.
 */
class ClockWatch
{
public:
    ClockWatch() = default;
    virtual ~ClockWatch() = default;
    ClockWatch(const ClockWatch&) = delete;
    ClockWatch& operator=(const ClockWatch&) = delete;
};

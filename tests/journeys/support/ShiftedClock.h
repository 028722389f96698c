#pragma once

#include <QByteArray>
#include <QDate>
#include <QTime>

#include <optional>

/**
 * Local time as the C library computes it for a TZ value (nullopt: TZ unset, the system's zone), and
 * the clock offset that makes the program's wall clock reach an alarm's minute a moment after it starts.
 * The program adds LARKBELL_TEST_CLOCK_OFFSET_MS to its wall clock, its timers included.
 */
namespace ShiftedClock {

using Zone = std::optional<QByteArray>;

/** Milliseconds since the epoch of a local date and time in the zone (the first of two, for a repeated hour). */
qint64 LocalToUtcMs(QDate date, QTime time, const Zone& zone);
/** The local date in the zone at an instant. */
QDate LocalDate(qint64 utcMs, const Zone& zone);
/** The real clock, in milliseconds since the epoch. */
qint64 NowMs();

/** When an alarm rings for a program started with the offset. */
struct Ring {
    QDate date;           // the program's local date of the ring
    QTime time;           // the alarm's minute
    qint64 dueUtcMs = 0;  // the ring on the program's clock
    qint64 offsetMs = 0;  // LARKBELL_TEST_CLOCK_OFFSET_MS
    qint64 realDueMs = 0; // the ring on the real clock

    /** The program's wall clock reads this (epoch ms) at the real instant realMs. */
    qint64 ProgramMs(qint64 realMs) const { return realMs + offsetMs; }
    /** The real instant at which the program's clock reads programMs. */
    qint64 RealMs(qint64 programMs) const { return programMs - offsetMs; }
};

/**
 * The offset that brings the program's clock to time (on today's local date in the zone) leadMs
 * from now, so that a program started now rings at that minute leadMs from now.
 */
Ring PlanRing(QTime time, int leadMs, const Zone& zone = std::nullopt);

} // namespace ShiftedClock

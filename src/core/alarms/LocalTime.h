#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <functional>

/** A wall-clock date and time, without a zone: what the alarm list and the schedule work in. */
struct LocalDateTime {
    QDate date;
    QTime time;

    LocalDateTime addSecs(qint64 seconds) const;
    bool isValid() const { return date.isValid() && time.isValid(); }
    QString toString() const; // "yyyy-MM-dd HH:mm:ss"
    bool operator==(const LocalDateTime&) const = default;

    static LocalDateTime fromDateTime(const QDateTime& dt) { return {dt.date(), dt.time()}; }
};

/** A time zone as what its clock is ahead of UTC, in seconds, at an instant (seconds since the epoch). */
using UtcOffsetAt = std::function<int(qint64 utcSecs)>;

/**
 * The offset of the system's local time as the C library keeps it (the TZ variable, else the system
 * setting): the time Qt::LocalTime shows, the windows' clock. Qt's own reading of the system zone can
 * differ from it (a POSIX TZ string such as "UTC+3" is read with the opposite sign).
 */
int SystemUtcOffset(qint64 utcSecs);
/** The offsets of zone; those of the system's local time when zone is not valid. */
UtcOffsetAt ZoneOffsets(const QTimeZone& zone);

/** What the zone's clock shows at the instant utc, to the millisecond. */
LocalDateTime UtcToLocal(const QDateTime& utc, const UtcOffsetAt& offsetAt);

/**
 * The instant at which a clock in the zone shows local. A time that the clock skips (the spring-forward
 * gap) maps to the end of the gap, the first moment the clock shows that time or later; a time it
 * shows twice (fall-back) maps to the first occurrence.
 */
QDateTime LocalToUtc(const LocalDateTime& local, const UtcOffsetAt& offsetAt);
QDateTime LocalToUtc(const LocalDateTime& local, const QTimeZone& zone);

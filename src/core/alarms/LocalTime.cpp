#include "core/alarms/LocalTime.h"

#include <QList>

#include <optional>

namespace {

constexpr qint64 kDay = 86400;

qint64 naiveSeconds(const LocalDateTime& local)
{
    return QDateTime(local.date, local.time, Qt::UTC).toSecsSinceEpoch();
}

} // namespace

int SystemUtcOffset(qint64 utcSecs)
{
    // Qt::LocalTime goes through the C library's localtime, which follows TZ exactly as it is now.
    return QDateTime::fromSecsSinceEpoch(utcSecs, Qt::LocalTime).offsetFromUtc();
}

UtcOffsetAt ZoneOffsets(const QTimeZone& zone)
{
    if (!zone.isValid())
        return SystemUtcOffset;
    return [zone](qint64 utcSecs) { return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSecs, Qt::UTC)); };
}

LocalDateTime UtcToLocal(const QDateTime& utc, const UtcOffsetAt& offsetAt)
{
    const qint64 ms = utc.toMSecsSinceEpoch();
    const qint64 secs = ms >= 0 ? ms / 1000 : -((999 - ms) / 1000);
    const QDateTime wall = QDateTime::fromMSecsSinceEpoch(ms + qint64(offsetAt(secs)) * 1000, Qt::UTC);
    return {wall.date(), wall.time()};
}

LocalDateTime LocalDateTime::addSecs(qint64 seconds) const
{
    const QDateTime shifted = QDateTime(date, time, Qt::UTC).addSecs(seconds);
    return {shifted.date(), shifted.time()};
}

QString LocalDateTime::toString() const
{
    return date.toString(QStringLiteral("yyyy-MM-dd")) + u' ' + time.toString(QStringLiteral("HH:mm:ss"));
}

QDateTime LocalToUtc(const LocalDateTime& local, const UtcOffsetAt& offsetAt)
{
    const qint64 wall = naiveSeconds(local);
    // The offsets in force a day either side cover every transition the wall time can fall into.
    const int before = offsetAt(wall - kDay);
    const int after = offsetAt(wall + kDay);
    const int around = offsetAt(wall);
    std::optional<qint64> first;
    for (int offset : {before, around, after}) {
        const qint64 candidate = wall - offset;
        if (offsetAt(candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (!first) {
        // In a gap: the clock jumps from before the wall time to after it at the transition, the first
        // second at which it shows the wall time or later, which lies between the two readings.
        first = wall - before;
        const auto showsItOrLater = [&](qint64 utc) { return utc + offsetAt(utc) >= wall; };
        qint64 lo = wall - after;
        qint64 hi = wall - before;
        if (lo < hi && !showsItOrLater(lo) && showsItOrLater(hi)) {
            while (hi - lo > 1) {
                const qint64 mid = lo + (hi - lo) / 2;
                (showsItOrLater(mid) ? hi : lo) = mid;
            }
            first = hi;
        }
    }
    return QDateTime::fromMSecsSinceEpoch((*first) * 1000 + local.time.msec(), Qt::UTC);
}

QDateTime LocalToUtc(const LocalDateTime& local, const QTimeZone& zone)
{
    return LocalToUtc(local, ZoneOffsets(zone));
}

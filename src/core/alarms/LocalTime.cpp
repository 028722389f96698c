#include "LocalTime.h"

#include <QList>

namespace {

constexpr qint64 kDay = 86400;

qint64 naiveSeconds(const LocalDateTime& local)
{
    return QDateTime(local.date, local.time, Qt::UTC).toSecsSinceEpoch();
}

int offsetAt(const QTimeZone& zone, qint64 utcSeconds)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC));
}

} // namespace

LocalDateTime LocalDateTime::addSecs(qint64 seconds) const
{
    const QDateTime shifted = QDateTime(date, time, Qt::UTC).addSecs(seconds);
    return {shifted.date(), shifted.time()};
}

QString LocalDateTime::toString() const
{
    return date.toString(QStringLiteral("yyyy-MM-dd")) + u' ' + time.toString(QStringLiteral("HH:mm:ss"));
}

QDateTime LocalToUtc(const LocalDateTime& local, const QTimeZone& zone)
{
    const QTimeZone tz = zone.isValid() ? zone : QTimeZone::systemTimeZone();
    const qint64 wall = naiveSeconds(local);
    // The offsets in force a day either side cover every transition the wall time can fall into.
    const int before = offsetAt(tz, wall - kDay);
    const int after = offsetAt(tz, wall + kDay);
    const int around = offsetAt(tz, wall);
    std::optional<qint64> first;
    for (int offset : {before, around, after}) {
        const qint64 candidate = wall - offset;
        if (offsetAt(tz, candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (!first) {
        // In a gap: the clock jumps from before the wall time to after it at the transition.
        first = wall - before;
        if (tz.hasTransitions()) {
            const QTimeZone::OffsetData next =
                tz.nextTransition(QDateTime::fromSecsSinceEpoch(wall - after - 1, Qt::UTC));
            if (next.atUtc.isValid() && next.atUtc.toSecsSinceEpoch() <= wall - before)
                first = next.atUtc.toSecsSinceEpoch();
        }
    }
    return QDateTime::fromMSecsSinceEpoch((*first) * 1000 + local.time.msec(), Qt::UTC);
}

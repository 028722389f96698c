#include "core/alarms/TimeLeft.h"

namespace {

constexpr qint64 kMinuteMs = 60 * 1000;
constexpr qint64 kMinutesPerDay = 24 * 60;

qint64 ceilDiv(qint64 a, qint64 b)
{
    return a <= 0 ? 0 : (a + b - 1) / b;
}

QString join(const QString& first, const QString& second)
{
    return second.isEmpty() ? first : first + u' ' + second;
}

QString unit(const QString& pattern, qint64 n)
{
    return QString(pattern).replace(QStringLiteral("%1"), QString::number(n));
}

} // namespace

QString FormatTimeLeft(qint64 msecsLeft, const TimeLeftUnits& units, int stepMinutes)
{
    const qint64 step = qMax(1, stepMinutes) * kMinuteMs;
    const qint64 minutes = ceilDiv(msecsLeft, step) * step / kMinuteMs;
    if (minutes < 60)
        return unit(units.minutes, minutes);
    if (minutes < kMinutesPerDay) {
        const qint64 rest = minutes % 60;
        return join(unit(units.hours, minutes / 60), rest ? unit(units.minutes, rest) : QString());
    }
    // Minutes would only clutter a time days away.
    const qint64 hours = ceilDiv(minutes, 60);
    const qint64 rest = hours % 24;
    return join(unit(units.days, hours / 24), rest ? unit(units.hours, rest) : QString());
}

qint64 MsecsUntilTimeLeftStep(qint64 msecsLeft, int stepMinutes)
{
    qint64 step = qMax(1, stepMinutes) * kMinuteMs;
    // Beyond a day the text counts hours: waking up more often would change nothing.
    if (ceilDiv(msecsLeft, step) * step > kMinutesPerDay * kMinuteMs)
        step = qMax(step, 60 * kMinuteMs);
    const qint64 steps = ceilDiv(msecsLeft, step);
    if (steps <= 1)
        return -1;
    return msecsLeft - (steps - 1) * step;
}

qint64 MsecsUntil(const LocalDateTime& at, const QDateTime& now, const UtcOffsetAt& offsetAt)
{
    return now.msecsTo(LocalToUtc(at, offsetAt));
}

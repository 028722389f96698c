#include "ShiftedClock.h"

#include <QDateTime>

#include <cstdlib>
#include <ctime>

namespace {

// TZ of this process changed for one computation and put back afterwards.
class ZoneScope final
{
public:
    explicit ZoneScope(const ShiftedClock::Zone& zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        if (zone)
            ::setenv("TZ", zone->constData(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ~ZoneScope()
    {
        if (m_had)
            ::setenv("TZ", m_old.constData(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    bool m_had = false;
    QByteArray m_old;
};

} // namespace

namespace ShiftedClock {

qint64 LocalToUtcMs(QDate date, QTime time, const Zone& zone)
{
    const ZoneScope scope(zone);
    std::tm local{};
    local.tm_year = date.year() - 1900;
    local.tm_mon = date.month() - 1;
    local.tm_mday = date.day();
    local.tm_hour = time.hour();
    local.tm_min = time.minute();
    local.tm_sec = time.second();
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    return qint64(seconds) * 1000 + time.msec();
}

QDate LocalDate(qint64 utcMs, const Zone& zone)
{
    const ZoneScope scope(zone);
    const std::time_t seconds = std::time_t(utcMs / 1000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

Ring PlanRing(QTime time, int leadMs, const Zone& zone)
{
    Ring ring;
    ring.realDueMs = NowMs() + leadMs;
    ring.date = LocalDate(ring.realDueMs, zone);
    ring.time = time;
    ring.dueUtcMs = LocalToUtcMs(ring.date, time, zone);
    ring.offsetMs = ring.dueUtcMs - ring.realDueMs;
    return ring;
}

} // namespace ShiftedClock

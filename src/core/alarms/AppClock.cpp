#include "core/alarms/AppClock.h"

#include "core/mglib/DebugLog.h"

namespace {

// Further than this from the real clock, dates stop meaning anything to the program or to Qt.
constexpr qint64 kMaxOffsetMs = 1000LL * 366 * 86400 * 1000;

} // namespace

const AppClock& AppClock::Program()
{
    // LARKBELL_TEST_CLOCK_OFFSET_MS (signed milliseconds, for end-to-end tests) moves the program's clock and
    // its timers away from the system clock; absent, empty or not an integer, it moves nothing.
    static const AppClock clock(ParseOffset(qgetenv("LARKBELL_TEST_CLOCK_OFFSET_MS")));
    return clock;
}

void AppClock::LogOffset() const
{
    if (m_offsetMs != 0)
        WriteLog(QStringLiteral("Clock offset for tests: %1 ms").arg(m_offsetMs));
}

qint64 AppClock::ParseOffset(const QByteArray& value)
{
    bool ok = false;
    const qint64 offset = value.trimmed().toLongLong(&ok, 10);
    return ok && qAbs(offset) <= kMaxOffsetMs ? offset : 0;
}

qint64 AppClock::NowMSecs() const
{
    return QDateTime::currentMSecsSinceEpoch() + m_offsetMs;
}

QDateTime AppClock::NowUtc() const
{
    return QDateTime::fromMSecsSinceEpoch(NowMSecs(), Qt::UTC);
}

QDateTime AppClock::Now() const
{
    return QDateTime::fromMSecsSinceEpoch(NowMSecs(), Qt::LocalTime);
}

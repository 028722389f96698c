#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

/**
 * Sets the TZ variable for a scope (nullopt: unsets it, so the system setting applies) and puts back what
 * was there. The C library's local time and Qt::LocalTime follow the variable from the next reading on.
 */
class TimeZoneScope final
{
public:
    explicit TimeZoneScope(const std::optional<QByteArray>& tz)
        : m_saved(qEnvironmentVariableIsSet("TZ") ? std::optional<QByteArray>(qgetenv("TZ")) : std::nullopt)
    {
        set(tz);
    }
    ~TimeZoneScope() { set(m_saved); }
    TimeZoneScope(const TimeZoneScope&) = delete;
    TimeZoneScope& operator=(const TimeZoneScope&) = delete;

private:
    static void set(const std::optional<QByteArray>& tz)
    {
        if (tz)
            qputenv("TZ", *tz);
        else
            qunsetenv("TZ");
    }

    std::optional<QByteArray> m_saved;
};

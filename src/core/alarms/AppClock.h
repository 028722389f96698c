#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QTime>

/**
 * The program's clock: the system's wall clock moved by a fixed offset. The offset is zero except in
 * end-to-end tests, which run the real program on a shifted clock so that a scenario need not wait for a
 * real minute boundary; the timers the program arms follow the shifted clock through ToSystemClock.
 */
class AppClock final
{
public:
    explicit AppClock(qint64 offsetMs = 0)
        : m_offsetMs(offsetMs)
    {}

    /** The clock every part of the program reads; its offset comes from the environment, read once. */
    static const AppClock& Program();
    /** The offset a value of the environment variable asks for: a signed decimal integer, else 0. */
    static qint64 ParseOffset(const QByteArray& value);

    qint64 OffsetMs() const { return m_offsetMs; }
    /** Writes the offset to the log when there is one. */
    void LogOffset() const;
    /** Milliseconds since the epoch. */
    qint64 NowMSecs() const;
    QDateTime NowUtc() const;
    /** In local time, as the system's time zone shows it (the TZ variable, else the system setting). */
    QDateTime Now() const;
    QTime CurrentTime() const { return Now().time(); }
    QDate CurrentDate() const { return Now().date(); }
    /** The instant at which the system's clock reaches what this clock calls `instant`. */
    QDateTime ToSystemClock(const QDateTime& instant) const { return instant.addMSecs(-m_offsetMs); }

private:
    qint64 m_offsetMs;
};

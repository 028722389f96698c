#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

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

/**
 * The instant at which a clock in zone shows local. A time that the clock skips (the spring-forward
 * gap) maps to the end of the gap, the first moment the clock shows that time or later; a time it
 * shows twice (fall-back) maps to the first occurrence.
 */
QDateTime LocalToUtc(const LocalDateTime& local, const QTimeZone& zone);

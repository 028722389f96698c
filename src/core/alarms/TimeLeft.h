#pragma once

#include "core/alarms/LocalTime.h"

#include <QDateTime>
#include <QString>

/** The unit patterns a time left is written with, each holding %1; English by default. */
struct TimeLeftUnits {
    QString days = QStringLiteral("%1 d");
    QString hours = QStringLiteral("%1 h");
    QString minutes = QStringLiteral("%1 min");
};

/**
 * How long until an alarm, as "7 h 12 min", "45 min" or "2 d 3 h". The time is rounded up to whole steps
 * of stepMinutes (1: to the minute), so that a text shown until its next refresh never promises the alarm
 * sooner than it comes; beyond a day it is rounded up to whole hours. Nothing left, or less, is "0 min".
 */
QString FormatTimeLeft(qint64 msecsLeft, const TimeLeftUnits& units, int stepMinutes = 1);

/**
 * Milliseconds from now until FormatTimeLeft(msecsLeft, .., stepMinutes) would count one step less, so that
 * a refresh then keeps the text true; -1 when it changes only as the alarm falls due (the alarm's own
 * firing refreshes it then).
 */
qint64 MsecsUntilTimeLeftStep(qint64 msecsLeft, int stepMinutes);

/**
 * Milliseconds from the instant now until the wall time at comes round in the zone offsetAt describes:
 * across a daylight-saving change this is the real time that passes, not the clocks' difference.
 */
qint64 MsecsUntil(const LocalDateTime& at, const QDateTime& now, const UtcOffsetAt& offsetAt);

#pragma once

#include "core/alarms/LocalTime.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

/** An alarm of the list as the session bus and the command line give it to other programs. */
struct RemoteAlarm {
    int index = 0; // position in the list, from 0: what SetEnabled takes
    QString time;  // "HH:mm"
    QString days;  // repeat days as "Mon,Tue", Monday first; empty for a one-time alarm
    QString label; // lines joined with "\n"
    bool enabled = true;

    bool operator==(const RemoteAlarm&) const = default;
};

/** Every alarm of the list, in list order. */
QList<RemoteAlarm> RemoteAlarms(const QStringList& alarmStrings);

/** Repeat days (Sunday first, as stored) as English day abbreviations, Monday first, comma separated. */
QString RepeatDaysText(const std::array<bool, 7>& days);

/**
 * An instant as ISO 8601 with the offset the zone has at it, to the second:
 * "2026-03-29T07:00:00+02:00". Empty for an invalid instant.
 */
QString DueText(const QDateTime& utc, const UtcOffsetAt& offsetAt);

/** The labels of the alarms at indexes, one line each, as the ringing window lists alarms due together. */
QString DueLabels(const QStringList& alarmStrings, const QList<int>& indexes);

/** "yyyy-MM-dd HH:mm  label" for a due time given as DueText makes it: the wall time it was given in. */
QString NextAlarmLine(const QString& due, const QString& label);

/** One alarm as the command line lists it: index, on or off, time, days or "once", label on one line. */
QString RemoteAlarmLine(const RemoteAlarm& alarm);

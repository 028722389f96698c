#pragma once

#include "core/alarms/AlarmRecord.h"
#include "core/mglib/MgLib.h"

#include <QStringList>

/**
 * The two alarm lists the crash-safety test alternates: `count` distinct AlarmStrings whose labels name
 * the list and the position, so that any mix of the two, or a list cut short, is told apart from both.
 */
inline QStringList SaveTestList(QChar name, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i) {
        AlarmRecord a;
        a.Time = MinutesToTime((i * 7) % 1440);
        a.Days = {i % 2 == 0, true, false, true, false, true, i % 3 == 0};
        a.Label = QStringLiteral("List %1, alarm %2").arg(name).arg(i);
        a.Sound = QStringLiteral("Bells1");
        list.append(BuildAlarmString(a));
    }
    return list;
}

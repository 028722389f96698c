#pragma once

#include "Desktop.h"
#include "core/alarms/AlarmRecord.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTest>
#include <QTime>

#include <array>

/**
 * QVERIFY2 with a message of any length: the journeys' failure reports (the program's log, its
 * threads' stacks, the windows on screen) run far past the few hundred characters QVERIFY2 keeps.
 */
#define JOURNEY_VERIFY(condition, message)                                                                             \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            QFAIL(QByteArray(QByteArray("'" #condition "' returned FALSE: ") + QByteArray(message)).constData());      \
    } while (false)

/** Alarms and sounds the journeys ring with. */
namespace Journey {

/**
 * Writes a sine tone (880 Hz, stereo, 44.1 kHz) with sox into folder; its path, or empty on failure.
 * amplitude is linear, 1.0 = full scale.
 */
QString MakeTone(const QString& folder, const QString& name, double seconds, double amplitude = 0.5);

/**
 * What every journey starts with: the desktop, a private copy of the program (LARKBELL_JOURNEY_EXE, else
 * builtExe) and, when ringSound is given, a one-second tone to ring with. False with why set when a step fails.
 */
bool SetUp(Desktop& desktop, const Desktop::Options& options, const QString& builtExe, QString* exe, QString* ringSound,
           QString* why);

/** An alarm as a user sets one up in the editor: its sound, its volume, the message window. */
AlarmRecord Alarm(QTime time, const QString& sound, bool loop = true, int volume = 85);

/** Repeat days, Sunday first. */
std::array<bool, 7> EveryDay();
std::array<bool, 7> OnlyOn(QDate date);
/** Sunday first, as the repeat days are stored. */
int DayIndex(QDate date);
/** The next date after `after` on which an alarm with these repeat days rings. */
QDate NextRepeat(const std::array<bool, 7>& days, QDate after);

/** The AlarmString of a record. */
inline QString Stored(const AlarmRecord& alarm)
{
    return BuildAlarmString(alarm);
}

} // namespace Journey

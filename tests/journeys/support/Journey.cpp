#include "Journey.h"

#include "Program.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace Journey {

QString MakeTone(const QString& folder, const QString& name, double seconds, double amplitude)
{
    const QString path = QDir(folder).filePath(name);
    if (QFileInfo::exists(path))
        return path;
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
               QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), path, QStringLiteral("synth"),
               QString::number(seconds), QStringLiteral("sine"), QStringLiteral("880"), QStringLiteral("vol"),
               QString::number(amplitude)});
    if (!sox.waitForFinished(30000) || sox.exitStatus() != QProcess::NormalExit || sox.exitCode() != 0)
        return QString();
    return path;
}

AlarmRecord Alarm(QTime time, const QString& sound, bool loop, int volume)
{
    AlarmRecord alarm;
    alarm.Time = time;
    alarm.Enabled = true;
    alarm.Snooze = true;
    alarm.WakeUp = false;
    alarm.MonitorOn = true;
    alarm.VolumeOn = true;
    alarm.Volume = volume;
    alarm.ShowMessage = true;
    alarm.SoundLoop = loop;
    alarm.Label = QStringLiteral("Journey %1").arg(time.toString(QStringLiteral("HH:mm")));
    alarm.Sound = sound;
    return alarm;
}

std::array<bool, 7> EveryDay()
{
    std::array<bool, 7> days{};
    days.fill(true);
    return days;
}

int DayIndex(QDate date)
{
    return date.dayOfWeek() % 7; // Qt counts Monday = 1 .. Sunday = 7
}

std::array<bool, 7> OnlyOn(QDate date)
{
    std::array<bool, 7> days{};
    days[std::size_t(DayIndex(date))] = true;
    return days;
}

QDate NextRepeat(const std::array<bool, 7>& days, QDate after)
{
    for (int ahead = 1; ahead <= 7; ++ahead) {
        const QDate date = after.addDays(ahead);
        if (days[std::size_t(DayIndex(date))])
            return date;
    }
    return QDate();
}

bool SetUp(Desktop& desktop, const Desktop::Options& options, const QString& builtExe, QString* exe, QString* ringSound,
           QString* why)
{
    if (!desktop.Start(options, why))
        return false;
    *exe = Program::PrivateCopy(desktop, qEnvironmentVariable("LARKBELL_JOURNEY_EXE", builtExe));
    if (exe->isEmpty()) {
        *why = QStringLiteral("cannot copy the program");
        return false;
    }
    if (ringSound) {
        *ringSound = MakeTone(desktop.Scratch(), QStringLiteral("ring.wav"), 1.0);
        if (ringSound->isEmpty()) {
            *why = QStringLiteral("sox could not write the test tone");
            return false;
        }
    }
    return true;
}

} // namespace Journey

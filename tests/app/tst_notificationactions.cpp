// What the remote control and an alarm's notification buttons reach in the program: the ringing
// alarm's notification and its buttons, snooze and dismiss through them, the ringing window's
// signals, and switching an alarm on and off as the list's check box does.
#include "TestProgram.h"
#include "core/alarms/AlarmRecord.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "ui/MainForm.h"
#include "ui/WakeupForm.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

AlarmRecord alarmAt(int minutes, const QString& label)
{
    AlarmRecord a;
    a.Time = MinutesToTime(minutes);
    a.Days = {true, true, true, true, true, true, true};
    a.Label = label;
    a.Sound = QStringLiteral("Bells1");
    a.SoundLoop = true;
    return a;
}

void writeData(const QString& folder, const QList<AlarmRecord>& alarms)
{
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    QStringList strings;
    for (const AlarmRecord& alarm : alarms)
        strings.append(BuildAlarmString(alarm));
    ini.WriteList(Settings::Alarms, strings);
    ini.Write(Settings::FirstStarted, true);
}

QStringList savedAlarms(const QString& folder)
{
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    return ini.ReadList(Settings::Alarms);
}

QStringList actionKeys(const FakePlatform::ShownNotification& shown)
{
    QStringList keys;
    for (const NotificationAction& action : shown.style.actions)
        keys.append(QString::fromStdString(action.key) + u'=' + QString::fromStdString(action.label));
    return keys;
}

} // namespace

class TestNotificationActions : public QObject
{
    Q_OBJECT

private slots:
    void aBalloonAlarmOffersSnoozeAndDismiss();
    void snoozeOnTheNotificationSnoozes();
    void dismissOnTheNotificationDismisses();
    void anAlarmWithoutSnoozeOffersOnlyDismiss();
    void aButtonOfAnEndedAlarmDoesNothing();
    void ringingAndStoppingAreSignalled();
    void setAlarmEnabledSavesLikeTheCheckBox();
};

void TestNotificationActions::aBalloonAlarmOffersSnoozeAndDismiss()
{
    QTemporaryDir dir;
    AlarmRecord balloon = alarmAt(7 * 60, QStringLiteral("balloon"));
    balloon.ShowMessage = false;
    writeData(dir.path(), {balloon});
    TestProgram program(dir.path());
    QVERIFY(program.FireNextAlarm());
    QVERIFY(program.Wakeup().AlarmActive());
    QVERIFY(!program.Platform().ShownNotifications().empty());
    const FakePlatform::ShownNotification& shown = program.Platform().ShownNotifications().back();
    QVERIFY(shown.style.critical);
    QCOMPARE(actionKeys(shown), (QStringList{QStringLiteral("snooze=Snooze"), QStringLiteral("dismiss=Dismiss")}));
    QVERIFY(QString::fromStdString(shown.text).contains(QStringLiteral("balloon")));
}

void TestNotificationActions::snoozeOnTheNotificationSnoozes()
{
    QTemporaryDir dir;
    AlarmRecord balloon = alarmAt(7 * 60, QStringLiteral("balloon"));
    balloon.ShowMessage = false;
    writeData(dir.path(), {balloon});
    TestProgram program(dir.path());
    QVERIFY(program.FireNextAlarm());
    QVERIFY(program.Platform().ChooseNotificationAction("snooze"));
    QVERIFY(!program.Wakeup().AlarmActive());
    QVERIFY(program.Wakeup().SnoozePending());
}

void TestNotificationActions::dismissOnTheNotificationDismisses()
{
    QTemporaryDir dir;
    AlarmRecord balloon = alarmAt(7 * 60, QStringLiteral("balloon"));
    balloon.ShowMessage = false;
    writeData(dir.path(), {balloon});
    TestProgram program(dir.path());
    QVERIFY(program.FireNextAlarm());
    QVERIFY(program.Platform().ChooseNotificationAction("dismiss"));
    QVERIFY(!program.Wakeup().AlarmActive());
    QVERIFY(!program.Wakeup().SnoozePending());
}

void TestNotificationActions::anAlarmWithoutSnoozeOffersOnlyDismiss()
{
    QTemporaryDir dir;
    AlarmRecord balloon = alarmAt(7 * 60, QStringLiteral("no snooze"));
    balloon.ShowMessage = false;
    balloon.Snooze = false;
    writeData(dir.path(), {balloon});
    TestProgram program(dir.path());
    QVERIFY(program.FireNextAlarm());
    QCOMPARE(actionKeys(program.Platform().ShownNotifications().back()),
             QStringList{QStringLiteral("dismiss=Dismiss")});
    QVERIFY(!program.Platform().ChooseNotificationAction("snooze"));
    // Asked all the same (over the bus), snooze is refused and the alarm keeps ringing.
    QVERIFY(!program.Wakeup().SnoozeAlarm());
    QVERIFY(program.Wakeup().AlarmActive());
    QVERIFY(program.Platform().ChooseNotificationAction("dismiss"));
    QVERIFY(!program.Wakeup().AlarmActive());
}

void TestNotificationActions::aButtonOfAnEndedAlarmDoesNothing()
{
    QTemporaryDir dir;
    AlarmRecord balloon = alarmAt(7 * 60, QStringLiteral("balloon"));
    balloon.ShowMessage = false;
    writeData(dir.path(), {balloon});
    TestProgram program(dir.path());
    QVERIFY(program.FireNextAlarm());
    program.Wakeup().DismissAlarm(); // answered elsewhere (the tray); the notification may still be up
    QVERIFY(!program.Wakeup().SnoozeAlarm());
    program.Platform().ChooseNotificationAction("snooze");
    QVERIFY(!program.Wakeup().SnoozePending());
    QVERIFY(!program.Wakeup().AlarmActive());
}

void TestNotificationActions::ringingAndStoppingAreSignalled()
{
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("two\r\nlines"))});
    TestProgram program(dir.path());
    QSignalSpy ringing(&program.Wakeup(), &TWakeupForm::alarmRinging);
    QSignalSpy stopped(&program.Wakeup(), &TWakeupForm::alarmStopped);
    QVERIFY(program.FireNextAlarm());
    QCOMPARE(ringing.size(), 1);
    QCOMPARE(ringing.at(0).at(0).toString(), QStringLiteral("two\nlines"));
    QCOMPARE(stopped.size(), 0);
    QVERIFY(program.Wakeup().SnoozeAlarm()); // as the window's Snooze
    QCOMPARE(stopped.size(), 1);
    QVERIFY(program.Wakeup().SnoozePending());
    program.Wakeup().DismissAlarm(); // nothing rings: no second stop
    QCOMPARE(stopped.size(), 1);
}

void TestNotificationActions::setAlarmEnabledSavesLikeTheCheckBox()
{
    QTemporaryDir dir;
    // The first is the next to ring at any time of day: an hour and two from now, or, late in the
    // evening, at one and two in the morning.
    const QTime now = QTime::currentTime();
    int minute = now.hour() * 60 + now.minute() + 60;
    if (minute + 60 >= 24 * 60)
        minute = 60;
    const AlarmRecord first = alarmAt(minute, QStringLiteral("first"));
    const AlarmRecord second = alarmAt(minute + 60, QStringLiteral("second"));
    writeData(dir.path(), {first, second});
    TestProgram program(dir.path());
    TMainForm& main = program.Main();
    QVERIFY(main.SetAlarmEnabled(0, false));
    AlarmRecord firstOff = first;
    firstOff.Enabled = false;
    QCOMPARE(savedAlarms(dir.path()), (QStringList{BuildAlarmString(firstOff), BuildAlarmString(second)}));
    QCOMPARE(program.Controller().Scheduler()->Schedule().nextAlarmIndex, 1);
    QVERIFY(!main.SetAlarmEnabled(2, true));
    QVERIFY(!main.SetAlarmEnabled(-1, true));
    QVERIFY(main.SetAlarmEnabled(0, true));
    QCOMPARE(savedAlarms(dir.path()), (QStringList{BuildAlarmString(first), BuildAlarmString(second)}));
    QCOMPARE(program.Controller().Scheduler()->Schedule().nextAlarmIndex, 0);
}

QTEST_MAIN(TestNotificationActions)
#include "tst_notificationactions.moc"

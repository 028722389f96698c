// The program's owner object: start-up order, the exit sequence from every state, and that nothing
// modal stands between a firing and the next armed alarm.
#include "TestProgram.h"
#include "TestSupport.h"
#include "audio/SoundPlayer.h"
#include "core/alarms/AlarmRecord.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "ui/AlarmListView.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString alarmAt(int minutes, const QString& label, bool repeating = false)
{
    AlarmRecord a;
    a.Time = MinutesToTime(minutes);
    if (repeating)
        a.Days = {true, true, true, true, true, true, true};
    a.Label = label;
    a.Sound = QStringLiteral("Bells1");
    a.SoundLoop = true;
    a.Enabled = true;
    return BuildAlarmString(a);
}

std::string exePath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("larkbell")).toStdString();
}

void writeData(const QString& folder, const QStringList& alarms)
{
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    ini.WriteList(Settings::Alarms, alarms);
    ini.Write(Settings::FirstStarted, true);
}

QStringList savedAlarms(const QString& folder)
{
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    return ini.ReadList(Settings::Alarms);
}

// Runs action as soon as a modal window is up, from inside its loop, as a signal would arrive.
void whenModalOpens(std::function<void(QWidget*)> action)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        }
    });
    poll->start();
}

} // namespace

class TestAppController : public QObject
{
    Q_OBJECT

private slots:
    void startArmsTheTimerForTheFirstAlarm();
    void exitFromEveryState_data();
    void exitFromEveryState();
    void everyWayOfAskingEndsTheProgram_data();
    void everyWayOfAskingEndsTheProgram();
    void aMessageBoxWhileRingingNeitherHidesNorSilences();
    void theWindowHiddenByOthersKeepsRinging();
    void aSilentAlarmKeepsItsWindowUp();
    void aSecondStartDismissesAndShows();
    void aMaximizedWindowStaysMaximized();
    void notificationButtonsHaveEnglishCaptionsFromTheStart();
};

void TestAppController::startArmsTheTimerForTheFirstAlarm()
{
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("wake"), true)});
    TestProgram program(dir.path());
    QVERIFY(program.Started());
    QVERIFY(program.Platform().AlarmDue().has_value());
    QCOMPARE(program.Controller().Scheduler()->Schedule().nextAlarmIndex, 0);
}

void TestAppController::exitFromEveryState_data()
{
    QTest::addColumn<QString>("state");
    for (const char* state : {"idle in the tray", "main window shown", "alarm ringing", "snoozed",
                              "floating clock shown", "delete question open", "editor open"})
        QTest::newRow(state) << QString::fromLatin1(state);
}

void TestAppController::exitFromEveryState()
{
    QFETCH(QString, state);
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("first"), true), alarmAt(8 * 60, QStringLiteral("second"))});
    TestProgram program(dir.path());
    QSignalSpy exited(&program.Controller(), &AppController::exited);
    TMainForm& main = program.Main();
    TWakeupForm& wakeup = program.Wakeup();
    // A change made just before exit must be in the file afterwards, whatever the program was doing.
    main.AlarmView()->SetCurrentRow(1);
    main.actEnableExecute();
    const QStringList expected = program.Controller().Scheduler()->Alarms();

    if (state == QLatin1String("main window shown"))
        main.OpenWindow();
    if (state == QLatin1String("alarm ringing") || state == QLatin1String("snoozed")) {
        QVERIFY(program.FireNextAlarm());
        QVERIFY(wakeup.AlarmActive());
        if (state == QLatin1String("snoozed"))
            wakeup.btnSnooze->click();
    }
    if (state == QLatin1String("floating clock shown"))
        Child<QAction>(&main, "miShowFloatingWindow")->trigger();
    if (state == QLatin1String("delete question open") || state == QLatin1String("editor open")) {
        main.AlarmView()->SetCurrentRow(0);
        whenModalOpens([&program](QWidget*) { program.Controller().Exit(); });
        if (state == QLatin1String("editor open"))
            main.actEditExecute(); // returns once the exit has ended the editor's loop
        else
            main.actDeleteExecute();
        QCOMPARE(program.Controller().Scheduler()->Alarms().size(), 2); // nothing was answered for the user
    } else {
        program.Controller().Exit();
    }

    QCOMPARE(exited.size(), 1);
    QVERIFY(!wakeup.AlarmActive());
    QVERIFY(!wakeup.SnoozePending());
    QVERIFY(!program.Controller().Player()->IsPlaying());
    QCOMPARE(savedAlarms(dir.path()), expected);
    // The instance is free for the next start.
    QVERIFY(!program.Platform().SendToInstance(exePath(dir), InstanceMessage::Show, InstanceMessage::Param1,
                                               InstanceMessage::Param2));
    program.Controller().Exit(); // a second request changes nothing
    QCOMPARE(exited.size(), 1);
}

void TestAppController::everyWayOfAskingEndsTheProgram_data()
{
    QTest::addColumn<QString>("way");
    for (const char* way : {"File > Exit", "a second start with -close", "a termination signal", "the toolkit's quit"})
        QTest::newRow(way) << QString::fromLatin1(way);
}

void TestAppController::everyWayOfAskingEndsTheProgram()
{
    QFETCH(QString, way);
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("first"), true)});
    TestProgram program(dir.path());
    QSignalSpy exited(&program.Controller(), &AppController::exited);
    // The alarm window refuses to be closed: asking must not depend on any window agreeing.
    QVERIFY(program.FireNextAlarm());
    if (way == QLatin1String("File > Exit")) {
        Child<QAction>(&program.Main(), "actExit")->trigger();
    } else if (way == QLatin1String("a second start with -close")) {
        QVERIFY(program.Platform().SendToInstance(exePath(dir), InstanceMessage::Exit, InstanceMessage::Param1,
                                                  InstanceMessage::Param2));
    } else if (way == QLatin1String("a termination signal")) {
        program.Platform().RequestExit();
    } else {
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &quit);
    }
    QCOMPARE(exited.size(), 1);
    QVERIFY(!program.Wakeup().AlarmActive());
}

void TestAppController::aMessageBoxWhileRingingNeitherHidesNorSilences()
{
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("ring"), true)});
    TestProgram program(dir.path());
    TWakeupForm& wakeup = program.Wakeup();
    QVERIFY(program.FireNextAlarm());
    QVERIFY(QTest::qWaitForWindowExposed(&wakeup));
    bool ringingWhileOpen = false;
    whenModalOpens([&](QWidget* box) {
        ringingWhileOpen = wakeup.AlarmActive() && wakeup.isVisible() && program.Controller().Player()->IsPlaying();
        qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    ShowWarning(nullptr, QStringLiteral("Something to say"));
    QVERIFY(ringingWhileOpen);
    QVERIFY(wakeup.AlarmActive());
    QVERIFY(wakeup.isVisible());
    QVERIFY(program.Controller().Player()->IsPlaying());
    QVERIFY(wakeup.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
}

void TestAppController::theWindowHiddenByOthersKeepsRinging()
{
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("ring"), true)});
    TestProgram program(dir.path());
    TWakeupForm& wakeup = program.Wakeup();
    QVERIFY(program.FireNextAlarm());
    wakeup.hide(); // a window manager, a flag change: not an answer from the user
    QVERIFY(wakeup.AlarmActive());
    QVERIFY(program.Controller().Player()->IsPlaying());
    wakeup.btnOK->click();
    QVERIFY(!wakeup.AlarmActive());
    QVERIFY(!program.Controller().Player()->IsPlaying());
}

// The sound starts before the window shows: an alarm without a sound must not take its window, still
// on its way, for one that is not there, even while a balloon-only alarm rings hidden.
void TestAppController::aSilentAlarmKeepsItsWindowUp()
{
    QTemporaryDir dir;
    AlarmRecord balloon;
    balloon.Time = MinutesToTime(7 * 60);
    balloon.Days = {true, true, true, true, true, true, true};
    balloon.Label = QStringLiteral("balloon");
    balloon.Sound = QStringLiteral("Bells1");
    balloon.SoundLoop = true;
    balloon.ShowMessage = false;
    AlarmRecord silent = balloon;
    silent.Time = MinutesToTime(7 * 60 + 1);
    silent.Label = QStringLiteral("quiet");
    silent.Sound.clear();
    silent.ShowMessage = true;
    writeData(dir.path(), {BuildAlarmString(balloon), BuildAlarmString(silent)});
    TestProgram program(dir.path());
    TWakeupForm& wakeup = program.Wakeup();
    QVERIFY(program.FireNextAlarm());
    QVERIFY(wakeup.AlarmActive());
    QVERIFY(!wakeup.isVisible());
    QVERIFY(program.FireNextAlarm());
    QVERIFY(wakeup.AlarmActive());
    QVERIFY(wakeup.isVisible());
    QCOMPARE(AlarmField::Label(wakeup.ActiveAlarm()), QStringLiteral("quiet"));
}

void TestAppController::aSecondStartDismissesAndShows()
{
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("ring"), true)});
    TestProgram program(dir.path());
    QVERIFY(program.FireNextAlarm());
    QVERIFY(program.Platform().SendToInstance(exePath(dir), InstanceMessage::Show, InstanceMessage::Param1,
                                              InstanceMessage::Param2));
    QVERIFY(!program.Wakeup().AlarmActive());
    QVERIFY(program.Main().isVisible());
    QVERIFY(!program.Controller().Exiting());
}

void TestAppController::aMaximizedWindowStaysMaximized()
{
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("ring"), true)});
    {
        // As an exit with the window maximized leaves it: the normal placement of earlier, and the state.
        TAppIni ini(dir.path(), dir.path());
        ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
        ini.WriteInteger(QStringLiteral("TMainFormLeft"), 40);
        ini.WriteInteger(QStringLiteral("TMainFormTop"), 50);
        ini.WriteInteger(QStringLiteral("TMainFormWidth"), 600);
        ini.WriteInteger(QStringLiteral("TMainFormHeight"), 450);
        ini.WriteInteger(QStringLiteral("TMainFormState"), 1);
    }
    TestProgram program(dir.path());
    TMainForm& main = program.Main();
    const auto showYourself = [&] {
        QVERIFY(program.Platform().SendToInstance(exePath(dir), InstanceMessage::Show, InstanceMessage::Param1,
                                                  InstanceMessage::Param2));
    };
    // Started in the tray; the first time it is asked for, it comes as it was left.
    showYourself();
    QTRY_VERIFY(main.isVisible());
    QVERIFY(main.isMaximized());
    // Asked for again while shown, and again after the user minimized it: maximized both times.
    showYourself();
    QVERIFY(main.isMaximized());
    main.showMinimized();
    QTRY_VERIFY(main.isMinimized());
    showYourself();
    QTRY_VERIFY(!main.isMinimized());
    QVERIFY(main.isMaximized());
    program.Controller().Exit();
    TAppIni saved(dir.path(), dir.path());
    saved.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    QCOMPARE(saved.ReadInteger(QStringLiteral("TMainFormState"), -1), 1);
    QCOMPARE(saved.ReadInteger(QStringLiteral("TMainFormWidth"), -1), 600);
}

void TestAppController::notificationButtonsHaveEnglishCaptionsFromTheStart()
{
    QTemporaryDir dir;
    writeData(dir.path(), {alarmAt(7 * 60, QStringLiteral("ring"), true)});
    TestProgram english(dir.path());
    QCOMPARE(english.Wakeup().btnSnooze->text(), QStringLiteral("Snooze"));
    QCOMPARE(english.Wakeup().btnOK->text(), QStringLiteral("OK"));
}

QTEST_MAIN(TestAppController)
#include "tst_appcontroller.moc"

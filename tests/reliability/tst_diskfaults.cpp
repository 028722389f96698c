// A disk that refuses a save: Data.ini read-only, its folder read-only, a full file system. The main
// window says so once, the list stays in memory, alarms keep ringing, and once the fault is gone the
// next save writes the whole list.
#include "DiskFault.h"
#include "MessageBoxWatch.h"
#include "TestProgram.h"
#include "TestScheduler.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "platform/fake/FakePlatform.h"
#include "ui/AlarmForm.h"
#include "ui/AlarmListView.h"
#include "ui/MainForm.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString makeAlarm(int minutes, const QString& label, bool daily)
{
    AlarmRecord a;
    a.Time = MinutesToTime(minutes);
    if (daily)
        a.Days = {true, true, true, true, true, true, true};
    a.Label = label;
    return BuildAlarmString(a);
}

// The alarms as a list reads back: Data.ini keeps no blanks at the end of a value.
QList<AlarmRecord> records(const QStringList& list)
{
    QList<AlarmRecord> result;
    for (const QString& s : list)
        result.append(ParseAlarmString(s));
    return result;
}

QList<AlarmRecord> savedList(const QString& folder)
{
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    return records(ini.ReadList(Settings::Alarms));
}

void addFaultRows()
{
    QTest::addColumn<DiskFault::Kind>("kind");
    QTest::addRow("Data.ini read-only") << DiskFault::Kind::FileReadOnly;
    QTest::addRow("its folder read-only") << DiskFault::Kind::FolderReadOnly;
    QTest::addRow("the file system full") << DiskFault::Kind::FileSystemFull;
}

} // namespace

Q_DECLARE_METATYPE(DiskFault::Kind)

class TestDiskFaults : public QObject
{
    Q_OBJECT

private slots:
    void theMainWindowSaysSoOnceAndSavesLater_data() { addFaultRows(); }
    void theMainWindowSaysSoOnceAndSavesLater();
    void alarmsKeepRingingWhileSavesFail_data() { addFaultRows(); }
    void alarmsKeepRingingWhileSavesFail();
    void nothingWaitsForTheUserOnTheAlarmPath_data() { addFaultRows(); }
    void nothingWaitsForTheUserOnTheAlarmPath();
};

void TestDiskFaults::theMainWindowSaysSoOnceAndSavesLater()
{
    QFETCH(DiskFault::Kind, kind);
    QTemporaryDir dir;
    DiskFault fault(kind, dir.path());
    if (!fault.Unavailable().isEmpty())
        QSKIP(qPrintable(fault.Unavailable()));

    TAppIni ini(dir.path(), dir.filePath(QStringLiteral("Sounds/")));
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    const QStringList before = {makeAlarm(6 * 60, QStringLiteral("early"), true),
                                makeAlarm(23 * 60 + 59, QStringLiteral("late"), true)};
    ini.WriteList(Settings::Alarms, before);
    ini.Write(Settings::FirstStarted, true);
    TestProgram program(dir.path());
    TMainForm* main = &program.Main();
    FakePlatform& platform = program.Platform();
    MessageBoxWatch boxes;

    QVERIFY2(fault.Apply(), qPrintable(fault.Unavailable()));
    // Two changes while the disk refuses: both stay in memory, one message says so.
    main->AlarmView()->SetCurrentRow(0);
    main->actEnableExecute();
    main->AlarmView()->SetCurrentRow(1);
    main->actEnableExecute();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, 5000);
    QTest::qWait(100); // room for a second box, which must not come
    QCOMPARE(boxes.Texts().size(), 1);
    const QString message = boxes.Texts().first();
    QVERIFY2(message.contains(QStringLiteral("could not be saved")) && message.contains(QStringLiteral("Data.ini")),
             qPrintable(message));
    qInfo("The message: %s", qPrintable(QString(message).replace(u'\n', u' ')));
    const QStringList inMemory = main->Scheduler().Alarms();
    QVERIFY(!AlarmField::Enabled(inMemory.at(0)) && !AlarmField::Enabled(inMemory.at(1)));
    QVERIFY(savedList(dir.path()) == records(before));
    // Both alarms are off in memory, and the schedule follows memory: nothing is armed to ring.
    QVERIFY(main->Scheduler().Schedule().panel.isEmpty());
    main->AlarmView()->SetCurrentRow(0);
    main->actEnableExecute(); // "early" on again, still unsaved
    QVERIFY(main->Scheduler().Schedule().alarmAt.has_value());
    QCOMPARE(main->Scheduler().Schedule().nextAlarmIndex, 0);
    QVERIFY(platform.AlarmDue() == ToWallTime(main->Scheduler().AlarmDueUtc()));
    QVERIFY(main->Scheduler().AlarmDueUtc() < QDateTime::currentDateTimeUtc().addDays(1));

    fault.Remove();
    main->AlarmView()->SetCurrentRow(1);
    main->actEnableExecute(); // "late" on again: this save goes through
    QVERIFY(savedList(dir.path()) == records(main->Scheduler().Alarms()));
    QVERIFY(savedList(dir.path()) == records(before));
    QCOMPARE(boxes.Texts().size(), 1);
}

void TestDiskFaults::alarmsKeepRingingWhileSavesFail()
{
    QFETCH(DiskFault::Kind, kind);
    QTemporaryDir dir;
    DiskFault fault(kind, dir.path());
    if (!fault.Unavailable().isEmpty())
        QSKIP(qPrintable(fault.Unavailable()));

    FakePlatform platform;
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    const QTimeZone zone("Europe/Berlin");
    QDateTime now(QDate(2026, 12, 8), QTime(6, 59), zone);
    TestScheduler scheduler(platform, ini, now, zone);
    const QStringList before = {makeAlarm(7 * 60, QStringLiteral("once at 7"), false),
                                makeAlarm(7 * 60 + 5, QStringLiteral("daily at 7:05"), true),
                                makeAlarm(7 * 60 + 10, QStringLiteral("once at 7:10"), false)};
    scheduler->SetAlarms(before);
    scheduler->SaveAndRebuild();
    QSignalSpy rang(scheduler.get(), &AlarmScheduler::alarmsDue);
    QSignalSpy failed(scheduler.get(), &AlarmScheduler::saveFailed);

    QVERIFY2(fault.Apply(), qPrintable(fault.Unavailable()));
    for (int i = 0; i < 3; ++i) {
        now = scheduler->AlarmDueUtc().toTimeZone(zone);
        QVERIFY(platform.AdvanceTo(ToWallTime(now.toUTC())));
    }
    QCOMPARE(rang.size(), 3);
    QCOMPARE(failed.size(), 2); // each one-time alarm switched off after ringing, each save refused
    QVERIFY(!AlarmField::Enabled(scheduler->Alarms().at(0)) && !AlarmField::Enabled(scheduler->Alarms().at(2)));
    QVERIFY(savedList(dir.path()) == records(before));
    // Unsaved, yet remembered: the next alarm is tomorrow's 07:05, not a one-time alarm again.
    QCOMPARE(scheduler->AlarmDueUtc(), QDateTime(QDate(2026, 12, 9), QTime(7, 5), zone).toUTC());

    fault.Remove();
    scheduler->SaveAndRebuild();
    QCOMPARE(failed.size(), 2);
    QVERIFY(savedList(dir.path()) == records(scheduler->Alarms()));
}

// The whole program on a disk that refuses from the start: it starts with its timers armed and rings one
// alarm after another, while the refusals are reported once and without a box that waits for an answer.
void TestDiskFaults::nothingWaitsForTheUserOnTheAlarmPath()
{
    QFETCH(DiskFault::Kind, kind);
    QTemporaryDir dir;
    DiskFault fault(kind, dir.path());
    if (!fault.Unavailable().isEmpty())
        QSKIP(qPrintable(fault.Unavailable()));
    {
        TAppIni ini(dir.path(), dir.path());
        ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
        ini.WriteList(Settings::Alarms, {makeAlarm(7 * 60, QStringLiteral("once at 7"), false),
                                         makeAlarm(7 * 60 + 1, QStringLiteral("once at 7:01"), false)});
    } // FirstStarted is not set: start-up has a write to make
    QVERIFY2(fault.Apply(), qPrintable(fault.Unavailable()));
    MessageBoxWatch boxes;

    TestProgram program(dir.path());
    QVERIFY(program.Started());
    QVERIFY(program.Platform().AlarmDue().has_value());
    QSignalSpy rang(program.Controller().Scheduler(), &AlarmScheduler::alarmsDue);
    QVERIFY(program.FireNextAlarm());
    QVERIFY(program.FireNextAlarm()); // one minute later: armed although the first one's save failed
    QCOMPARE(rang.size(), 2);
    QVERIFY(program.Wakeup().AlarmActive());
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, 5000);
    QCOMPARE(boxes.ModalCount(), 0);
    const QStringList inMemory = program.Controller().Scheduler()->Alarms();
    QVERIFY(!AlarmField::Enabled(inMemory.at(0)) && !AlarmField::Enabled(inMemory.at(1)));
}

QTEST_MAIN(TestDiskFaults)
#include "tst_diskfaults.moc"

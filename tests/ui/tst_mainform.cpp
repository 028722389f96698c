#include "TestProgram.h"
#include "TestSupport.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "platform/fake/FakePlatform.h"
#include "ui/AlarmForm.h"
#include "ui/AlarmListView.h"
#include "ui/MainForm.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

QString makeAlarm(int minutes, const QString& label, bool enabled = true)
{
    AlarmRecord a;
    a.Time = MinutesToTime(minutes);
    a.Days = {true, true, true, true, true, true, true};
    a.Label = label;
    a.Enabled = enabled;
    return BuildAlarmString(a);
}

// Runs answer on the next modal window as soon as it is shown, for as long as the returned watch lives.
[[nodiscard]] std::unique_ptr<QTimer> whenModalOpens(std::function<void(QWidget*)> answer)
{
    auto poll = std::make_unique<QTimer>();
    poll->setInterval(10);
    QTimer* timer = poll.get();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            answer(modal);
        }
    });
    poll->start();
    return poll;
}

QList<AlarmRecord> parsed(const QStringList& alarms)
{
    QList<AlarmRecord> records;
    for (const QString& alarm : alarms)
        records.append(ParseAlarmString(alarm));
    return records;
}

void pressButton(QWidget* modal, QMessageBox::StandardButton which)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box);
    box->button(which)->click();
}

// Data.ini written before the program starts, as a user's file would be.
QString preparedFolder(const QTemporaryDir& dir, const QStringList& alarms)
{
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    ini.WriteList(Settings::Alarms, alarms);
    ini.Write(Settings::FirstStarted, true);
    return dir.path();
}

struct Rig {
    QTemporaryDir dir;
    TestProgram program;
    TAppIni& ini;
    TMgLang& lang;
    TMainForm* main;
    TAlarmForm* editor;
    TWakeupForm* wakeup;

    explicit Rig(const QStringList& alarms, const QString& langsFolder = QString())
        : program(preparedFolder(dir, alarms), langsFolder, 9)
        , ini(program.Ini())
        , lang(program.Lang())
        , main(&program.Main())
        , editor(&program.Editor())
        , wakeup(&program.Wakeup())
    {}

    QStringList alarms() const { return main->Scheduler().Alarms(); }
    QStringList saved() const { return ini.ReadList(Settings::Alarms); }
    TAlarmListView* view() const { return main->AlarmView(); }
    QPoint checkCentre(int row) const
    {
        return view()->CheckRect(view()->visualRect(view()->model()->index(row, 0))).center();
    }
};

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void commandStatesFollowTheSelection();
    void deletingTheLastItemSelectsTheNewLast();
    void deleteAnsweredNoKeepsTheAlarm();
    void cloneOffersTheCopyLabelAndCancelChangesNothing();
    void addedAlarmIsSortedSelectedAndSaved();
    void spaceTogglesEnabledWithoutSorting();
    void clickOnTheCheckImageToggles();
    void doubleClickOnTheCheckImageNeverEdits();
    void singleLineLayout();
    void nextAlarmsPanelSelectsItsAlarm();
    void backupRoundTripAndLineEnds();
    void failedBackupLoadLeavesTheListUnchanged();
    void closeWithoutATrayMinimizes();
    void languageMenuSwitchesEveryWindowAndIsSaved();
};

void TestMainForm::commandStatesFollowTheSelection()
{
    Rig rig({makeAlarm(480, QStringLiteral("a")), makeAlarm(500, QStringLiteral("b"), false)});
    rig.view()->SetCurrentRow(-1);
    rig.main->UpdateCommandStates();
    for (QAction* action : {Child<QAction>(rig.main, "actEdit"), Child<QAction>(rig.main, "actDelete"),
                            Child<QAction>(rig.main, "actClone"), Child<QAction>(rig.main, "actEnable")})
        QVERIFY(!action->isEnabled());
    QVERIFY(!Child<QAction>(rig.main, "actEnable")->isChecked());
    rig.view()->SetCurrentRow(1);
    for (QAction* action : {Child<QAction>(rig.main, "actEdit"), Child<QAction>(rig.main, "actDelete"),
                            Child<QAction>(rig.main, "actClone"), Child<QAction>(rig.main, "actEnable")})
        QVERIFY(action->isEnabled());
    QVERIFY(!Child<QAction>(rig.main, "actEnable")->isChecked());
    rig.view()->SetCurrentRow(0);
    QVERIFY(Child<QAction>(rig.main, "actEnable")->isChecked());
}

void TestMainForm::deletingTheLastItemSelectsTheNewLast()
{
    Rig rig({makeAlarm(480, QStringLiteral("a")), makeAlarm(500, QStringLiteral("b")),
             makeAlarm(520, QStringLiteral("c"))});
    rig.view()->SetCurrentRow(2);
    const auto watch = whenModalOpens([](QWidget* modal) { pressButton(modal, QMessageBox::Yes); });
    rig.main->actDeleteExecute();
    QCOMPARE(rig.alarms().size(), 2);
    QCOMPARE(rig.view()->CurrentRow(), 1);
    QCOMPARE(parsed(rig.saved()), parsed(rig.alarms()));
    rig.view()->SetCurrentRow(-1);
    rig.main->actDeleteExecute(); // nothing selected: no question, nothing deleted
    QCOMPARE(rig.alarms().size(), 2);
}

void TestMainForm::deleteAnsweredNoKeepsTheAlarm()
{
    Rig rig({makeAlarm(480, QStringLiteral("keep me"))});
    rig.view()->SetCurrentRow(0);
    QString question;
    const auto watch = whenModalOpens([&question](QWidget* modal) {
        question = qobject_cast<QMessageBox*>(modal)->text();
        pressButton(modal, QMessageBox::No);
    });
    rig.main->actDeleteExecute();
    QCOMPARE(rig.alarms().size(), 1);
    QVERIFY(question.startsWith(QStringLiteral("Delete Alarm ")));
    QVERIFY(question.endsWith(QStringLiteral(" - keep me?")));
}

void TestMainForm::cloneOffersTheCopyLabelAndCancelChangesNothing()
{
    Rig rig({makeAlarm(480, QStringLiteral("Gym"))});
    rig.view()->SetCurrentRow(0);
    QString offered;
    const auto watch = whenModalOpens([&rig, &offered](QWidget* modal) {
        offered = rig.editor->SaveToRecord().Label;
        qobject_cast<QDialog*>(modal)->reject();
    });
    rig.main->actCloneExecute();
    QCOMPARE(offered, QStringLiteral("Gym - Copy"));
    QCOMPARE(rig.alarms().size(), 1);
}

void TestMainForm::addedAlarmIsSortedSelectedAndSaved()
{
    Rig rig({makeAlarm(360, QStringLiteral("six")), makeAlarm(600, QStringLiteral("ten"))});
    const auto watch = whenModalOpens([&rig](QWidget* modal) {
        AlarmRecord wanted = rig.editor->SaveToRecord();
        wanted.Time = QTime(8, 0);
        wanted.Label = QStringLiteral("eight");
        rig.editor->LoadFromRecord(wanted);
        qobject_cast<QDialog*>(modal)->accept();
    });
    rig.main->actAddExecute();
    QCOMPARE(rig.alarms().size(), 3);
    QCOMPARE(AlarmField::Label(rig.alarms().at(1)), QStringLiteral("eight"));
    QVERIFY(AlarmField::Enabled(rig.alarms().at(1)));
    QCOMPARE(rig.view()->CurrentRow(), 1);
    QCOMPARE(parsed(rig.saved()), parsed(rig.alarms()));
}

void TestMainForm::spaceTogglesEnabledWithoutSorting()
{
    Rig rig({makeAlarm(600, QStringLiteral("late")), makeAlarm(360, QStringLiteral("early"))});
    rig.view()->SetCurrentRow(0);
    QTest::keyClick(rig.view(), Qt::Key_Space);
    QVERIFY(!AlarmField::Enabled(rig.alarms().at(0)));
    QCOMPARE(AlarmField::Label(rig.alarms().at(0)), QStringLiteral("late")); // not sorted
    QCOMPARE(parsed(rig.saved()), parsed(rig.alarms()));
    QTest::keyClick(rig.view(), Qt::Key_Space);
    QVERIFY(AlarmField::Enabled(rig.alarms().at(0)));
}

void TestMainForm::clickOnTheCheckImageToggles()
{
    Rig rig({makeAlarm(480, QStringLiteral("a")), makeAlarm(500, QStringLiteral("b"))});
    rig.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.main));
    const QPoint check = rig.checkCentre(1);
    QCursor::setPos(rig.view()->viewport()->mapToGlobal(check));
    QTest::mouseMove(rig.view()->viewport(), check);
    QTest::mouseClick(rig.view()->viewport(), Qt::LeftButton, {}, check);
    QCOMPARE(rig.view()->CurrentRow(), 1);
    QVERIFY(!AlarmField::Enabled(rig.alarms().at(1)));
    QVERIFY(AlarmField::Enabled(rig.alarms().at(0)));
}

void TestMainForm::doubleClickOnTheCheckImageNeverEdits()
{
    Rig rig({makeAlarm(480, QStringLiteral("a"))});
    rig.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.main));
    bool editorOpened = false;
    const auto watch = whenModalOpens([&editorOpened](QWidget* modal) {
        editorOpened = true;
        qobject_cast<QDialog*>(modal)->reject();
    });
    const QPoint check = rig.checkCentre(0);
    QCursor::setPos(rig.view()->viewport()->mapToGlobal(check));
    QTest::mouseMove(rig.view()->viewport(), check);
    QTest::mouseDClick(rig.view()->viewport(), Qt::LeftButton, {}, check);
    QTest::qWait(50); // lets a wrongly opened editor show itself before the verdict
    QVERIFY(!editorOpened);
    QVERIFY(AlarmField::Enabled(rig.alarms().at(0))); // two presses: toggled twice
}

void TestMainForm::singleLineLayout()
{
    Rig rig({makeAlarm(480, QStringLiteral("a"))});
    QVERIFY(rig.view()->ItemHeight() >= 55);
    QCOMPARE(rig.view()->CheckLeft(), 20);
    rig.main->findChild<QAction*>(QStringLiteral("miSingleLine"))->trigger();
    QCOMPARE(rig.view()->ItemHeight(), 24);
    QCOMPARE(rig.view()->CheckLeft(), 6);
    QCOMPARE(rig.view()->LabelLeft(), 220);
    QVERIFY(rig.ini.Read(Settings::IsSingleLine));
}

void TestMainForm::nextAlarmsPanelSelectsItsAlarm()
{
    Rig rig({makeAlarm(0, QStringLiteral("midnight")), makeAlarm(1439, QStringLiteral("last minute"))});
    QTreeWidget* panel = Child<QTreeWidget>(rig.main, "tvNextAlarms");
    QCOMPARE(panel->topLevelItemCount(), 3);
    QTreeWidgetItem* first = panel->topLevelItem(0);
    const int row = first->data(0, Qt::UserRole).toInt();
    emit panel->itemClicked(first, 0);
    QCOMPARE(rig.view()->CurrentRow(), row);
    QCOMPARE(rig.main->Tray()->toolTip(), first->text(0));
}

void TestMainForm::backupRoundTripAndLineEnds()
{
    Rig rig({makeAlarm(480, QStringLiteral("a")), makeAlarm(500, QStringLiteral("b"))});
    const QString first = rig.dir.filePath(QStringLiteral("first.alm"));
    rig.main->SaveBackupTo(first);
    QByteArray lfOnly = ReadFileBytes(first);
    lfOnly.replace("\r\n", "\n");
    const QString lfFile = rig.dir.filePath(QStringLiteral("lf.alm"));
    WriteFileBytes(lfFile, lfOnly + "\n"); // an empty last line is an alarm with the defaults
    rig.main->LoadBackupFrom(lfFile);
    QCOMPARE(rig.alarms().size(), 3);
    QCOMPARE(ParseAlarmString(rig.alarms().at(2)).Time, QTime(8, 0));
    rig.main->LoadBackupFrom(first);
    const QString second = rig.dir.filePath(QStringLiteral("second.alm"));
    rig.main->SaveBackupTo(second);
    QCOMPARE(ReadFileBytes(second), ReadFileBytes(first));
}

void TestMainForm::failedBackupLoadLeavesTheListUnchanged()
{
    Rig rig({makeAlarm(480, QStringLiteral("a"))});
    const QStringList before = rig.alarms();
    QString message;
    const auto watch = whenModalOpens([&message](QWidget* modal) {
        message = qobject_cast<QMessageBox*>(modal)->text();
        pressButton(modal, QMessageBox::Ok);
    });
    rig.main->LoadBackupFrom(rig.dir.filePath(QStringLiteral("missing.alm")));
    QCOMPARE(rig.alarms(), before);
    QVERIFY(message.contains(QStringLiteral("missing.alm")));
}

void TestMainForm::closeWithoutATrayMinimizes()
{
    Rig rig({});
    if (rig.main->TrayAvailable())
        QSKIP("a tray host is running; this checks the desktop without one");
    rig.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.main));
    rig.main->close();
    QVERIFY(rig.main->isVisible());
    QVERIFY(rig.main->isMinimized());
}

void TestMainForm::languageMenuSwitchesEveryWindowAndIsSaved()
{
    Rig rig({makeAlarm(480, QStringLiteral("a"))}, QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR));
    QCOMPARE(Child<QAction>(rig.main, "actAdd")->text(), QStringLiteral("Add"));
    QCOMPARE(rig.wakeup->btnSnooze->text(), QStringLiteral("Snooze"));
    QCOMPARE(rig.wakeup->btnOK->text(), QStringLiteral("OK"));
    const auto language = [&rig](int id) {
        for (QAction* item : Child<QMenu>(rig.main, "miLanguage")->actions()) {
            if (item->data().toInt() == id)
                return item;
        }
        return static_cast<QAction*>(nullptr);
    };
    QAction* german = language(7);
    QVERIFY(german);
    german->trigger();
    QCOMPARE(Child<QAction>(rig.main, "actAdd")->text(), QStringLiteral("Hinzufügen"));
    QCOMPARE(Child<QMenu>(rig.main, "miSnooze")->title(), QStringLiteral("Schlummern"));
    QCOMPARE(rig.wakeup->btnOK->text(), rig.lang.GetText(Text::Ok));
    QVERIFY(rig.wakeup->btnSnooze->text() != QStringLiteral("Snooze"));
    QCOMPARE(rig.ini.Read(Settings::Language, 0), 7);
    QVERIFY(german->isChecked());
    // Back to the built-in English: the alarm window's buttons must not keep the German words.
    QAction* english = language(9);
    QVERIFY(english);
    english->trigger();
    QCOMPARE(rig.wakeup->btnSnooze->text(), QStringLiteral("Snooze"));
    QCOMPARE(rig.wakeup->btnOK->text(), QStringLiteral("OK"));
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"

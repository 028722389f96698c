#include "MessageBoxWatch.h"
#include "TestProgram.h"
#include "TestSupport.h"
#include "core/alarms/BackupFile.h"
#include "core/alarms/SkipNext.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "platform/fake/FakePlatform.h"
#include "ui/AlarmForm.h"
#include "ui/AlarmListView.h"
#include "ui/FloatingForm.h"
#include "ui/MainForm.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
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

// Answers the modal windows that open one after another, each with the next answer, while it lives.
class ModalAnswers final
{
public:
    explicit ModalAnswers(QList<std::function<void(QWidget*)>> answers)
        : m_answers(std::move(answers))
    {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == m_last || m_answers.isEmpty())
                return;
            m_last = modal;
            m_answers.takeFirst()(modal);
        });
        m_poll.start();
    }
    /** The answers not given yet. */
    qsizetype Left() const { return m_answers.size(); }

private:
    QList<std::function<void(QWidget*)>> m_answers;
    QPointer<QWidget> m_last;
    QTimer m_poll;
};

// The file the user picks in the open dialog.
std::function<void(QWidget*)> pickFile(const QString& path)
{
    return [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        // Typed into the file name box and confirmed with Enter, as the user would.
        auto* name = Child<QLineEdit>(dialog, "fileNameEdit");
        name->setFocus();
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
        if (dialog->isVisible())
            dialog->reject(); // no answer from here on: the test fails on what did not happen, not by hanging
    };
}

QAbstractButton* buttonCaptioned(QWidget* box, const QString& caption)
{
    for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
        if (button->text() == caption)
            return button;
    }
    return nullptr;
}

// The mouse arrives at point from beside it, so the list sees a move even when an earlier test left
// the cursor exactly there.
void moveMouseTo(QWidget* widget, QPoint point)
{
    for (const QPoint at : {point + QPoint(3, 3), point}) {
        QCursor::setPos(widget->mapToGlobal(at));
        QTest::mouseMove(widget, at);
    }
}

// Press, release, double-click, release: the order in which a real double click arrives.
void userDoubleClick(QWidget* widget, QPoint at)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
    QMouseEvent second(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                       Qt::NoModifier);
    QApplication::sendEvent(widget, &second);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

QStringList savedOnDisk(const QString& folder)
{
    TAppIni ini(folder, folder);
    ini.SetFileName(folder + QStringLiteral("/Data.ini"));
    return ini.ReadList(Settings::Alarms);
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

struct Rig {
    QTemporaryDir dir;
    TestProgram program;
    TAppIni& ini;
    TMgLang& lang;
    TMainForm* main;
    TAlarmForm* editor;
    TWakeupForm* wakeup;

    explicit Rig(const QStringList& alarms, const QString& langsFolder = QString())
        : program(PreparedDataFolder(dir, alarms), langsFolder, 9)
        , ini(program.Ini())
        , lang(program.Lang())
        , main(&program.Main())
        , editor(&program.Editor())
        , wakeup(&program.Wakeup())
    {
        main->AlarmView(); // the window's contents, as made when the user first opens it
    }

    QStringList alarms() const { return main->Scheduler().Alarms(); }
    QStringList saved() const { return ini.ReadList(Settings::Alarms); }
    TAlarmListView* view() const { return main->AlarmView(); }
    QPoint checkCentre(int row) const
    {
        return view()->CheckRect(view()->visualRect(view()->model()->index(row, 0))).center();
    }
    // A point on the row's label, away from the check image.
    QPoint labelPoint(int row) const
    {
        const QRect item = view()->visualRect(view()->model()->index(row, 0));
        return {view()->LabelLeft() + 10, item.center().y()};
    }
    void showMain() const
    {
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
    }
    bool commandsEnabled() const
    {
        bool any = false;
        for (const char* name : {"actEdit", "actDelete", "actClone", "actEnable"})
            any = any || Child<QAction>(main, name)->isEnabled();
        return any;
    }
};

QStringList manyAlarms(int count)
{
    QStringList alarms;
    for (int i = 0; i < count; ++i)
        alarms.append(makeAlarm(360 + i, QStringLiteral("alarm %1").arg(i)));
    return alarms;
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void commandStatesFollowTheSelection();
    void commandsActOnlyOnTheHighlightedAlarm();
    void deletingTheLastItemSelectsTheNewLast();
    void deleteAnsweredNoKeepsTheAlarm();
    void cloneOffersTheCopyLabelAndCancelChangesNothing();
    void addedAlarmIsSortedSelectedAndSaved();
    void spaceTogglesEnabledWithoutSorting();
    void titleClockLeavesOutTheZone();
    void clickOnTheCheckImageToggles();
    void doubleClickOnTheCheckImageTogglesTwiceAndNeverEdits();
    void doubleClickOnTheLabelEdits();
    void singleLineLayout();
    void itemsNeverScrollSideways();
    void toolbarCaptionsStayVisible();
    void chosenLanguageNamesTheDaysAndDates();
    void theEditorLeavesTheStayOnTopOptionAlone();
    void nextAlarmsPanelSelectsItsAlarm();
    void backupRoundTripAndLineEnds();
    void failedBackupLoadLeavesTheListUnchanged();
    void loadFromFileAsksFirstAndSavesAtOnce();
    void programsInABackupAreKeptOnlyWhenTheUserAgrees();
    void helpWithoutABrowserSaysWhereTheHelpIs_data();
    void helpWithoutABrowserSaysWhereTheHelpIs();
    void closeWithoutATrayMinimizes();
    void languageMenuSwitchesEveryWindowAndIsSaved();
    void hintsSayHowLongUntilTheNextAlarm();
    void hintsSayUntilWhenASnoozeWaits();
    void editorOkNotesWhenTheAlarmRings();
    void skipNextFromTheListsMenus();
    void skipNextFromTheTrayActsOnTheNextRepeatingAlarm();
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

void TestMainForm::commandsActOnlyOnTheHighlightedAlarm()
{
    Rig rig({makeAlarm(420, QStringLiteral("Weekend run")), makeAlarm(500, QStringLiteral("b"))});
    rig.showMain();
    QWidget* viewport = rig.view()->viewport();
    const QStringList before = rig.alarms();
    // Any question or editor that opens is a command acting on what the user does not see as chosen.
    int opened = 0;
    QTimer refuse;
    refuse.setInterval(10);
    QObject::connect(&refuse, &QTimer::timeout, &refuse, [&opened] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            ++opened;
            dialog->reject();
        }
    });
    refuse.start();
    const auto nothingActs = [&](const char* how) {
        QVERIFY2(rig.view()->selectionModel()->selectedIndexes().isEmpty(), how);
        QVERIFY2(!rig.view()->currentIndex().isValid(), how);
        QCOMPARE(rig.view()->CurrentRow(), -1);
        QVERIFY2(!rig.commandsEnabled(), how);
        rig.view()->setFocus();
        for (const Qt::Key key : {Qt::Key_Delete, Qt::Key_Space, Qt::Key_Return})
            QTest::keyClick(rig.view(), key);
        for (const char* name : {"actEdit", "actDelete", "actClone", "actEnable"})
            Child<QAction>(rig.main, name)->trigger();
        QCOMPARE(opened, 0);
        QCOMPARE(rig.alarms(), before);
    };

    const QPoint first = rig.labelPoint(0);
    moveMouseTo(viewport, first);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, first);
    QCOMPARE(rig.view()->CurrentRow(), 0);
    QVERIFY(rig.commandsEnabled());

    // A click on the empty space below the last alarm takes the highlight away, and the commands with it.
    const QPoint empty(viewport->width() / 2, viewport->height() - 5);
    QVERIFY(!rig.view()->indexAt(empty).isValid());
    moveMouseTo(viewport, empty);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, empty);
    nothingActs("after a click on empty space");

    // Ctrl+click on the highlighted alarm takes the highlight away too.
    moveMouseTo(viewport, first);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, first);
    QVERIFY(rig.commandsEnabled());
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, first);
    nothingActs("after Ctrl+click on the highlighted alarm");

    // The keyboard brings a highlight back, and the commands act on that alarm.
    QTest::keyClick(rig.view(), Qt::Key_Down);
    QVERIFY(rig.view()->CurrentRow() >= 0);
    QVERIFY(rig.view()->selectionModel()->isSelected(rig.view()->currentIndex()));
    QVERIFY(rig.commandsEnabled());
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

void TestMainForm::titleClockLeavesOutTheZone()
{
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    Rig rig({makeAlarm(480, QStringLiteral("a"))});
    rig.showMain();
    const QString title = rig.main->windowTitle();
    QVERIFY2(title.endsWith(QStringLiteral(" - Larkbell")), qPrintable(title));
    const QString zone = QTimeZone::systemTimeZone().abbreviation(QDateTime::currentDateTime());
    QVERIFY2(!title.contains(zone), qPrintable(title + QStringLiteral(" names ") + zone));
    QVERIFY2(title.contains(QRegularExpression(QStringLiteral("\\d:\\d\\d:\\d\\d [AP]M - Larkbell$"))),
             qPrintable(title));
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

void TestMainForm::doubleClickOnTheCheckImageTogglesTwiceAndNeverEdits()
{
    Rig rig({makeAlarm(480, QStringLiteral("a")), makeAlarm(500, QStringLiteral("b"))});
    rig.showMain();
    int enableChanges = 0;
    QObject::connect(Child<QAction>(rig.main, "actEnable"), &QAction::changed, rig.main, [&] {
        static bool last = true;
        const bool now = AlarmField::Enabled(rig.alarms().at(1));
        if (now != last)
            ++enableChanges;
        last = now;
    });
    bool editorOpened = false;
    const auto watch = whenModalOpens([&editorOpened](QWidget* modal) {
        editorOpened = true;
        qobject_cast<QDialog*>(modal)->reject();
    });
    QWidget* viewport = rig.view()->viewport();
    const QPoint check = rig.checkCentre(1);
    moveMouseTo(viewport, check);
    // Each press toggles: after the first click the alarm is off, after the double click's second press on.
    QTest::mousePress(viewport, Qt::LeftButton, {}, check);
    QVERIFY(!AlarmField::Enabled(rig.alarms().at(1)));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, check);
    QMouseEvent second(QEvent::MouseButtonDblClick, check, viewport->mapToGlobal(check), Qt::LeftButton, Qt::LeftButton,
                       Qt::NoModifier);
    QApplication::sendEvent(viewport, &second);
    QVERIFY(AlarmField::Enabled(rig.alarms().at(1)));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, check);
    QCOMPARE(parsed(rig.saved()), parsed(rig.alarms()));
    QCOMPARE(rig.view()->CurrentRow(), 1);
    // Another double click, as a whole: off and on again, and the other alarm untouched.
    userDoubleClick(viewport, check);
    QVERIFY(AlarmField::Enabled(rig.alarms().at(1)));
    QVERIFY(AlarmField::Enabled(rig.alarms().at(0)));
    QCOMPARE(enableChanges, 4);
    QVERIFY(!editorOpened);
}

void TestMainForm::doubleClickOnTheLabelEdits()
{
    Rig rig({makeAlarm(480, QStringLiteral("a")), makeAlarm(500, QStringLiteral("b"))});
    rig.showMain();
    QString edited;
    const auto watch = whenModalOpens([&rig, &edited](QWidget* modal) {
        edited = rig.editor->SaveToRecord().Label;
        qobject_cast<QDialog*>(modal)->reject();
    });
    const QPoint label = rig.labelPoint(1);
    moveMouseTo(rig.view()->viewport(), label);
    userDoubleClick(rig.view()->viewport(), label);
    QCOMPARE(edited, QStringLiteral("b"));
    QVERIFY(AlarmField::Enabled(rig.alarms().at(1)));
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

void TestMainForm::itemsNeverScrollSideways()
{
    Rig rig(manyAlarms(30));
    rig.main->resize(560, 520);
    rig.showMain();
    QScrollBar* sideways = rig.view()->horizontalScrollBar();
    const auto fitsTheList = [&](const char* when) {
        QTRY_VERIFY2(rig.view()->verticalScrollBar()->isVisible(), when);
        QTRY_COMPARE(rig.view()->visualRect(rig.view()->model()->index(0, 0)).width(), rig.view()->viewport()->width());
        QVERIFY2(!sideways->isVisible(), when);
        QCOMPARE(sideways->maximum(), 0);
        // Neither the wheel nor the keyboard moves the items sideways.
        const QPoint centre = rig.view()->viewport()->rect().center();
        QWheelEvent wheel(centre, rig.view()->viewport()->mapToGlobal(centre), QPoint(), QPoint(-120, 0), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rig.view()->viewport(), &wheel);
        QTest::keyClick(rig.view(), Qt::Key_Right);
        QCOMPARE(sideways->value(), 0);
        QCOMPARE(rig.view()->visualRect(rig.view()->model()->index(0, 0)).left(), 0);
    };
    fitsTheList("overflowing at start");
    QAction* singleLine = Child<QAction>(rig.main, "miSingleLine");
    singleLine->trigger();
    fitsTheList("in single-line mode");
    singleLine->trigger();
    fitsTheList("after single-line mode was switched off");
    rig.main->resize(700, 600);
    fitsTheList("after the window grew");
}

void TestMainForm::toolbarCaptionsStayVisible()
{
    AlarmRecord snoozable = ParseAlarmString(makeAlarm(420, QStringLiteral("snooze me")));
    snoozable.Snooze = true;
    snoozable.ShowMessage = true;
    Rig rig({BuildAlarmString(snoozable)}, QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR));
    rig.showMain();
    auto* toolbar = Child<QToolBar>(rig.main, "tbrMain");
    const auto allCaptionsShow = [&](const char* when) {
        // The narrowest the user can make it.
        rig.main->resize(50, rig.main->height());
        QTRY_VERIFY2(rig.main->width() >= toolbar->sizeHint().width(), when);
        QTRY_COMPARE(toolbar->width(), rig.main->width());
        const auto* more = toolbar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
        QVERIFY2(!more || !more->isVisible(), when);
        for (QAction* action : toolbar->actions()) {
            if (action->isSeparator() || !action->isVisible())
                continue;
            auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
            QVERIFY2(button && button->isVisible(), qPrintable(action->objectName() + u' ' + QLatin1String(when)));
            QVERIFY2(toolbar->rect().contains(button->geometry()),
                     qPrintable(action->objectName() + u' ' + QLatin1String(when)));
            const bool imageOnly = action->objectName() == u"actWWW" || action->objectName() == u"actHelp";
            QCOMPARE(button->toolButtonStyle(), imageOnly ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
        }
    };
    allCaptionsShow("in English");
    // A snoozed alarm adds Cancel Snooze to the toolbar.
    QVERIFY(rig.program.FireNextAlarm());
    QTRY_VERIFY(rig.wakeup->isVisible());
    QTest::mouseClick(rig.wakeup->btnSnooze, Qt::LeftButton);
    QAction* cancelSnooze = Child<QAction>(rig.main, "actCancelSnooze");
    QTRY_VERIFY(cancelSnooze->isVisible());
    allCaptionsShow("with Cancel Snooze");
    for (QAction* item : Child<QMenu>(rig.main, "miLanguage")->actions()) {
        if (item->data().toInt() == 7)
            item->trigger();
    }
    QCOMPARE(Child<QAction>(rig.main, "actAdd")->text(), QStringLiteral("Hinzufügen"));
    allCaptionsShow("in German with Cancel Snooze");
    Child<QAction>(rig.main, "actCancelSnooze")->trigger();
    QTRY_VERIFY(!cancelSnooze->isVisible());
    allCaptionsShow("in German after the snooze was cancelled");
}

void TestMainForm::chosenLanguageNamesTheDaysAndDates()
{
    Rig rig({makeAlarm(480, QStringLiteral("a"))}, QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR));
    const auto restoreLocale = qScopeGuard([before = QLocale()] { QLocale::setDefault(before); });
    const auto choose = [&](int languageId) {
        for (QAction* item : Child<QMenu>(rig.main, "miLanguage")->actions()) {
            if (item->data().toInt() == languageId)
                item->trigger();
        }
    };
    const auto dayCaptions = [&] {
        QStringList captions;
        for (QCheckBox* box : rig.editor->chkDay)
            captions.append(box->text());
        captions.sort();
        return captions;
    };
    const auto expectedCaptions = [](const QString& every, const QLocale& locale) {
        QStringList captions;
        for (int day = 1; day <= 7; ++day)
            captions.append(every + u' ' + locale.dayName(day));
        captions.sort();
        return captions;
    };
    // The panel line: date, time, short day name, " - ", label.
    const auto panelDayName = [&] {
        const QString line = Child<QTreeWidget>(rig.main, "tvNextAlarms")->topLevelItem(0)->text(0);
        return line.section(QStringLiteral(" - "), 0, 0).section(u' ', -1);
    };
    const auto shortDayNames = [](const QLocale& locale) {
        QStringList names;
        for (int day = 1; day <= 7; ++day)
            names.append(locale.dayName(day, QLocale::ShortFormat));
        return names;
    };

    choose(7);
    const QLocale german(QLocale::German);
    QCOMPARE(dayCaptions(), expectedCaptions(QStringLiteral("Jeden"), german));
    QVERIFY2(shortDayNames(german).contains(panelDayName()), qPrintable(panelDayName()));

    choose(9);
    const QLocale english(QLocale::English);
    QCOMPARE(dayCaptions(), expectedCaptions(QStringLiteral("Every"), english));
    QVERIFY2(shortDayNames(english).contains(panelDayName()), qPrintable(panelDayName()));
}

void TestMainForm::theEditorLeavesTheStayOnTopOptionAlone()
{
    Rig rig({makeAlarm(480, QStringLiteral("a"))});
    rig.showMain();
    Child<QAction>(rig.main, "miStayOnTop")->trigger();
    QVERIFY(rig.main->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(rig.ini.Read(Settings::StayOnTop));
    const auto storedOnTop = [&rig] {
        TAppIni disk(rig.dir.path(), rig.dir.path());
        disk.SetFileName(rig.dir.filePath(QStringLiteral("Data.ini")));
        return disk.Read(Settings::StayOnTop);
    };
    QVERIFY(storedOnTop());
    bool editorShown = false;
    bool storedWhileOpen = false;
    bool mainOnTopWhileOpen = true;
    const auto watch = whenModalOpens([&](QWidget* modal) {
        editorShown = modal == rig.editor;
        // What a crash now would leave behind: the option as the user set it.
        storedWhileOpen = storedOnTop();
        mainOnTopWhileOpen = rig.main->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        qobject_cast<QDialog*>(modal)->reject();
    });
    rig.view()->setFocus();
    QTest::keyClick(rig.view(), Qt::Key_Return);
    QVERIFY(editorShown);
    QVERIFY(storedWhileOpen);
    QVERIFY(!mainOnTopWhileOpen); // it would cover its own editor
    QVERIFY(rig.main->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(rig.main->isVisible());
    QVERIFY(storedOnTop());
    QVERIFY(Child<QAction>(rig.main, "miStayOnTop")->isChecked());
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
    QVERIFY2(rig.main->Tray()->toolTip().endsWith(QStringLiteral(" - ") + first->text(0)),
             qPrintable(rig.main->Tray()->toolTip()));
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
    const auto replace = [](QWidget* modal) { buttonCaptioned(modal, QStringLiteral("Replace"))->click(); };
    const ModalAnswers answers({replace, replace});
    rig.main->LoadBackupFrom(lfFile);
    QCOMPARE(rig.alarms().size(), 3);
    QCOMPARE(ParseAlarmString(rig.alarms().at(2)).Time, QTime(8, 0));
    rig.main->LoadBackupFrom(first);
    QCOMPARE(answers.Left(), 0);
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

void TestMainForm::loadFromFileAsksFirstAndSavesAtOnce()
{
    Rig rig({makeAlarm(420, QStringLiteral("mine"))});
    const QStringList backup = {makeAlarm(600, QStringLiteral("late")), makeAlarm(360, QStringLiteral("early"))};
    const QString file = rig.dir.filePath(QStringLiteral("other.alm"));
    QVERIFY(WriteBackupFile(file, backup).isEmpty());
    const QStringList mine = rig.alarms();
    rig.showMain();
    QAction* load = Child<QAction>(rig.main, "miLoad");

    // Enter takes the default button: nothing is replaced.
    QString question;
    {
        const ModalAnswers answers({pickFile(file), [&question](QWidget* modal) {
                                        question = qobject_cast<QMessageBox*>(modal)->text();
                                        QTest::keyClick(modal, Qt::Key_Return);
                                    }});
        load->trigger();
        QCOMPARE(answers.Left(), 0);
    }
    QVERIFY(question.contains(QDir::toNativeSeparators(file)));
    QCOMPARE(rig.alarms(), mine);
    QCOMPARE(parsed(savedOnDisk(rig.dir.path())), parsed(mine));

    // Replace: the list is the file's, in the file's order, and already in Data.ini.
    {
        const ModalAnswers answers(
            {pickFile(file), [](QWidget* modal) { buttonCaptioned(modal, QStringLiteral("Replace"))->click(); }});
        load->trigger();
        QCOMPARE(answers.Left(), 0);
    }
    QCOMPARE(rig.alarms(), backup);
    QCOMPARE(parsed(savedOnDisk(rig.dir.path())), parsed(backup));
    QCOMPARE(rig.view()->CurrentRow(), 0);
    QVERIFY(rig.main->Tray()->toolTip().contains(QStringLiteral("early")) ||
            rig.main->Tray()->toolTip().contains(QStringLiteral("late")));
}

void TestMainForm::programsInABackupAreKeptOnlyWhenTheUserAgrees()
{
    Rig rig({});
    const QString script = rig.dir.filePath(QStringLiteral("wake.sh"));
    const QString program = rig.dir.filePath(QStringLiteral("run-me"));
    for (const QString& path : {script, program}) {
        WriteFileBytes(path, "#!/bin/sh\nexit 0\n");
        QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const auto withSound = [](int minutes, const QString& label, const QString& sound) {
        AlarmRecord alarm = ParseAlarmString(makeAlarm(minutes, label));
        alarm.Sound = sound;
        return BuildAlarmString(alarm);
    };
    const QStringList backup = {withSound(420, QStringLiteral("plain"), QStringLiteral("Bells1")),
                                withSound(430, QStringLiteral("Weekend run"), script),
                                withSound(440, QStringLiteral("job"), program),
                                withSound(450, QStringLiteral("own file"), rig.dir.filePath(QStringLiteral("a.mp3")))};
    const QString file = rig.dir.filePath(QStringLiteral("received.alm"));
    QVERIFY(WriteBackupFile(file, backup).isEmpty());
    rig.showMain();
    QAction* load = Child<QAction>(rig.main, "miLoad");

    const auto loadAnswering = [&](const QString& caption) {
        QString question;
        const ModalAnswers answers({pickFile(file), [&question, caption](QWidget* modal) {
                                        question = qobject_cast<QMessageBox*>(modal)->text();
                                        if (QAbstractButton* button = buttonCaptioned(modal, caption))
                                            button->click();
                                        else
                                            qobject_cast<QDialog*>(modal)->reject();
                                    }});
        load->trigger();
        return question;
    };

    // The question names what would run; Esc keeps the list as it was.
    const QString question = loadAnswering(QString());
    QVERIFY(question.contains(script));
    QVERIFY(question.contains(program));
    QVERIFY(question.contains(QStringLiteral("Weekend run")));
    QVERIFY(!question.contains(QStringLiteral("plain")));
    QVERIFY(!question.contains(QStringLiteral("a.mp3")));
    QVERIFY(question.contains(BackupSafeSound()));
    QVERIFY(rig.alarms().isEmpty());

    // Not agreed: those alarms ring with the stock sound, everything else as in the file.
    loadAnswering(QStringLiteral("Replace, ring with %1").arg(BackupSafeSound()));
    QCOMPARE(rig.alarms().size(), backup.size());
    const QList<AlarmRecord> safe = parsed(rig.alarms());
    QCOMPARE(safe.at(0).Sound, QStringLiteral("Bells1"));
    QCOMPARE(safe.at(1).Sound, BackupSafeSound());
    QCOMPARE(safe.at(1).Label, QStringLiteral("Weekend run"));
    QCOMPARE(safe.at(1).Time, QTime(7, 10));
    QCOMPARE(safe.at(2).Sound, BackupSafeSound());
    QCOMPARE(safe.at(3).Sound, rig.dir.filePath(QStringLiteral("a.mp3")));
    QCOMPARE(parsed(savedOnDisk(rig.dir.path())), parsed(rig.alarms()));

    // Agreed: the programs stay.
    loadAnswering(QStringLiteral("Replace, keep the programs"));
    QCOMPARE(rig.alarms(), backup);
    QCOMPARE(parsed(savedOnDisk(rig.dir.path())), parsed(backup));
}

void TestMainForm::helpWithoutABrowserSaysWhereTheHelpIs_data()
{
    QTest::addColumn<bool>("opener"); // whether the desktop has an opener program that finds no browser
    QTest::newRow("the opener finds no browser") << true;
    QTest::newRow("no opener at all") << false;
}

void TestMainForm::helpWithoutABrowserSaysWhereTheHelpIs()
{
    QFETCH(bool, opener);
    Rig rig({makeAlarm(480, QStringLiteral("a"))});
    QVERIFY(QDir(rig.dir.path()).mkpath(QStringLiteral("help")));
    const QString page = rig.dir.filePath(QStringLiteral("help/index.html"));
    WriteFileBytes(page, "<html><body>Help</body></html>\n");
    QTemporaryDir bin;
    if (opener) {
        // What xdg-open does on a desktop without a browser.
        const QString path = bin.filePath(QStringLiteral("xdg-open"));
        WriteFileBytes(path, "#!/bin/sh\necho 'xdg-open: no method available for opening '\"$1\"'' >&2\nexit 3\n");
        QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const ScopedEnv path("PATH", QFile::encodeName(bin.path()));
    MessageBoxWatch boxes;
    rig.showMain();
    rig.main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.main));
    QTest::keyClick(rig.view(), Qt::Key_F1);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, 10000);
    QVERIFY2(boxes.Texts().first().contains(QDir::toNativeSeparators(page)), qPrintable(boxes.Texts().first()));
    QCOMPARE(boxes.ModalCount(), 0);
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

void TestMainForm::hintsSayHowLongUntilTheNextAlarm()
{
    Rig rig({makeAlarm(7 * 60, QStringLiteral("Wake"))});
    QLabel* heading = Child<QLabel>(rig.main, "lblNextAlarms");
    QToolButton* floatingAlarm = rig.main->FloatingForm()->btnAlarm;
    rig.program.SetNow(QDateTime(QDate(2026, 6, 10), QTime(23, 48, 0)));
    rig.main->Scheduler().Rebuild();
    const QString line = Child<QTreeWidget>(rig.main, "tvNextAlarms")->topLevelItem(0)->text(0);

    // Hidden in the tray the hint counts in ten minutes, rounded up, and refreshes when that changes.
    QVERIFY(!rig.main->isVisible() && !rig.main->FloatingForm()->isVisible());
    QCOMPARE(rig.main->Tray()->toolTip(), QStringLiteral("Rings in 7 h 20 min - ") + line);
    QCOMPARE(rig.main->TimeLeftRefreshMs(), 2 * 60 * 1000); // at 7 h 10 min left
    QCOMPARE(floatingAlarm->toolTip(), rig.main->Tray()->toolTip());

    // A shown window counts in minutes, with the caption's tick.
    rig.showMain();
    QCOMPARE(rig.main->Tray()->toolTip(), QStringLiteral("Rings in 7 h 12 min - ") + line);
    QCOMPARE(rig.main->TimeLeftRefreshMs(), -1);
    QVERIFY(heading->text().startsWith(QStringLiteral("Next 3 Alarms:")));
    QVERIFY2(heading->text().endsWith(QStringLiteral("Rings in 7 h 12 min")), qPrintable(heading->text()));
    rig.program.SetNow(QDateTime(QDate(2026, 6, 11), QTime(6, 59, 30)));
    QTRY_COMPARE_WITH_TIMEOUT(rig.main->Tray()->toolTip(), QStringLiteral("Rings in 1 min - ") + line, 3000);

    // Hidden in the last ten minutes no timer counts down, so the hint keeps only the alarm's own line.
    rig.main->hide();
    rig.program.SetNow(QDateTime(QDate(2026, 6, 11), QTime(6, 55, 0)));
    rig.main->Scheduler().Rebuild();
    QCOMPARE(rig.main->Tray()->toolTip(), line);
    QCOMPARE(rig.main->TimeLeftRefreshMs(), -1);

    // Without an enabled alarm nothing counts down, and the heading is as before.
    rig.view()->SetCurrentRow(0);
    rig.main->actEnableExecute();
    QCOMPARE(rig.main->Tray()->toolTip(), QStringLiteral("Larkbell"));
    QCOMPARE(heading->text(), QStringLiteral("Next 3 Alarms:"));
    QVERIFY(!floatingAlarm->isVisibleTo(rig.main->FloatingForm()));
}

void TestMainForm::hintsSayUntilWhenASnoozeWaits()
{
    Rig rig({makeAlarm(7 * 60, QStringLiteral("Wake"))});
    QLabel* heading = Child<QLabel>(rig.main, "lblNextAlarms");
    TFloatingForm* floating = rig.main->FloatingForm();
    rig.program.SetNow(QDateTime(QDate(2026, 6, 10), QTime(23, 48, 0)));
    rig.main->Scheduler().Rebuild();
    QVERIFY(rig.program.FireNextAlarm());
    QVERIFY(rig.wakeup->AlarmActive());
    QVERIFY(rig.main->Tray()->toolTip().startsWith(QStringLiteral("Rings in 1 d - ")));

    const QString snoozed = QStringLiteral("Snoozed until ") + FormatShortTime(QTime(7, 15), QLocale());
    rig.wakeup->SnoozeFor(15);
    QCOMPARE(rig.main->SnoozedUntil(), QDateTime(QDate(2026, 6, 11), QTime(7, 15)));
    QVERIFY2(rig.main->Tray()->toolTip().startsWith(snoozed + QStringLiteral(" - ")),
             qPrintable(rig.main->Tray()->toolTip()));
    QVERIFY2(heading->text().endsWith(snoozed), qPrintable(heading->text()));
    QCOMPARE(floating->btnAlarm->toolTip(), rig.main->Tray()->toolTip());

    // Cancel Snooze takes it away.
    Child<QAction>(rig.main, "actCancelSnooze")->trigger();
    QVERIFY(!rig.main->SnoozedUntil().isValid());
    QVERIFY(rig.main->Tray()->toolTip().startsWith(QStringLiteral("Rings in ")));
    QVERIFY(!heading->text().contains(QStringLiteral("Snoozed")));

    // So does the ring it waited for.
    rig.wakeup->ShowAlarm(rig.alarms().first());
    rig.wakeup->SetSnoozeTime(1);
    rig.wakeup->btnSnooze->click();
    QVERIFY(rig.main->Tray()->toolTip().startsWith(QStringLiteral("Snoozed until ")));
    QTRY_VERIFY_WITH_TIMEOUT(rig.wakeup->AlarmActive(), 5000);
    QVERIFY(!rig.main->SnoozedUntil().isValid());
    QVERIFY(rig.main->Tray()->toolTip().startsWith(QStringLiteral("Rings in ")));
    rig.wakeup->DismissAlarm();

    // With no other alarm, the snooze alone is the hint, and the floating clock's alarm button shows it.
    rig.view()->SetCurrentRow(0);
    rig.main->actEnableExecute();
    rig.wakeup->ShowAlarm(rig.alarms().first());
    rig.wakeup->SnoozeFor(5);
    QCOMPARE(rig.main->Tray()->toolTip(), QStringLiteral("Snoozed until ") + FormatShortTime(QTime(7, 5), QLocale()));
    QVERIFY(floating->btnAlarm->isVisibleTo(floating));
    rig.wakeup->ResetSnooze();
    QCOMPARE(rig.main->Tray()->toolTip(), QStringLiteral("Larkbell"));
    QVERIFY(!floating->btnAlarm->isVisibleTo(floating));
}

void TestMainForm::editorOkNotesWhenTheAlarmRings()
{
    Rig rig({makeAlarm(7 * 60, QStringLiteral("Wake"))});
    rig.program.SetNow(QDateTime(QDate(2026, 6, 10), QTime(23, 48, 0)));
    rig.main->Scheduler().Rebuild();
    rig.showMain();
    QLabel* notice = Child<QLabel>(rig.main, "lblRingsInNotice");
    QVERIFY(!notice->isVisible());
    rig.view()->SetCurrentRow(0);

    // Cancel says nothing.
    {
        const auto watch = whenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        rig.main->actEditExecute();
    }
    QVERIFY(!notice->isVisible());

    // OK: a line in the window, no box, gone after a few seconds.
    {
        const auto watch = whenModalOpens([&rig](QWidget* modal) {
            AlarmRecord wanted = rig.editor->SaveToRecord();
            wanted.Time = QTime(6, 30);
            rig.editor->LoadFromRecord(wanted);
            qobject_cast<QDialog*>(modal)->accept();
        });
        rig.main->actEditExecute();
    }
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->text(), QStringLiteral("Rings in 6 h 42 min"));
    QVERIFY(!QApplication::activeModalWidget());
    QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), TMainForm::kRingsInNoticeMs + 3000);

    // Added from the tray with the window hidden: a notification says it instead.
    rig.main->hide();
    const size_t before = rig.program.Platform().ShownNotifications().size();
    {
        const auto watch = whenModalOpens([&rig](QWidget* modal) {
            AlarmRecord wanted = rig.editor->SaveToRecord();
            wanted.Time = QTime(0, 18);
            wanted.Days = {false, false, false, false, false, false, false};
            rig.editor->LoadFromRecord(wanted);
            qobject_cast<QDialog*>(modal)->accept();
        });
        rig.main->actAddExecute();
    }
    const auto& shown = rig.program.Platform().ShownNotifications();
    QCOMPARE(shown.size(), before + 1);
    QCOMPARE(QString::fromStdString(shown.back().text), QStringLiteral("Rings in 30 min"));
    QVERIFY(!notice->isVisible());
}

namespace {

QString oneTimeAlarm(int minutes, const QString& label)
{
    AlarmRecord a;
    a.Time = MinutesToTime(minutes);
    a.Label = label;
    return BuildAlarmString(a);
}

int rowLabelled(const QStringList& alarms, const QString& label)
{
    for (int i = 0; i < alarms.size(); ++i) {
        if (AlarmField::Label(alarms.at(i)) == label)
            return i;
    }
    return -1;
}

} // namespace

void TestMainForm::skipNextFromTheListsMenus()
{
    Rig rig({oneTimeAlarm(6 * 60 + 30, QStringLiteral("Once")), makeAlarm(7 * 60, QStringLiteral("Daily"))});
    // Tuesday 8 December 2026 at 06:00: the daily alarm's next time is today at 07:00.
    rig.program.SetNow(QDateTime(QDate(2026, 12, 8), QTime(6, 0)));
    rig.main->Scheduler().Rebuild();
    rig.showMain();
    QAction* skip = Child<QAction>(rig.main, "actSkipNext");
    QMenu* context = Child<QMenu>(rig.main, "pmMain");
    QMenu* alarmMenu = Child<QMenu>(rig.main, "miAlarms");
    QVERIFY(context->actions().contains(skip));
    QVERIFY(alarmMenu->actions().contains(skip));
    const int daily = rowLabelled(rig.alarms(), QStringLiteral("Daily"));
    const int once = rowLabelled(rig.alarms(), QStringLiteral("Once"));

    // A one-time alarm has nothing to skip.
    rig.view()->SetCurrentRow(once);
    emit alarmMenu->aboutToShow();
    QVERIFY(!skip->isEnabled());
    QCOMPARE(skip->text(), QStringLiteral("Skip next"));
    skip->trigger();
    QVERIFY(!AlarmField::SkipDate(rig.alarms().at(once)).isValid());

    rig.view()->SetCurrentRow(daily);
    emit context->aboutToShow();
    QVERIFY(skip->isEnabled());
    const QString occurrence = SkipOccurrenceText({QDate(2026, 12, 8), QTime(7, 0)}, QLocale());
    QCOMPARE(skip->text(), QStringLiteral("Skip next (") + occurrence + u')');
    if (QLocale().name() == QStringLiteral("en_US"))
        QCOMPARE(occurrence, QStringLiteral("Tue, Dec 8, 7:00 AM"));
    const QRect item = rig.view()->visualRect(rig.view()->model()->index(daily, 0));
    const QImage plain = rig.view()->viewport()->grab(item).toImage();

    skip->trigger();
    QCOMPARE(AlarmField::SkipDate(rig.alarms().at(daily)), QDate(2026, 12, 8));
    QCOMPARE(AlarmField::SkipDate(rig.saved().at(daily)), QDate(2026, 12, 8));
    // Today's 07:00 is left out of the schedule: after the one-time alarm comes tomorrow's.
    QCOMPARE(rig.main->Scheduler().Schedule().panel.at(1).listIndex, daily);
    QVERIFY(rig.main->Scheduler().Schedule().panel.at(1).text.startsWith(
        QLocale().toString(QDate(2026, 12, 9), QLocale::ShortFormat)));
    emit alarmMenu->aboutToShow();
    QCOMPARE(skip->text(), QStringLiteral("Don't skip (") + occurrence + u')');
    // The list, its readable text and the panel say what is skipped.
    const QString note = QStringLiteral("skips ") + ShortDayText(QDate(2026, 12, 8), QLocale());
    const QString readable = rig.view()->model()->index(daily, 0).data(Qt::AccessibleTextRole).toString();
    QVERIFY2(readable.contains(note), qPrintable(readable));
    QTRY_VERIFY(rig.view()->viewport()->grab(item).toImage() != plain);
    QTreeWidget* panel = Child<QTreeWidget>(rig.main, "tvNextAlarms");
    QStringList lines;
    for (int i = 0; i < panel->topLevelItemCount(); ++i)
        lines.append(panel->topLevelItem(i)->text(0));
    QCOMPARE(lines.filter(note).size(), 1);
    QVERIFY2(lines.first().contains(QStringLiteral("Once")) && lines.at(1).endsWith(u'(' + note + u')'),
             qPrintable(lines.join(u'\n')));

    // The same command takes it back.
    skip->trigger();
    QVERIFY(!AlarmField::SkipDate(rig.alarms().at(daily)).isValid());
    QVERIFY(!AlarmField::SkipDate(rig.saved().at(daily)).isValid());
    QVERIFY(rig.main->Scheduler().Schedule().panel.at(1).text.startsWith(
        QLocale().toString(QDate(2026, 12, 8), QLocale::ShortFormat)));
    QCOMPARE(skip->text(), QStringLiteral("Skip next (") + occurrence + u')');
    QVERIFY(!rig.view()->model()->index(daily, 0).data(Qt::AccessibleTextRole).toString().contains(note));
    QTRY_VERIFY(rig.view()->viewport()->grab(item).toImage() == plain);

    // Nothing selected: nothing to skip.
    rig.view()->SetCurrentRow(-1);
    rig.main->UpdateCommandStates();
    QVERIFY(!skip->isEnabled());
}

void TestMainForm::skipNextFromTheTrayActsOnTheNextRepeatingAlarm()
{
    // In the list's order, sorted by time.
    Rig rig({oneTimeAlarm(6 * 60 + 30, QStringLiteral("Once")), makeAlarm(7 * 60, QStringLiteral("Early")),
             makeAlarm(9 * 60, QStringLiteral("Late"))});
    rig.program.SetNow(QDateTime(QDate(2026, 12, 8), QTime(7, 30)));
    rig.main->Scheduler().Rebuild();
    QAction* tray = Child<QAction>(rig.main, "actSkipNextTray");
    QMenu* trayMenu = Child<QMenu>(rig.main, "pmTray");
    QVERIFY(trayMenu->actions().contains(tray));
    // Whatever is selected in the hidden window, the tray names the repeating alarm due first: 09:00 today.
    rig.view()->SetCurrentRow(rowLabelled(rig.alarms(), QStringLiteral("Early")));
    emit trayMenu->aboutToShow();
    const QString nine = SkipOccurrenceText({QDate(2026, 12, 8), QTime(9, 0)}, QLocale());
    QCOMPARE(tray->text(), QStringLiteral("Skip next (") + nine + u')');
    tray->trigger();
    const int late = rowLabelled(rig.alarms(), QStringLiteral("Late"));
    QCOMPARE(AlarmField::SkipDate(rig.alarms().at(late)), QDate(2026, 12, 8));
    QVERIFY(!AlarmField::SkipDate(rig.alarms().at(rowLabelled(rig.alarms(), QStringLiteral("Early")))).isValid());
    QCOMPARE(rig.main->Scheduler().Schedule().alarmAt, (LocalDateTime{QDate(2026, 12, 9), QTime(6, 30)}));
    QCOMPARE(rig.main->Scheduler().Schedule().panel.at(2).listIndex, rowLabelled(rig.alarms(), QStringLiteral("Late")));
    // Still the one it names, so the same item takes the skip back.
    emit trayMenu->aboutToShow();
    QCOMPARE(tray->text(), QStringLiteral("Don't skip (") + nine + u')');
    tray->trigger();
    QVERIFY(!AlarmField::SkipDate(rig.alarms().at(late)).isValid());

    // Repeating alarms switched off, only a one-time one on: nothing for the tray to skip.
    for (const char* label : {"Late", "Early"}) {
        rig.view()->SetCurrentRow(rowLabelled(rig.alarms(), QLatin1String(label)));
        rig.main->actEnableExecute();
    }
    emit trayMenu->aboutToShow();
    QVERIFY(!tray->isEnabled());
    QCOMPARE(tray->text(), QStringLiteral("Skip next"));
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"

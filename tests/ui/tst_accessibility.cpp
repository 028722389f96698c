#include "TestProgram.h"
#include "TestSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLanguages.h"
#include "ui/AlarmForm.h"
#include "ui/AlarmListView.h"
#include "ui/FloatingForm.h"
#include "ui/MainForm.h"
#include "ui/MgForm.h"
#include "ui/WakeupForm.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <cmath>
#include <functional>
#include <memory>

namespace {

QString makeAlarm(QTime time, const QString& label, const QString& sound, bool enabled,
                  const std::array<bool, 7>& days = {false, true, true, true, true, true, false})
{
    AlarmRecord a;
    a.Time = time;
    a.Days = days;
    a.Label = label;
    a.Sound = sound;
    a.Enabled = enabled;
    return BuildAlarmString(a);
}

// A language file as a translator writes one: the byte-order mark on its first line, then numbered strings.
QString germanLanguageFolder(const QTemporaryDir& dir)
{
    const QString folder = dir.filePath(QStringLiteral("Langs"));
    QDir().mkpath(folder);
    WriteFileBytes(folder + QStringLiteral("/de.txt"), QByteArray("\xEF\xBB\xBF; Deutsch\r\n"
                                                                  "1000=Deutsch\r\n"
                                                                  "1001=7\r\n"
                                                                  "0002=Bearbeiten\r\n"
                                                                  "0014=(Keiner)\r\n"
                                                                  "0020=Klang\r\n"
                                                                  "0027=Wecker\r\n"
                                                                  "0030=Wochentags\r\n"
                                                                  "0133=Klang abspielen\r\n"));
    return folder;
}

struct Rig {
    QTemporaryDir dir;
    TestProgram program;
    TMainForm* main;
    TAlarmForm* editor;
    TWakeupForm* wakeup;

    explicit Rig(const QStringList& alarms)
        : program(PreparedDataFolder(dir, alarms), germanLanguageFolder(dir), 9)
        , main(&program.Main())
        , editor(&program.Editor())
        , wakeup(&program.Wakeup())
    {
        main->AlarmView(); // the window's contents, as made when the user first opens it
    }

    TAlarmListView* view() const { return main->AlarmView(); }
    QStringList alarms() const { return main->Scheduler().Alarms(); }
};

// Runs answer on the next modal window as soon as it has the keyboard, for as long as the returned watch lives.
[[nodiscard]] std::unique_ptr<QTimer> whenModalOpens(std::function<void(QWidget*)> answer)
{
    auto poll = std::make_unique<QTimer>();
    poll->setInterval(10);
    QTimer* timer = poll.get();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && QApplication::focusWidget() &&
            QApplication::focusWidget()->window() == modal) {
            timer->stop();
            answer(modal);
        }
    });
    poll->start();
    return poll;
}

void showActive(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

// ---- colours ----

QPalette darkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    dark.setColor(QPalette::Button, QColor(55, 55, 58));
    dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    dark.setColor(QPalette::ToolTipBase, QColor(45, 45, 48));
    dark.setColor(QPalette::ToolTipText, QColor(235, 235, 235));
    return dark;
}

double relativeLuminance(const QColor& colour)
{
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) + 0.0722 * channel(colour.blue());
}

// The contrast ratio of two colours as accessibility guidelines measure it: 1 (none) to 21 (black on white).
double contrast(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The strongest contrast any pixel of area has against background: that of the text drawn there.
double textContrast(const QImage& image, const QRect& area, const QColor& background)
{
    double best = 1;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            best = std::max(best, contrast(image.pixelColor(x, y), background));
    }
    return best;
}

// The application's palette for as long as the object lives.
class PaletteScope final
{
public:
    explicit PaletteScope(const QPalette& palette)
        : m_old(QApplication::palette())
    {
        QApplication::setPalette(palette);
        // The windows take a new application palette from a posted event, as they do in a running program.
        QCoreApplication::processEvents();
    }
    ~PaletteScope()
    {
        QApplication::setPalette(m_old);
        QCoreApplication::processEvents();
    }
    PaletteScope(const PaletteScope&) = delete;
    PaletteScope& operator=(const PaletteScope&) = delete;

private:
    QPalette m_old;
};

// What a row of the list looks like: its ground beside the texts and how well its texts stand out.
struct RowLook {
    QColor ground;
    double textContrast = 1;
};

RowLook rowLook(TAlarmListView* view, int row)
{
    const QImage image = view->viewport()->grab().toImage();
    const QRect item = view->visualRect(view->model()->index(row, 0));
    // Right of the short label and above the sound: only the item's gradient is painted there.
    const QColor ground = image.pixelColor(item.right() - 8, item.top() + item.height() / 3);
    return {ground, textContrast(image, item.adjusted(1, 1, -1, -1), ground)};
}

// ---- the tab walk ----

// The control a focused widget belongs to (an editable combo box's line edit belongs to the combo box).
QWidget* controlOf(QWidget* focused, const QList<QWidget*>& controls)
{
    for (QWidget* w = focused; w; w = w->parentWidget()) {
        if (controls.contains(w))
            return w;
    }
    return focused;
}

// Tab from the focused control until the focus comes back to it; every control reached, in order.
QList<QWidget*> tabWalk(QWidget* window, const QList<QWidget*>& controls, int limit = 60)
{
    QList<QWidget*> visited;
    QWidget* first = controlOf(QApplication::focusWidget(), controls);
    if (!first)
        return visited;
    visited.append(first);
    for (int step = 0; step < limit; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = controlOf(QApplication::focusWidget(), controls);
        if (now == first || !now || now->window() != window)
            break;
        visited.append(now);
    }
    return visited;
}

QStringList names(const QList<QWidget*>& widgets)
{
    QStringList result;
    for (const QWidget* w : widgets)
        result.append(w->objectName());
    return result;
}

QAccessibleInterface* accessible(QObject* object)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    if (!iface)
        qFatal("no accessible interface for %s", qPrintable(object->objectName()));
    return iface;
}

bool menuHolds(const QMenu* menu, const QAction* action)
{
    for (QAction* item : menu->actions()) {
        if (item == action || (item->menu() && menuHolds(item->menu(), action)))
            return true;
    }
    return false;
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void listRowsFollowADarkPalette();
    void notificationWindowFollowsADarkPalette();
    void floatingClockFollowsADarkPalette();

    void listRowsReadAsSentencesInTheCurrentLanguage();
    void everyControlHasANameAndADescription();

    void mainWindowTabOrderAndKeyboardCommands();
    void mainWindowMenusOpenWithAltAndHoldEveryToolbarCommand();
    void editorTabOrderFollowsTheLayoutAndKeysAnswer();
    void notificationWindowTabOrderAndKeys();

private:
    QLocale m_oldLocale;
};

void TestAccessibility::initTestCase()
{
    m_oldLocale = QLocale();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestAccessibility::cleanupTestCase()
{
    QLocale::setDefault(m_oldLocale);
}

void TestAccessibility::listRowsFollowADarkPalette()
{
    Rig rig({makeAlarm(QTime(7, 0), QStringLiteral("Up"), QStringLiteral("Birds"), true),
             makeAlarm(QTime(8, 0), QStringLiteral("Go"), QString(), false)});
    rig.main->resize(560, 520);
    rig.main->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.main));
    rig.view()->SetCurrentRow(1);

    // The light look stays as it was: light items with dark text.
    const RowLook light = rowLook(rig.view(), 0);
    QVERIFY2(light.ground.lightness() > 200, qPrintable(light.ground.name()));
    QVERIFY2(light.textContrast >= 4.5, qPrintable(QString::number(light.textContrast)));

    // The desktop switches to a dark scheme while the program runs.
    const PaletteScope dark(darkPalette());
    for (int row : {0, 1}) {
        const RowLook look = rowLook(rig.view(), row);
        QVERIFY2(look.ground.lightness() < 110,
                 qPrintable(QStringLiteral("row %1: %2").arg(row).arg(look.ground.name())));
        QVERIFY2(look.ground != QColor(Qt::white), qPrintable(look.ground.name()));
        QVERIFY2(look.textContrast >= 4.5, qPrintable(QStringLiteral("row %1: %2").arg(row).arg(look.textContrast)));
    }
    // The chosen row still stands out from the others.
    QVERIFY(rowLook(rig.view(), 1).ground != rowLook(rig.view(), 0).ground);
    // So does the ground below the items.
    const QImage image = rig.view()->viewport()->grab().toImage();
    QVERIFY(image.pixelColor(image.width() / 2, image.height() - 3).lightness() < 110);
}

void TestAccessibility::notificationWindowFollowsADarkPalette()
{
    Rig rig({});
    const PaletteScope dark(darkPalette());
    AlarmRecord alarm;
    alarm.Label = QStringLiteral("Wake up");
    alarm.ShowMessage = true;
    alarm.Snooze = true;
    rig.wakeup->ShowAlarm(BuildAlarmString(alarm));
    QVERIFY(QTest::qWaitForWindowExposed(rig.wakeup));
    const QImage image = rig.wakeup->grab().toImage();
    const QColor ground = image.pixelColor(5, 5);
    QVERIFY2(ground.lightness() < 110, qPrintable(ground.name()));
    QVERIFY(textContrast(image, rig.wakeup->lblInfo->geometry(), ground) >= 4.5);
    QVERIFY(textContrast(image, rig.wakeup->lblTime->geometry(), ground) >= 4.5);
    rig.wakeup->DismissAlarm();
}

void TestAccessibility::floatingClockFollowsADarkPalette()
{
    Rig rig({});
    TFloatingForm* clock = rig.main->FloatingForm();
    clock->resize(196, 77);
    clock->SetTimeText(QStringLiteral("12:34:56"));
    clock->show();
    QVERIFY(QTest::qWaitForWindowExposed(clock));
    const QColor lightGround = clock->grab().toImage().pixelColor(3, 3);
    QVERIFY2(lightGround.lightness() > 200, qPrintable(lightGround.name()));

    const PaletteScope dark(darkPalette());
    for (bool ringing : {false, true}) {
        clock->SetHighlight(ringing);
        QCOMPARE(clock->HighlightPhase(), ringing);
        const QImage image = clock->grab().toImage();
        const QColor ground = image.pixelColor(3, 3);
        QVERIFY2(ground.lightness() < 130, qPrintable(ground.name()));
        const double text = textContrast(image, clock->lblTime->geometry(), ground);
        QVERIFY2(text >= 4.5, qPrintable(QStringLiteral("ringing %1: %2").arg(ringing).arg(text)));
    }
    clock->SetHighlight(false);
}

void TestAccessibility::listRowsReadAsSentencesInTheCurrentLanguage()
{
    Rig rig({makeAlarm(QTime(7, 0), QStringLiteral("Good morning!"), QStringLiteral("Birds"), true),
             makeAlarm(QTime(18, 30), QStringLiteral("Tea\r\ntime"), QString(), false,
                       {true, true, true, true, true, true, true})});
    // The time as the locale of the moment writes it: a language change may bring its own locale.
    const auto seven = [] { return QLocale().toString(QTime(7, 0), QLocale::ShortFormat); };
    const QString halfPastSix = QLocale().toString(QTime(18, 30), QLocale::ShortFormat);

    QAccessibleTableInterface* list = accessible(rig.view())->tableInterface();
    QVERIFY(list);
    QCOMPARE(list->rowCount(), 2);
    const auto row = [list](int r) {
        QAccessibleInterface* cell = list->cellAt(r, 0);
        if (!cell)
            qFatal("no row %d", r);
        return cell;
    };
    QCOMPARE(row(0)->text(QAccessible::Name), seven() + QStringLiteral(", Weekdays, Good morning!, Sound Birds, on"));
    QCOMPARE(row(1)->text(QAccessible::Name), halfPastSix + QStringLiteral(", Every day, Tea time, Sound (None), off"));
    QVERIFY(row(0)->state().checkable);
    QVERIFY(row(0)->state().checked);
    QVERIFY(!row(1)->state().checked);
    // What is painted is still the stored alarm, parsed as it is drawn.
    QCOMPARE(rig.view()->model()->index(0, 0).data().toString(), rig.alarms().at(0));

    // A toggle by keyboard is heard at once.
    rig.view()->SetCurrentRow(1);
    rig.main->actEnableExecute();
    QVERIFY(row(1)->text(QAccessible::Name).endsWith(QStringLiteral(", on")));

    // The language's words where it has them; the control names follow too.
    rig.program.Lang().ChooseLanguage(7);
    ApplyLanguage(rig.program.Lang());
    QCOMPARE(row(0)->text(QAccessible::Name), seven() + QStringLiteral(", Wochentags, Good morning!, Klang Birds, on"));
    QVERIFY(row(1)->text(QAccessible::Name).contains(QStringLiteral("Klang (Keiner)")));
    QCOMPARE(accessible(rig.view())->text(QAccessible::Name), QStringLiteral("Wecker"));
    QVERIFY(accessible(rig.view())->text(QAccessible::Description).contains(QStringLiteral("Bearbeiten")));
    QCOMPARE(accessible(rig.editor->btnPlaySound)->text(QAccessible::Name), QStringLiteral("Klang abspielen"));
    // A combo box's name is its value on this desktop; its label and description say what it is.
    QVERIFY(accessible(rig.editor->cbSound)->text(QAccessible::Description).startsWith(QStringLiteral("Klang")));
}

void TestAccessibility::everyControlHasANameAndADescription()
{
    Rig rig({makeAlarm(QTime(7, 0), QStringLiteral("Up"), QStringLiteral("Birds"), true)});
    showActive(rig.main); // the toolbar is made as the window first shows
    QList<QWidget*> controls{rig.view(), Child<QTreeWidget>(rig.main, "tvNextAlarms")};
    auto* toolbar = Child<QToolBar>(rig.main, "tbrMain");
    for (QAction* action : toolbar->actions()) {
        if (!action->isSeparator())
            controls.append(toolbar->widgetForAction(action));
    }
    TAlarmForm* e = rig.editor;
    controls.append({e->cbHours,   e->cbMinutes,    e->cbAMPM,       e->memoLabel,      e->chkShowMessage,
                     e->cbSound,   e->btnPlaySound, e->btnSoundFile, e->chkVolumeOn,    e->trbVolume,
                     e->cbRamp,    e->chkSoundLoop, e->chkSnooze,    e->cbSnoozeLength, e->chkWakeup,
                     e->lblWakeup, e->chkMonitorOn, e->btnDonate,    e->btnOk,          e->btnCancel});
    for (QCheckBox* day : e->chkDay)
        controls.append(day);
    controls.append({rig.wakeup->btnOK, rig.wakeup->btnSnooze, rig.main->FloatingForm()->btnAlarm});
    rig.main->FloatingForm()->SetAlarmIndicator(true, QStringLiteral("Next alarm: 7:00"));

    for (QWidget* control : std::as_const(controls)) {
        QAccessibleInterface* iface = accessible(control);
        const QString who = control->objectName().isEmpty() ? QString::fromLatin1(control->metaObject()->className())
                                                            : control->objectName();
        QVERIFY2(!iface->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(who + QStringLiteral(": no name")));
        QVERIFY2(!iface->text(QAccessible::Description).trimmed().isEmpty(),
                 qPrintable(who + QStringLiteral(": no description")));
        QVERIFY2(!iface->text(QAccessible::Name).contains(u'&'),
                 qPrintable(who + QStringLiteral(": mnemonic in name")));
    }
    // The image-only buttons say what they do, not nothing.
    QCOMPARE(accessible(e->btnPlaySound)->text(QAccessible::Name), QStringLiteral("Play sound"));
    QCOMPARE(accessible(e->cbHours)->text(QAccessible::Description), QStringLiteral("Hour"));
    QCOMPARE(accessible(e->cbMinutes)->text(QAccessible::Description), QStringLiteral("Minutes"));
    QCOMPARE(accessible(e->memoLabel)->text(QAccessible::Name), QStringLiteral("Label"));
    QCOMPARE(accessible(e->cbRamp)->text(QAccessible::Description), QStringLiteral("Gradual volume"));
    QCOMPARE(accessible(e->cbSnoozeLength)->text(QAccessible::Description), QStringLiteral("Snooze length"));
    // Without wake timers the check box has no caption; it keeps its name.
    QCOMPARE(accessible(e->chkWakeup)->text(QAccessible::Name), QStringLiteral("Wake up computer from a sleep mode"));
    QVERIFY(accessible(rig.wakeup->btnSnooze)->text(QAccessible::Description).contains(QStringLiteral("Esc")));
}

void TestAccessibility::mainWindowTabOrderAndKeyboardCommands()
{
    Rig rig({makeAlarm(QTime(7, 0), QStringLiteral("seven"), QStringLiteral("Birds"), true),
             makeAlarm(QTime(9, 0), QStringLiteral("nine"), QStringLiteral("Birds"), true)});
    showActive(rig.main);
    auto* panel = Child<QTreeWidget>(rig.main, "tvNextAlarms");
    rig.view()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), rig.view());
    const QList<QWidget*> controls{rig.view(), panel};
    QCOMPARE(names(tabWalk(rig.main, controls)), names(controls));

    rig.view()->setFocus();
    rig.view()->SetCurrentRow(0);
    // Space and Ctrl+E switch the chosen alarm off and on again.
    QTest::keyClick(rig.view(), Qt::Key_Space);
    QVERIFY(!AlarmField::Enabled(rig.alarms().at(0)));
    QTest::keyClick(rig.view(), Qt::Key_E, Qt::ControlModifier);
    QVERIFY(AlarmField::Enabled(rig.alarms().at(0)));

    // Enter opens the chosen alarm in the editor; Escape leaves it unchanged.
    QString edited;
    {
        const auto watch = whenModalOpens([&](QWidget* modal) {
            edited = rig.editor->memoLabel->toPlainText();
            QCOMPARE(QApplication::focusWidget(), rig.editor->cbHours);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QVERIFY(!modal->isVisible());
        });
        QTest::keyClick(rig.view(), Qt::Key_Return);
    }
    QCOMPARE(edited, QStringLiteral("seven"));
    QCOMPARE(rig.alarms().size(), 2);
    showActive(rig.main); // the window manager's part: the owner is active again once its dialog closed

    // Ctrl+N adds: Enter in the editor takes the new alarm.
    {
        const auto watch =
            whenModalOpens([](QWidget*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); });
        QTest::keyClick(rig.view(), Qt::Key_N, Qt::ControlModifier);
    }
    QCOMPARE(rig.alarms().size(), 3);
    showActive(rig.main);

    // Delete asks first; Escape answers no.
    {
        const auto watch = whenModalOpens([](QWidget* modal) {
            QVERIFY(qobject_cast<QMessageBox*>(modal));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        QTest::keyClick(rig.view(), Qt::Key_Delete);
    }
    QCOMPARE(rig.alarms().size(), 3);
    showActive(rig.main);

    // Enter on the next-alarms panel opens the alarm of that line.
    panel->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), panel);
    QVERIFY(panel->topLevelItemCount() > 0);
    panel->setCurrentItem(panel->topLevelItem(0));
    const int panelRow = panel->topLevelItem(0)->data(0, Qt::UserRole).toInt();
    edited.clear();
    {
        const auto watch = whenModalOpens([&](QWidget*) {
            edited = rig.editor->memoLabel->toPlainText();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        QTest::keyClick(panel, Qt::Key_Return);
    }
    QCOMPARE(edited, ParseAlarmString(rig.alarms().at(panelRow)).Label);
    QCOMPARE(rig.view()->CurrentRow(), panelRow);
}

void TestAccessibility::mainWindowMenusOpenWithAltAndHoldEveryToolbarCommand()
{
    Rig rig({makeAlarm(QTime(7, 0), QStringLiteral("seven"), QStringLiteral("Birds"), true)});
    showActive(rig.main);
    rig.view()->setFocus();
    rig.view()->SetCurrentRow(0);
    QMenuBar* bar = rig.main->menuBar();

    // Each title has its own Alt letter.
    QList<QKeySequence> letters;
    for (QAction* title : bar->actions()) {
        const QKeySequence letter = QKeySequence::mnemonic(title->text());
        QVERIFY2(!letter.isEmpty(), qPrintable(title->text()));
        QVERIFY2(!letters.contains(letter), qPrintable(title->text()));
        letters.append(letter);
    }
    // Every toolbar command is in a menu as well: the toolbar's buttons take no keyboard focus.
    for (QAction* action : Child<QToolBar>(rig.main, "tbrMain")->actions()) {
        if (action->isSeparator())
            continue;
        bool inMenu = false;
        for (QAction* title : bar->actions())
            inMenu = inMenu || (title->menu() && menuHolds(title->menu(), action));
        QVERIFY2(inMenu, qPrintable(action->objectName()));
    }

    // Alt+A opens the Alarm menu; Down to "Enabled" and Enter switches the alarm off.
    auto* alarmMenu = Child<QMenu>(rig.main, "miAlarms");
    QCOMPARE(QKeySequence::mnemonic(alarmMenu->title()), QKeySequence(Qt::ALT | Qt::Key_A));
    QTest::keyClick(rig.view(), Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(QApplication::activePopupWidget(), alarmMenu);
    auto* enable = Child<QAction>(rig.main, "actEnable");
    for (int step = 0; step < alarmMenu->actions().size() && alarmMenu->activeAction() != enable; ++step)
        QTest::keyClick(alarmMenu, Qt::Key_Down);
    QCOMPARE(alarmMenu->activeAction(), enable);
    QTest::keyClick(alarmMenu, Qt::Key_Return);
    QTRY_VERIFY(!alarmMenu->isVisible());
    QVERIFY(!AlarmField::Enabled(rig.alarms().at(0)));

    // Escape closes a menu opened by mistake without running anything.
    QTest::keyClick(rig.view(), Qt::Key_O, Qt::AltModifier);
    QTRY_COMPARE(QApplication::activePopupWidget(), Child<QMenu>(rig.main, "miOptions"));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!Child<QMenu>(rig.main, "miOptions")->isVisible());
    QVERIFY(!AlarmField::Enabled(rig.alarms().at(0)));
}

void TestAccessibility::editorTabOrderFollowsTheLayoutAndKeysAnswer()
{
    Rig rig({});
    TAlarmForm* e = rig.editor;
    QString opened;
    AlarmFormHooks hooks;
    hooks.donate = [] {};
    hooks.wakeTimersAvailable = [] { return true; };
    hooks.openLink = [&opened](const QString& page) { opened = page; };
    e->SetHooks(hooks);
    e->SetDonateVisible(true);
    AlarmRecord alarm;
    alarm.Time = QTime(7, 0);
    alarm.Sound = QStringLiteral("/music/wake.mp3");
    alarm.VolumeOn = true;
    e->LoadFromRecord(alarm);
    e->setModal(false);
    showActive(e);
    QTRY_COMPARE(QApplication::focusWidget(), e->cbHours);

    QList<QWidget*> expected{e->cbHours, e->cbMinutes, e->cbAMPM};
    for (QCheckBox* day : e->chkDay)
        expected.append(day);
    expected.append({e->memoLabel, e->chkShowMessage, e->cbSound, e->btnPlaySound, e->btnSoundFile, e->chkVolumeOn,
                     e->trbVolume, e->cbRamp, e->chkSoundLoop, e->chkSnooze, e->cbSnoozeLength, e->chkWakeup,
                     e->chkMonitorOn, e->btnDonate, e->btnOk, e->btnCancel});
    QList<QWidget*> all = expected;
    all.append(e->lblWakeup);
    const QList<QWidget*> visited = tabWalk(e, all);
    QVERIFY2(names(visited) == names(expected), qPrintable(names(visited).join(u' ')));

    // The order reads as the window does: the time left to right, the days downwards beside it, then
    // from the label down, a row's controls left to right.
    const auto at = [e](QWidget* w) { return w->mapTo(e, w->rect().center()); };
    QVERIFY(at(e->cbHours).x() < at(e->cbMinutes).x() && at(e->cbMinutes).x() < at(e->cbAMPM).x());
    QVERIFY(at(e->cbAMPM).x() < at(e->chkDay[0]).x());
    for (int i = 1; i < 7; ++i)
        QVERIFY(at(e->chkDay[i - 1]).y() < at(e->chkDay[i]).y());
    for (qsizetype i = expected.indexOf(e->memoLabel) + 1; i < expected.size(); ++i) {
        const QPoint before = at(expected.at(i - 1));
        const QPoint now = at(expected.at(i));
        const bool sameRow = std::abs(now.y() - before.y()) <= expected.at(i)->height() / 2;
        QVERIFY2(sameRow ? now.x() > before.x() : now.y() > before.y(), qPrintable(expected.at(i)->objectName()));
    }
    QVERIFY(at(expected.at(expected.indexOf(e->memoLabel) - 1)).y() < at(e->memoLabel).y());

    // Space ticks a day; Escape closes the editor.
    e->chkDay[0]->setFocus();
    const bool ticked = e->chkDay[0]->isChecked();
    QTest::keyClick(e->chkDay[0], Qt::Key_Space);
    QCOMPARE(e->chkDay[0]->isChecked(), !ticked);
    QTest::keyClick(e->chkDay[0], Qt::Key_Escape);
    QVERIFY(!e->isVisible());

    // Without wake timers the link takes the box's place in the order and Enter opens it.
    hooks.wakeTimersAvailable = [] { return false; };
    e->SetHooks(hooks);
    showActive(e);
    e->chkSnooze->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), e->chkSnooze);
    QTest::keyClick(e->chkSnooze, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), e->cbSnoozeLength);
    // Space switches snooze off, and its length is no stop while it cannot be chosen.
    QTest::keyClick(e->cbSnoozeLength, Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), e->chkSnooze);
    QTest::keyClick(e->chkSnooze, Qt::Key_Space);
    QVERIFY(!e->cbSnoozeLength->isEnabled());
    QTest::keyClick(e->chkSnooze, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), e->lblWakeup);
    QTest::keyClick(e->lblWakeup, Qt::Key_Return);
    QCOMPARE(opened, QStringLiteral("waketimers.html"));
    QVERIFY(e->isVisible()); // the link, not the default button
    QTest::keyClick(e->lblWakeup, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), e->chkMonitorOn);
    QTest::keyClick(e->chkMonitorOn, Qt::Key_Escape);
}

void TestAccessibility::notificationWindowTabOrderAndKeys()
{
    // Each answer in a window of its own, as each alarm comes: the window manager gives it the keyboard.
    const auto ring = [](Rig& rig) {
        TWakeupForm* w = rig.wakeup;
        AlarmRecord alarm;
        alarm.Label = QStringLiteral("Wake up");
        alarm.ShowMessage = true;
        alarm.Snooze = true;
        w->ShowAlarm(BuildAlarmString(alarm));
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTRY_COMPARE(QApplication::focusWidget(), w->btnSnooze);
    };
    {
        Rig rig({});
        TWakeupForm* w = rig.wakeup;
        ring(rig);
        // Left to right as the buttons stand: Snooze, the arrow of its lengths, OK.
        QVERIFY(w->btnSnooze->x() < w->btnSnoozeLength->x() && w->btnSnoozeLength->x() < w->btnOK->x());
        QCOMPARE(names(tabWalk(w, {w->btnSnooze, w->btnSnoozeLength, w->btnOK})),
                 names({w->btnSnooze, w->btnSnoozeLength, w->btnOK}));
        // Escape snoozes.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!w->AlarmActive());
        QVERIFY(w->SnoozePending());
        w->ResetSnooze();
    }
    {
        // Tab to OK and Enter closes the alarm for good.
        Rig rig({});
        TWakeupForm* w = rig.wakeup;
        ring(rig);
        QTest::keyClick(w->btnSnooze, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->btnSnoozeLength);
        QTest::keyClick(w->btnSnoozeLength, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->btnOK);
        QTest::keyClick(w->btnOK, Qt::Key_Return);
        QVERIFY(!w->AlarmActive());
        QVERIFY(!w->SnoozePending());
    }
    {
        // Space on the focused Snooze button snoozes.
        Rig rig({});
        TWakeupForm* w = rig.wakeup;
        ring(rig);
        QTest::keyClick(w->btnSnooze, Qt::Key_Space);
        QVERIFY(!w->AlarmActive());
        QVERIFY(w->SnoozePending());
        w->ResetSnooze();
    }
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

#include "ui/MainForm.h"

#include "core/alarms/AppClock.h"
#include "core/alarms/BackupFile.h"
#include "core/alarms/MissedAlarmWatch.h"
#include "core/alarms/SkipNext.h"
#include "core/alarms/TimeLeft.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLib.h"
#include "ui/AlarmForm.h"
#include "ui/AlarmListModel.h"
#include "ui/AlarmListView.h"
#include "ui/FloatingForm.h"
#include "ui/Icons.h"
#include "ui/MessageBoxes.h"
#include "ui/MissedAlarmsBar.h"
#include "ui/Theme.h"
#include "ui/WakeCheck.h"
#include "ui/WakeupForm.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QShortcut>
#include <QStandardPaths>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <limits>

namespace {

constexpr int kSnoozeItems = 10;
constexpr int kLazySaveMs = 5000;
constexpr int kAllowWakeTimersMs = 500;
constexpr int kBalloonGraceMs = 100;
const int kPlayDurationMinutes[] = {0, 1, 5, 10, 30, 60};

QIcon icon(const char* name)
{
    return AppIcon(QLatin1String(name));
}

QIcon trayIcon(int index)
{
    static const char* names[] = {"tray-normal", "tray-empty", "tray-ringing"};
    return AppIcon(QLatin1String(names[qBound(0, index, 2)]));
}

// WORKAROUND: where the desktop's opener is the xdg-open program, the toolkit starts it and forgets it,
// so a desktop without a browser reports success and only the terminal hears of the failure. Started
// here, its exit code tells. It is not waited for: it may live as long as the browser it started, and
// it is left running at exit.
void openUrlWatched(const QUrl& url, const std::function<void()>& failed)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        if (!QDesktopServices::openUrl(url))
            failed();
        return;
    }
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    QObject::connect(process, &QProcess::finished, process, [process, failed](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0)
            failed();
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        failed();
        process->deleteLater();
    });
    process->start(opener, {url.toString(QUrl::FullyEncoded)});
}

QString describeAlarm(const QString& alarmString)
{
    const AlarmRecord alarm = ParseAlarmString(alarmString);
    return FormatShortTime(alarm.Time, QLocale()) + QStringLiteral(" - ") +
           QString(alarm.Label).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
}

} // namespace

TMainForm::TMainForm(MainFormContext context)
    : QMainWindow(nullptr)
    , TMgForm(this, context.lang)
    , m_context(std::move(context))
    , m_scheduler(&m_context.scheduler)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowIcon(icon("larkbell"));
    createTray();
    connect(m_scheduler, &AlarmScheduler::scheduleChanged, this, &TMainForm::scheduleChanged);

    m_model = new AlarmListModel(*m_scheduler, this);
    createActions();
    createMenus();
    m_context.lang.LoadStartupLanguage(m_context.ini.Read(Settings::Language, m_context.lang.CurrentLanguageId()));
    QLocale::setDefault(m_context.lang.Locale());
    buildLanguageMenu();
    miSingleLine->setChecked(m_context.ini.Read(Settings::IsSingleLine));

    tmrCaption.setTimerType(Qt::PreciseTimer);
    connect(&tmrCaption, &QTimer::timeout, this, &TMainForm::tmrCaptionTimer);
    tmrLasySaveOptions.setSingleShot(true);
    tmrLasySaveOptions.setInterval(kLazySaveMs);
    connect(&tmrLasySaveOptions, &QTimer::timeout, this, &TMainForm::saveOptions);
    tmrAllowWakeTimers.setInterval(kAllowWakeTimersMs);
    connect(&tmrAllowWakeTimers, &QTimer::timeout, this, &TMainForm::tmrAllowWakeTimersTimer);
    tmrTimeLeft.setSingleShot(true);
    tmrTimeLeft.setTimerType(Qt::PreciseTimer); // a coarse timer may come early, and wake twice for one step
    connect(&tmrTimeLeft, &QTimer::timeout, this, [this] { updateTimeLeft(); });
    tmrRingsInNotice.setSingleShot(true);
    tmrRingsInNotice.setInterval(kRingsInNoticeMs);
    connect(&tmrRingsInNotice, &QTimer::timeout, this, [this] {
        if (lblRingsInNotice)
            lblRingsInNotice->hide();
    });
    resize(560, 520);
    applyAccessibleTexts();
}

TMainForm::~TMainForm()
{
    tmrCaption.stop();
}

bool TMainForm::TrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::SetForms(std::function<TAlarmForm*()> makeEditor, TWakeupForm* wakeup)
{
    m_makeEditor = std::move(makeEditor);
    m_wakeup = wakeup;
    const int snooze = m_context.ini.Read(Settings::SnoozeTime);
    m_wakeup->SetSnoozeTime(snooze);
    for (QAction* item : m_snoozeGroup->actions())
        item->setChecked(item->data().toInt() == snooze / 60);
}

// ---- creation ----

void TMainForm::createActions()
{
    const auto make = [this](const char* name, const char* iconName, const QKeySequence& shortcut,
                             void (TMainForm::*slot)()) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        if (iconName)
            action->setIcon(icon(iconName));
        if (!shortcut.isEmpty())
            action->setShortcut(shortcut);
        if (slot)
            connect(action, &QAction::triggered, this, slot);
        return action;
    };
    actAdd = make("actAdd", "add", QKeySequence(Qt::CTRL | Qt::Key_N), &TMainForm::actAddExecute);
    actEdit = make("actEdit", "edit", QKeySequence(Qt::CTRL | Qt::Key_Return), &TMainForm::actEditExecute);
    actDelete = make("actDelete", "delete", QKeySequence(Qt::CTRL | Qt::Key_Delete), &TMainForm::actDeleteExecute);
    actClone = make("actClone", "clone", {}, &TMainForm::actCloneExecute);
    actWWW = make("actWWW", "www", {}, nullptr);
    connect(actWWW, &QAction::triggered, this, [this] { openWebPage(QString()); });
    actExit = make("actExit", "exit", {}, &TMainForm::actExitExecute);
    actEnable = make("actEnable", nullptr, QKeySequence(Qt::CTRL | Qt::Key_E), &TMainForm::actEnableExecute);
    actEnable->setCheckable(true);
    actHelp = make("actHelp", "help", QKeySequence(Qt::Key_F1), &TMainForm::openHelp);
    actAutostart = make("actAutostart", nullptr, {}, &TMainForm::actAutostartExecute);
    actAutostart->setCheckable(true);
    actTestWakeup = make("actTestWakeup", nullptr, {}, &TMainForm::actTestWakeupExecute);
    actDonate = make("actDonate", "donate", {}, nullptr);
    connect(actDonate, &QAction::triggered, this, &TMainForm::Donate);
    actCockcrow = make("actCockcrow", "cockcrow", {}, nullptr);
    connect(actCockcrow, &QAction::triggered, this, [this] { openWebPage(QStringLiteral("cockcrow.html")); });
    actCancelSnooze = make("actCancelSnooze", "cancel-snooze", {}, &TMainForm::actCancelSnoozeExecute);
    actCancelSnooze->setVisible(false);
    actSkipNext = make("actSkipNext", nullptr, {}, &TMainForm::actSkipNextExecute);
    actSkipNextTray = make("actSkipNextTray", nullptr, {}, &TMainForm::actSkipNextTrayExecute);
    // A dead link is worse than none: without a web site the web commands are not offered.
    const bool web = !m_context.website.isEmpty();
    actWWW->setVisible(web);
    actDonate->setVisible(web);
    actCockcrow->setVisible(web);
    for (QAction* action : {actAdd, actEdit, actDelete, actEnable, actHelp})
        addAction(action); // shortcuts work while the list has focus
}

void TMainForm::createMenus()
{
    QMenu* miFile = addBarMenu(Text::File.English(), QStringLiteral("miFile"));
    QAction* miLoad = miFile->addAction(icon("load"), Text::LoadFromFile.English(), this, &TMainForm::miLoadClick);
    miLoad->setObjectName(QStringLiteral("miLoad"));
    QAction* miSave = miFile->addAction(icon("save"), Text::SaveToFile.English(), this, &TMainForm::miSaveClick);
    miSave->setObjectName(QStringLiteral("miSave"));
    miFile->addSeparator();
    miFile->addAction(actExit);

    QMenu* miAlarms = addBarMenu(Text::Alarm.English(), QStringLiteral("miAlarms"));
    miAlarms->addActions({actAdd});
    miAlarms->addSeparator();
    miAlarms->addActions({actEnable, actEdit, actDelete});
    miAlarms->addSeparator();
    miAlarms->addAction(actClone);
    miAlarms->addAction(actSkipNext);

    QMenu* miOptions = addBarMenu(Text::Options.English(), QStringLiteral("miOptions"));
    miOptions->addAction(actAutostart);
    miOptions->addAction(actTestWakeup);
    miOptions->addSeparator();
    miSnooze = miOptions->addMenu(Text::Snooze.English());
    miSnooze->setObjectName(QStringLiteral("miSnooze"));
    miSnooze->addAction(actCancelSnooze);
    miSnoozeSepr = miSnooze->addSeparator();
    miSnoozeSepr->setVisible(false);
    m_snoozeGroup = new QActionGroup(this);
    buildSnoozeMenu();
    miPlaySoundDuration = miOptions->addMenu(Text::PlaySound.English());
    miPlaySoundDuration->setObjectName(QStringLiteral("miPlaySoundDuration"));
    m_durationGroup = new QActionGroup(this);
    const int duration = qBound(0, m_context.ini.Read(Settings::PlaySoundDuration), 5);
    for (int tag = 0; tag <= 5; ++tag) {
        QAction* item = miPlaySoundDuration->addAction(tag == 0 ? Text::UntilMessageClosed.English() : QString());
        item->setObjectName(QStringLiteral("miPlaySoundDuration%1").arg(tag));
        item->setCheckable(true);
        item->setData(tag);
        item->setChecked(tag == duration);
        m_durationGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, tag] {
            emit playDurationChanged(tag);
            m_context.ini.Write(Settings::PlaySoundDuration, tag);
        });
    }
    buildMissedLimitMenu(miOptions);
    miShowFloatingWindow = miOptions->addAction(Text::ShowFloatingClock.English());
    miShowFloatingWindow->setObjectName(QStringLiteral("miShowFloatingWindow"));
    miShowFloatingWindow->setCheckable(true);
    connect(miShowFloatingWindow, &QAction::triggered, this, [this](bool on) {
        showFloatingWindow(on);
        restartLazySave();
    });
    miSingleLine = miOptions->addAction(Text::SingleLine.English());
    miSingleLine->setObjectName(QStringLiteral("miSingleLine"));
    miSingleLine->setCheckable(true);
    connect(miSingleLine, &QAction::triggered, this, [this](bool on) {
        m_context.ini.Write(Settings::IsSingleLine, on);
        applyLayout();
    });
    miStayOnTop = miOptions->addAction(Text::StayOnTop.English());
    miStayOnTop->setObjectName(QStringLiteral("miStayOnTop"));
    miStayOnTop->setCheckable(true);
    connect(miStayOnTop, &QAction::triggered, this, &TMainForm::setStayOnTop);
    miOptions->addSeparator();
    miLanguage = miOptions->addMenu(Text::Language.English());
    miLanguage->setObjectName(QStringLiteral("miLanguage"));
    m_languageGroup = new QActionGroup(this);

    QMenu* miHelps = addBarMenu(Text::Help.English(), QStringLiteral("miHelps"));
    miHelps->addAction(actHelp);
    miHelps->addSeparator();
    miHelps->addActions({actWWW, actCockcrow});
    miHelps->addSeparator();
    miHelps->addAction(actDonate);

    pmMain = new QMenu(this);
    pmMain->setObjectName(QStringLiteral("pmMain"));
    pmMain->addAction(actAdd);
    pmMain->addSeparator();
    pmMain->addActions({actEnable, actEdit, actDelete});
    pmMain->addSeparator();
    pmMain->addAction(actClone);
    pmMain->addAction(actSkipNext);

    pmTray = new QMenu(this);
    pmTray->setObjectName(QStringLiteral("pmTray"));
    pmitOpen = pmTray->addAction(icon("open"), QString(), this, &TMainForm::OpenWindow);
    pmitOpen->setObjectName(QStringLiteral("pmitOpen"));
    pmTray->setDefaultAction(pmitOpen);
    pmTray->addSeparator();
    pmTray->addAction(actAutostart);
    pmTray->addSeparator();
    pmTray->addAction(actAdd);
    pmTray->addAction(actSkipNextTray);
    pmTray->addSeparator();
    pmTray->addActions({actHelp, actWWW});
    pmTray->addSeparator();
    pmTray->addAction(actExit);
    trayMain->setContextMenu(pmTray);
    // The next occurrence moves on with the clock: the captions are made as the menus open.
    for (QMenu* menu : {miAlarms, pmMain, pmTray})
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::updateSkipCommands);
}

void TMainForm::buildSnoozeMenu()
{
    for (int n = 1; n <= kSnoozeItems; ++n) {
        QAction* item = miSnooze->addAction(QString());
        item->setObjectName(QStringLiteral("miSnooze%1").arg(n));
        item->setCheckable(true);
        item->setData(n);
        m_snoozeGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, n] {
            if (m_wakeup)
                m_wakeup->SetSnoozeTime(n * 60);
            m_context.ini.Write(Settings::SnoozeTime, n * 60);
        });
    }
}

void TMainForm::buildLanguageMenu()
{
    const QList<LanguageMenuItem> items = m_context.lang.LanguageMenuItems();
    miLanguage->menuAction()->setVisible(!items.isEmpty());
    int n = 0;
    for (const LanguageMenuItem& entry : items) {
        QAction* item = miLanguage->addAction(entry.Caption);
        item->setObjectName(QStringLiteral("miLanguage%1").arg(n++));
        item->setCheckable(true);
        item->setChecked(entry.Checked);
        item->setData(entry.LanguageId);
        m_languageGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, id = entry.LanguageId] {
            m_context.lang.ChooseLanguage(id);
            QLocale::setDefault(m_context.lang.Locale());
            ApplyLanguage(m_context.lang);
            m_context.ini.Write(Settings::Language, m_context.lang.CurrentLanguageId());
        });
    }
}

QMenu* TMainForm::addBarMenu(const QString& title, const QString& name)
{
    auto* menu = new QMenu(title, this);
    menu->setObjectName(name);
    m_barMenus.append(menu);
    return menu;
}

TAlarmListView* TMainForm::AlarmView()
{
    buildCentralWidget();
    return lbAlarmView;
}

TMissedAlarmsBar* TMainForm::MissedBar()
{
    buildCentralWidget();
    return m_missedBar;
}

int TMainForm::currentRow() const
{
    return lbAlarmView ? lbAlarmView->CurrentRow() : m_currentRow;
}

void TMainForm::setCurrentRow(int row)
{
    m_currentRow = row >= 0 && row < m_model->rowCount() ? row : -1;
    if (lbAlarmView)
        lbAlarmView->SetCurrentRow(row);
}

void TMainForm::buildCentralWidget()
{
    if (lbAlarmView)
        return;
    createCentralWidget();
    applyListLocale();
    applyLayout();
    applyWakeStatus();
    applyMissedTexts();
    if (m_missed) {
        connect(m_missedBar, &TMissedAlarmsBar::acknowledged, m_missed, &MissedAlarmWatch::Acknowledge);
        m_missedBar->SetEntries(m_missed->Unacknowledged());
    }
    applyAccessibleTexts();
    fillPanel();
    updateTimeLeft();
    lbAlarmView->SetCurrentRow(m_currentRow);
    UpdateCommandStates();
}

void TMainForm::buildWindowChrome()
{
    if (tbrMain)
        return;
    buildCentralWidget();
    for (QMenu* menu : std::as_const(m_barMenus))
        menuBar()->addMenu(menu);
    createToolBar();
    applyAccessibleTexts();
}

void TMainForm::createToolBar()
{
    tbrMain = addToolBar(QStringLiteral("tbrMain"));
    tbrMain->setObjectName(QStringLiteral("tbrMain"));
    tbrMain->setMovable(false);
    tbrMain->setIconSize(QSize(24, 24));
    tbrMain->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tbrMain->addActions({actAdd, actEdit, actDelete});
    tbrMain->addSeparator();
    tbrMain->addActions({actClone, actCancelSnooze});
    tbrMain->addSeparator();
    tbrMain->addActions({actWWW, actHelp});
    tbrMain->addSeparator();
    tbrMain->addAction(actCockcrow);
    for (QAction* imageOnly : {actWWW, actHelp}) {
        if (auto* button = qobject_cast<QToolButton*>(tbrMain->widgetForAction(imageOnly)))
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
}

void TMainForm::createCentralWidget()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    lbAlarmView = new TAlarmListView(central);
    lbAlarmView->setModel(m_model);
    lbAlarmView->SetSkipNote([this](const QString& alarmString) {
        return AlarmListModel::SkipNote(alarmString, m_scheduler->WallNow(), QLocale(), &Lang());
    });
    applyListFrame();
    m_missedBar = new TMissedAlarmsBar(central);
    layout->addWidget(m_missedBar);
    layout->addWidget(lbAlarmView, 1);
    lblRingsInNotice = new QLabel(central);
    lblRingsInNotice->setObjectName(QStringLiteral("lblRingsInNotice"));
    lblRingsInNotice->setTextFormat(Qt::PlainText);
    lblRingsInNotice->setAlignment(Qt::AlignCenter);
    QFont noticeFont = lblRingsInNotice->font();
    noticeFont.setBold(true);
    lblRingsInNotice->setFont(noticeFont);
    lblRingsInNotice->hide();
    layout->addWidget(lblRingsInNotice);
    lblNextAlarms = new QLabel(central);
    lblNextAlarms->setObjectName(QStringLiteral("lblNextAlarms"));
    layout->addWidget(lblNextAlarms);
    tvNextAlarms = new QTreeWidget(central);
    tvNextAlarms->setObjectName(QStringLiteral("tvNextAlarms"));
    tvNextAlarms->setHeaderHidden(true);
    tvNextAlarms->setRootIsDecorated(false);
    // Its one column always fills the panel. Left at its default, the hidden header's minimum is measured
    // from the font, which alone would load the font machinery while the window is hidden in the tray.
    tvNextAlarms->header()->setMinimumSectionSize(1);
    layout->addWidget(tvNextAlarms);
    setCentralWidget(central);

    connect(lbAlarmView, &TAlarmListView::editRequested, this, &TMainForm::actEditExecute);
    connect(lbAlarmView, &TAlarmListView::enableRequested, this, &TMainForm::actEnableExecute);
    connect(lbAlarmView, &TAlarmListView::addRequested, this, &TMainForm::actAddExecute);
    connect(lbAlarmView, &TAlarmListView::deleteRequested, this, &TMainForm::actDeleteExecute);
    connect(lbAlarmView, &TAlarmListView::hovered, this, &TMainForm::UpdateCommandStates);
    connect(lbAlarmView, &TAlarmListView::contextMenuWanted, this, [this](const QPoint& at) {
        UpdateCommandStates();
        pmMain->popup(at);
    });
    connect(lbAlarmView->selectionModel(), &QItemSelectionModel::currentChanged, this, &TMainForm::UpdateCommandStates);
    connect(lbAlarmView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMainForm::UpdateCommandStates);
    const auto panelRow = [](QTreeWidgetItem* item) { return item ? item->data(0, Qt::UserRole).toInt() : -1; };
    connect(tvNextAlarms, &QTreeWidget::itemClicked, this,
            [this, panelRow](QTreeWidgetItem* item) { setCurrentRow(panelRow(item)); });
    connect(tvNextAlarms, &QTreeWidget::itemDoubleClicked, this, [this, panelRow](QTreeWidgetItem* item) {
        setCurrentRow(panelRow(item));
        actEditExecute();
    });
    // Enter does on the panel what a double click does.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* edit = new QShortcut(QKeySequence(key), tvNextAlarms);
        edit->setContext(Qt::WidgetShortcut);
        connect(edit, &QShortcut::activated, this, [this, panelRow] {
            if (QTreeWidgetItem* item = tvNextAlarms->currentItem()) {
                setCurrentRow(panelRow(item));
                actEditExecute();
            }
        });
    }
}

void TMainForm::createTray()
{
    trayMain = new QSystemTrayIcon(this);
    trayMain->setObjectName(QStringLiteral("trayMain"));
    SetTrayIcon(1);
    trayMain->setToolTip(QStringLiteral("Larkbell"));
    connect(trayMain, &QSystemTrayIcon::activated, this, &TMainForm::trayActivated);
    connect(trayMain, &QSystemTrayIcon::messageClicked, this, &TMainForm::balloonClicked);
    trayMain->show();
}

// ---- start-up and exit ----

void TMainForm::PostCreate()
{
    applySettingChange();
    m_scheduler->LoadAlarms();
    m_model->Reset();
    if (!m_context.ini.Read(Settings::FirstStarted)) {
        if (m_scheduler->Alarms().isEmpty()) {
            const AlarmRecord first = FirstStartAlarm(
                m_context.lang.GetText(Text::GoodMorning), m_context.systemVolume(), [this](const QString& name) {
                    return QFileInfo::exists(ResolveSoundName(name, m_context.folders.soundsFolder));
                });
            m_scheduler->SetAlarms({BuildAlarmString(first)});
            m_model->Reset();
            // Saved at once, so the first alarm survives even a crash before the first exit.
            m_scheduler->SaveAndRebuild();
        }
        ShowBalloon(QStringLiteral("Larkbell"),
                    FormatText(m_context.lang.GetText(Text::Greeting), {QStringLiteral("Larkbell")}), 5000);
        m_allowWakeStep = 0;
        tmrAllowWakeTimers.start();
    }
    m_context.ini.Write(Settings::FirstStarted, true);
    m_scheduler->Rebuild();
    if (!m_scheduler->Alarms().isEmpty())
        setCurrentRow(0);
    UpdateCommandStates();
    actAutostart->setChecked(m_context.platform.AutostartEnabled(m_context.exePath.toStdString()));
    // Asked once, away from this thread: a power daemon may take seconds to answer, or never.
    m_wakeCheck = std::make_unique<WakeCheck>(m_context.platform, m_context.lang);
    connect(m_wakeCheck.get(), &WakeCheck::known, this, &TMainForm::applyWakeStatus);
    m_wakeCheck->Start();
    applyWakeStatus();
    miShowFloatingWindow->setChecked(m_context.ini.Read(Settings::ShowFloatingWindow));
    LoadFormPlacement(this, m_context.ini, FormStartPosition::CenterOfWorkArea);
    KeepOnScreen(this);
    showFloatingWindow(miShowFloatingWindow->isChecked());
    setStayOnTop(m_context.ini.Read(Settings::StayOnTop));
    WriteLog(QStringLiteral("Tray icon shown (%1)")
                 .arg(TrayAvailable() ? QStringLiteral("in the tray") : QStringLiteral("no tray on this desktop")));
}

void TMainForm::SaveOptions()
{
    tmrLasySaveOptions.stop();
    saveOptions();
    if (m_floating)
        m_floating->SaveSettings();
}

void TMainForm::OpenWindow()
{
    // showNormal() would undo a maximized window the user left that way, and at start its stored state.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TMainForm::tmrAllowWakeTimersTimer()
{
    // The Windows build adjusts the power plan in steps 0-2; here only the wake test of step 3 remains.
    if (m_allowWakeStep == 3)
        WriteLog(QStringLiteral("Wake timers allowed: %1").arg(m_context.wakeTimersAllowed() ? 1 : 0));
    if (++m_allowWakeStep > 3)
        tmrAllowWakeTimers.stop();
}

// ---- language and layout ----

void TMainForm::DoLanguageChanged()
{
    TMgForm::DoLanguageChanged();
    const TMgLang& lang = Lang();
    setWindowTitle(QStringLiteral("Larkbell"));
    applyMissedTexts();
    const QString version = QCoreApplication::applicationVersion();
    pmitOpen->setText(QStringLiteral("Larkbell ") + version);
    for (auto [name, text] : {std::pair{"miLoad", Text::LoadFromFile},
                              {"miSave", Text::SaveToFile},
                              {"miPlaySoundDuration0", Text::UntilMessageClosed}}) {
        if (auto* item = findChild<QAction*>(QLatin1String(name)))
            TranslateMenuItem(lang, item, text);
    }
    for (auto [name, text] : {std::pair{"miOptions", Text::Options},
                              {"miSnooze", Text::Snooze},
                              {"miLanguage", Text::Language},
                              {"miFile", Text::File},
                              {"miAlarms", Text::Alarm},
                              {"miHelps", Text::Help},
                              {"miPlaySoundDuration", Text::PlaySound}}) {
        if (auto* menu = findChild<QMenu*>(QLatin1String(name)))
            TranslateMenuItem(lang, menu, text);
    }
    TranslateMenuItem(lang, miShowFloatingWindow, Text::ShowFloatingClock);
    TranslateMenuItem(lang, miSingleLine, Text::SingleLine);
    TranslateMenuItem(lang, miStayOnTop, Text::StayOnTop);
    for (auto [action, text] : {std::pair{actAdd, Text::Add},
                                {actEdit, Text::Edit},
                                {actDelete, Text::Delete},
                                {actClone, Text::Clone},
                                {actCancelSnooze, Text::CancelSnooze},
                                {actWWW, Text::OpenWebSite},
                                {actExit, Text::Exit},
                                {actEnable, Text::Enabled},
                                {actDonate, Text::Donate}}) {
        action->setText(lang.GetText(text));
        action->setToolTip(action->text());
    }
    actCockcrow->setText(QStringLiteral("Cockcrow"));
    actHelp->setText(lang.GetText(Text::Help) + QStringLiteral(": Larkbell ") + version);
    actHelp->setToolTip(lang.GetText(Text::Help));
    actAutostart->setText(FormatText(lang.GetText(Text::RunAtStartup), {QStringLiteral("Larkbell")}));
    actTestWakeup->setText(lang.GetText(Text::TestWakeup));
    applyWakeStatus();
    const QString minute = lang.GetText(Text::Minute);
    const QString minutes = lang.GetText(Text::Minutes);
    for (int tag = 1; tag <= 5; ++tag) {
        if (auto* item = findChild<QAction*>(QStringLiteral("miPlaySoundDuration%1").arg(tag))) {
            item->setText(tag == 5 ? CountWithUnit(1, lang.GetText(Text::Hour), lang.GetText(Text::Hours))
                                   : CountWithUnit(kPlayDurationMinutes[tag], minute, minutes));
        }
    }
    for (QAction* item : m_snoozeGroup->actions())
        item->setText(CountWithUnit(item->data().toInt(), minute, minutes));
    updateSkipCommands();
    applySettingChange();
    applyLayout();
    applyAccessibleTexts();
    updateTimeLeft();
}

void TMainForm::applyListFrame()
{
    if (!lbAlarmView)
        return;
    // A plain box in the palette's frame colour, set anew when the desktop turns dark. Not a style sheet:
    // its engine alone costs half a megabyte that the program would hold for its whole life.
    lbAlarmView->setFrameStyle(QFrame::Box | QFrame::Plain);
    lbAlarmView->setLineWidth(1);
    QPalette framed = lbAlarmView->palette();
    framed.setColor(QPalette::WindowText, TMgTheme::ForPalette(palette()).frame);
    lbAlarmView->setPalette(framed);
}

void TMainForm::applyAccessibleTexts()
{
    const TMgLang& lang = Lang();
    m_model->SetLanguage(&lang);
    // The list and the panel are the window's only stops for Tab; everything else is in the menus.
    if (lbAlarmView) {
        setTabOrder(lbAlarmView, tvNextAlarms);
        lbAlarmView->setAccessibleName(WithoutMnemonic(lang.GetText(Text::Alarm)));
        lbAlarmView->setAccessibleDescription(QStringList{KeyCommandText(Qt::Key_Enter, lang.GetText(Text::Edit)),
                                                          KeyCommandText(Qt::Key_Space, lang.GetText(Text::Enabled)),
                                                          KeyCommandText(Qt::Key_Insert, lang.GetText(Text::Add)),
                                                          KeyCommandText(Qt::Key_Delete, lang.GetText(Text::Delete))}
                                                  .join(QStringLiteral(", ")));
        QString panel = FormatText(lang.GetText(Text::NextAlarms), {QStringLiteral("3")}).trimmed();
        if (panel.endsWith(u':'))
            panel.chop(1);
        tvNextAlarms->setAccessibleName(panel);
        tvNextAlarms->setAccessibleDescription(KeyCommandText(Qt::Key_Enter, lang.GetText(Text::Edit)));
    }
    for (QAction* action : tbrMain ? tbrMain->actions() : QList<QAction*>()) {
        QWidget* button = tbrMain->widgetForAction(action);
        if (!button || action->isSeparator())
            continue;
        button->setAccessibleName(WithoutMnemonic(action->text()));
        const QString hint = WithoutMnemonic(action->toolTip());
        button->setAccessibleDescription(action->shortcut().isEmpty() ? hint
                                                                      : KeyCommandText(action->shortcut(), hint));
    }
    // Alt and a letter open the menus; the letters follow the current language's titles.
    QString taken;
    for (QMenu* menu : std::as_const(m_barMenus))
        menu->setTitle(WithMnemonic(menu->title(), taken));
}

void TMainForm::applySettingChange()
{
    // Day names and dates in the language of the captions around them, also after the system's locale changed.
    QLocale::setDefault(Lang().Locale());
    const QLocale locale;
    applyListLocale();
    m_scheduler->SetLocale(locale);
    if (m_editor)
        m_editor->RefreshLocale();
    if (m_floating)
        m_floating->PrepareSamples();
    fitToText();
}

void TMainForm::applyListLocale()
{
    if (!lbAlarmView)
        return;
    const QLocale locale;
    DayTexts texts;
    texts.everyDay = Lang().GetText(Text::EveryDay);
    texts.weekdays = Lang().GetText(Text::Weekdays);
    texts.weekends = Lang().GetText(Text::Weekends);
    for (int day = 1; day <= 7; ++day)
        texts.shortDayNames[day - 1] = locale.dayName(day == 1 ? 7 : day - 1, QLocale::ShortFormat);
    texts.firstWeekdayOffset = FirstWeekdayOffset(locale);
    lbAlarmView->SetLocaleTexts(locale, texts);
}

void TMainForm::applyLayout()
{
    if (lbAlarmView)
        lbAlarmView->SetSingleLine(miSingleLine->isChecked());
    fitToText();
}

void TMainForm::fitToText()
{
    // Measuring text loads the font machinery, a few MB that a window hidden in the tray never needs:
    // the measures are taken when it is shown.
    if (!isVisible() || !tvNextAlarms)
        return;
    tvNextAlarms->setFixedHeight(3 * tvNextAlarms->fontMetrics().height() + 12);
    // Every caption stays readable: the window is never narrower than its toolbar, which would hide the
    // last commands behind an extension button. Longer captions (another language, Cancel Snooze shown)
    // widen the window. Only a screen narrower than the toolbar wins.
    const QMargins margins = layout() ? layout()->contentsMargins() : QMargins();
    int wanted = tbrMain->sizeHint().width() + margins.left() + margins.right();
    if (const QScreen* shownOn = screen())
        wanted = qMin(wanted, shownOn->availableGeometry().width());
    setMinimumWidth(wanted);
}

void TMainForm::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyListFrame();
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange)
        applySettingChange();
    else if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitToText();
}

// ---- schedule, tray, caption ----

void TMainForm::scheduleChanged()
{
    fillPanel();
    updateTimeLeft(true);
    if (!m_wakeup || !m_wakeup->AlarmActive())
        SetTrayIcon(m_scheduler->Schedule().trayIconIndex);
    // A fired one-time alarm switched itself off in the list: show it.
    if (lbAlarmView)
        lbAlarmView->viewport()->update();
    UpdateCommandStates();
}

void TMainForm::fillPanel()
{
    if (!tvNextAlarms)
        return;
    const ScheduleResult& schedule = m_scheduler->Schedule();
    tvNextAlarms->clear();
    const LocalDateTime wallNow = m_scheduler->WallNow();
    QSet<int> noted;
    for (const PanelLine& line : schedule.panel) {
        QString text = line.text;
        // The first line of an alarm that skips an occurrence says which.
        if (line.listIndex >= 0 && line.listIndex < m_scheduler->Alarms().size() && !noted.contains(line.listIndex)) {
            noted.insert(line.listIndex);
            const QString note =
                AlarmListModel::SkipNote(m_scheduler->Alarms().at(line.listIndex), wallNow, QLocale(), &Lang());
            if (!note.isEmpty())
                text += QStringLiteral(" (") + note + u')';
        }
        auto* item = new QTreeWidgetItem(tvNextAlarms, {text});
        item->setData(0, Qt::UserRole, line.listIndex);
    }
}

void TMainForm::editNextAlarm()
{
    const ScheduleResult& schedule = m_scheduler->Schedule();
    if (schedule.panel.isEmpty())
        return;
    setCurrentRow(schedule.panel.first().listIndex);
    OpenWindow();
    actEditExecute();
}

TFloatingForm* TMainForm::FloatingForm()
{
    if (m_floating)
        return m_floating.get();
    m_floating = CreateForm<TFloatingForm>(m_context.lang, m_context.ini);
    connect(m_floating.get(), &TFloatingForm::openMainWindowRequested, this, &TMainForm::OpenWindow);
    connect(m_floating.get(), &TFloatingForm::stopRingingRequested, this, [this] {
        if (m_wakeup)
            m_wakeup->DismissAlarm();
    });
    connect(m_floating.get(), &TFloatingForm::editNextAlarmRequested, this, &TMainForm::editNextAlarm);
    connect(m_floating.get(), &TFloatingForm::closedByUser, this, [this] {
        miShowFloatingWindow->setChecked(false);
        updateCaptionClock();
        restartLazySave();
    });
    m_floating->SetRingingQuery([this] { return m_wakeup && m_wakeup->AlarmActive(); });
    m_floating->LoadSettings();
    m_floating->SetHighlight(m_floatingHighlight);
    updateTimeLeft();
    return m_floating.get();
}

void TMainForm::HighlightFloatingClock(bool on)
{
    m_floatingHighlight = on;
    if (m_floating)
        m_floating->SetHighlight(on);
}

bool TMainForm::floatingShown() const
{
    return m_floating && m_floating->isVisible();
}

void TMainForm::showFloatingWindow(bool show)
{
    if (show || m_floating)
        FloatingForm()->setVisible(show);
    updateCaptionClock();
}

void TMainForm::Donate()
{
    m_context.ini.Write(Settings::HideDonate, true);
    if (m_editor)
        m_editor->SetDonateVisible(false);
    openWebPage(QStringLiteral("donate.html"));
}

void TMainForm::ShowCancelSnooze(bool visible)
{
    actCancelSnooze->setVisible(visible);
    miSnoozeSepr->setVisible(visible);
    fitToText();
    // Told right after the snooze started: its whole length is still to come.
    const int snoozeMs = m_wakeup && m_wakeup->SnoozePending() ? m_wakeup->tmrSnooze.interval() : -1;
    m_snoozedUntil = visible && snoozeMs >= 0 ? m_scheduler->Now().addMSecs(snoozeMs) : QDateTime();
    updateTimeLeft(true);
}

void TMainForm::SetTrayIcon(int index)
{
    if (index == m_trayIcon)
        return;
    m_trayIcon = index;
    trayMain->setIcon(trayIcon(index));
}

void TMainForm::ShowBalloon(const QString& title, const QString& text, int ms)
{
    // The notification server reports clicks and closing; a tray balloon only clicks.
    if (!m_context.notifications || !m_context.notifications->Show(title.toStdString(), text.toStdString(), ms))
        ShowTrayBalloon(title, text, ms);
}

void TMainForm::ShowAlarmBalloon(const QString& title, const QString& text, int ms, bool snooze)
{
    const auto label = [this](LangText key) { return WithoutMnemonic(m_context.lang.GetText(key)).toStdString(); };
    NotificationStyle style;
    style.critical = true; // an alarm waits for its answer
    if (snooze)
        style.actions.push_back({"snooze", label(Text::SnoozeButton)});
    style.actions.push_back({"dismiss", label(Text::NotificationDismiss)});
    if (!m_context.notifications || !m_context.notifications->Show(title.toStdString(), text.toStdString(), ms, style))
        ShowTrayBalloon(title, text, ms);
}

void TMainForm::CancelBalloon()
{
    if (m_context.notifications)
        m_context.notifications->Cancel();
}

void TMainForm::BalloonAnswered()
{
    balloonClicked();
}

void TMainForm::ShowTrayBalloon(const QString& title, const QString& text, int ms)
{
    trayMain->showMessage(title, text, QSystemTrayIcon::Information, ms);
}

void TMainForm::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick &&
        reason != QSystemTrayIcon::MiddleClick)
        return;
    if (m_wakeup && m_wakeup->AlarmActive()) {
        m_wakeup->DismissAlarm();
        return;
    }
    if (isVisible() && !isMinimized())
        close();
    else
        OpenWindow();
}

void TMainForm::balloonClicked()
{
    if (m_wakeup && m_wakeup->AlarmActive() && m_wakeup->MsSinceShown() >= kBalloonGraceMs)
        m_wakeup->DismissAlarm();
}

void TMainForm::startCaptionClock()
{
    // The first tick lands on the next whole second, so the caption changes with the system clock.
    tmrCaption.start(1000 - AppClock::Program().CurrentTime().msec());
}

void TMainForm::updateCaptionClock()
{
    // Hidden in the tray, nothing shows the clock: no tick, so the program sleeps until its next alarm.
    const bool shown = isVisible() || floatingShown();
    if (!shown) {
        tmrCaption.stop();
        updateTimeLeft(); // on to the tray's coarse steps
        return;
    }
    if (!tmrCaption.isActive()) {
        tmrCaptionTimer();
        startCaptionClock();
    }
}

void TMainForm::tmrCaptionTimer()
{
    tmrCaption.setInterval(1000);
    const QLocale locale;
    const QDateTime now = AppClock::Program().Now();
    if (isVisible()) {
        setWindowTitle(locale.toString(now.date(), QLocale::LongFormat) + u' ' +
                       locale.toString(now.time(), TFloatingForm::ClockTimeFormat(locale)) +
                       QStringLiteral(" - Larkbell"));
    }
    if (floatingShown())
        m_floating->ShowTime(now);
    updateTimeLeft();
}

void TMainForm::updateTimeLeft(bool logChange)
{
    const TMgLang& lang = Lang();
    const ScheduleResult& schedule = m_scheduler->Schedule();
    // While a clock is shown the caption's tick refreshes this every second; hidden in the tray nothing
    // shows it but the hint, which then counts in steps so coarse that the program sleeps for minutes.
    const bool clockShown = isVisible() || floatingShown();
    const int step = clockShown ? kTimeLeftStepShownMinutes : kTimeLeftStepHiddenMinutes;
    tmrTimeLeft.stop();
    QString status;
    if (m_snoozedUntil.isValid()) {
        const QTime until = UtcToLocal(m_snoozedUntil.toUTC(), m_scheduler->OffsetAt()).time;
        status = FormatText(lang.GetText(Text::SnoozedUntil), {FormatShortTime(until, QLocale())});
    } else if (schedule.alarmAt) {
        const qint64 left = m_scheduler->Now().msecsTo(m_scheduler->AlarmDueUtc());
        const TimeLeftUnits units{lang.GetText(Text::TimeLeftDays), lang.GetText(Text::TimeLeftHours),
                                  lang.GetText(Text::TimeLeftMinutes)};
        // No timer counts down the hidden hint's last step, which would read "10 min" until the ring:
        // there the hint keeps only the next alarm's own line, which names its time.
        if (clockShown || left > qint64(step) * 60 * 1000)
            status = FormatText(lang.GetText(Text::RingsIn), {FormatTimeLeft(left, units, step)});
        if (const qint64 wait = MsecsUntilTimeLeftStep(left, step); !clockShown && wait > 0)
            tmrTimeLeft.start(int(qMin<qint64>(wait, std::numeric_limits<int>::max())));
    }
    const bool any = !schedule.panel.isEmpty();
    QString hint = schedule.trayHint;
    if (!status.isEmpty())
        hint = any ? status + QStringLiteral(" - ") + schedule.trayHint : status;
    // An unchanged hint is not re-sent: a tray host may re-show its tooltip on every change.
    if (hint != m_lastTooltip) {
        m_lastTooltip = hint;
        trayMain->setToolTip(hint);
        if (logChange)
            WriteLog(QStringLiteral("Tray hint: ") + hint);
    }
    const QString heading = FormatText(lang.GetText(Text::NextAlarms), {QStringLiteral("3")});
    const QString headingText = status.isEmpty() ? heading : heading + QStringLiteral("  ") + status;
    if (lblNextAlarms && lblNextAlarms->text() != headingText)
        lblNextAlarms->setText(headingText);
    if (m_floating)
        m_floating->SetAlarmIndicator(schedule.floatingIndicatorVisible || m_snoozedUntil.isValid(),
                                      any ? hint : status);
}

void TMainForm::showRingsInNotice(const AlarmRecord& alarm)
{
    if (!alarm.Enabled)
        return;
    const QDateTime now = m_scheduler->Now();
    const ScheduleResult next =
        RebuildSchedule({BuildAlarmString(alarm)}, UtcToLocal(now.toUTC(), m_scheduler->OffsetAt()), QLocale());
    if (!next.alarmAt)
        return;
    const TMgLang& lang = Lang();
    const TimeLeftUnits units{lang.GetText(Text::TimeLeftDays), lang.GetText(Text::TimeLeftHours),
                              lang.GetText(Text::TimeLeftMinutes)};
    const QString text = FormatText(lang.GetText(Text::RingsIn),
                                    {FormatTimeLeft(MsecsUntil(*next.alarmAt, now, m_scheduler->OffsetAt()), units)});
    WriteLog(QStringLiteral("Notice: ") + text);
    if (!isVisible() || isMinimized()) {
        ShowBalloon(QStringLiteral("Larkbell"), text, kRingsInNoticeMs);
        return;
    }
    lblRingsInNotice->setText(text);
    lblRingsInNotice->setAccessibleName(text);
    lblRingsInNotice->show();
    tmrRingsInNotice.start();
}

void TMainForm::setVisible(bool visible)
{
    if (visible)
        buildWindowChrome();
    QMainWindow::setVisible(visible);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    fitToText();
    updateCaptionClock();
}

void TMainForm::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    QTimer::singleShot(0, this, &TMainForm::updateCaptionClock); // isVisible() is still true here
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // Only hides: the program ends through its owner's exit, never by closing windows.
    event->ignore();
    if (TrayAvailable())
        hide();
    else
        showMinimized();
}

void TMainForm::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    restartLazySave();
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    restartLazySave();
}

void TMainForm::restartLazySave()
{
    if (isVisible())
        tmrLasySaveOptions.start();
}

void TMainForm::saveOptions()
{
    m_context.ini.Write(Settings::ShowFloatingWindow, miShowFloatingWindow->isChecked());
    SaveFormPlacement(this, m_context.ini);
}

void TMainForm::setStayOnTop(bool on)
{
    miStayOnTop->setChecked(on);
    m_context.ini.Write(Settings::StayOnTop, on);
    applyStayOnTop(on);
}

void TMainForm::applyStayOnTop(bool on)
{
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible)
        show(); // changing the flags hides the window
}

// ---- commands ----

void TMainForm::UpdateCommandStates()
{
    const int row = currentRow();
    const bool selected = row >= 0 && row < m_scheduler->Alarms().size();
    for (QAction* action : {actEnable, actEdit, actDelete, actClone})
        action->setEnabled(selected);
    actEnable->setChecked(selected && AlarmField::Enabled(m_scheduler->Alarms().at(row)));
    updateSkipCommands();
}

AlarmRecord TMainForm::NewAlarmRecord() const
{
    const QDateTime now = AppClock::Program().Now();
    return NewAlarm(now.time(), now.date().month(), Lang().GetText(Text::Alarm), m_context.systemVolume(),
                    [this](const QString& name) {
                        return QFileInfo::exists(ResolveSoundName(name, m_context.folders.soundsFolder));
                    });
}

TAlarmForm* TMainForm::Editor()
{
    if (m_editor || !m_makeEditor)
        return m_editor;
    m_editor = m_makeEditor();
    m_editor->SetDonateVisible(actDonate->isVisible() && !m_context.ini.Read(Settings::HideDonate));
    if (m_wakeCheck)
        m_editor->SetWakeStatus(m_wakeCheck->Status());
    return m_editor;
}

bool TMainForm::editAlarm(AlarmRecord& alarm)
{
    TAlarmForm* form = Editor();
    if (!form)
        return false;
    // A stay-on-top main window would cover its own modal editor. Only the window changes, never the
    // stored option: a crash while the editor is open must not leave stay-on-top switched off.
    const bool onTop = windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (onTop)
        applyStayOnTop(false);
    const bool accepted = form->Execute(alarm);
    if (onTop)
        applyStayOnTop(true);
    return accepted;
}

void TMainForm::saveAndRebuild()
{
    m_scheduler->SaveAndRebuild();
    UpdateCommandStates();
}

void TMainForm::selectAndSort(int row)
{
    QStringList alarms = m_scheduler->Alarms();
    SortAlarms(alarms, FirstWeekdayOffset(QLocale()), &row);
    m_scheduler->SetAlarms(alarms);
    m_model->Reset();
    setCurrentRow(row);
    saveAndRebuild();
}

void TMainForm::actAddExecute()
{
    if (m_editor && m_editor->isVisible())
        return;
    AlarmRecord alarm = NewAlarmRecord();
    if (!editAlarm(alarm))
        return;
    putAndSort(int(m_scheduler->Alarms().size()), alarm);
    showRingsInNotice(alarm);
}

void TMainForm::putAndSort(int row, const AlarmRecord& alarm)
{
    QStringList alarms = m_scheduler->Alarms();
    if (row >= alarms.size()) {
        alarms.append(BuildAlarmString(alarm));
        row = int(alarms.size()) - 1;
    } else {
        alarms[row] = BuildAlarmString(alarm);
    }
    // An edited alarm is one the user has seen to: it is no longer shown as missed.
    alarms[row] = WithoutMissedMark(alarms.at(row));
    m_scheduler->SetAlarms(alarms);
    selectAndSort(row);
}

void TMainForm::actEditExecute()
{
    const int row = currentRow();
    if (row < 0)
        return;
    dismissShownAlarm();
    AlarmRecord alarm = ParseAlarmString(m_scheduler->Alarms().at(row));
    if (!editAlarm(alarm))
        return;
    putAndSort(row, alarm);
    showRingsInNotice(alarm);
}

void TMainForm::actCloneExecute()
{
    const int row = currentRow();
    if (row < 0)
        return;
    AlarmRecord alarm = ParseAlarmString(m_scheduler->Alarms().at(row));
    alarm.Label += QStringLiteral(" - ") + Lang().GetText(Text::CloneSuffix);
    if (!editAlarm(alarm))
        return;
    putAndSort(int(m_scheduler->Alarms().size()), alarm);
    showRingsInNotice(alarm);
}

void TMainForm::actDeleteExecute()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const QString alarmString = m_scheduler->Alarms().at(row);
    const AlarmRecord alarm = ParseAlarmString(alarmString);
    const QString question = FormatText(Lang().GetText(Text::DeleteAlarmQuestion),
                                        {FormatShortTime(alarm.Time, QLocale()) + QStringLiteral(" - ") + alarm.Label});
    if (!AskYesNo(this, question))
        return;
    dismissShownAlarm();
    if (m_wakeup) {
        const AlarmRecord shown = ParseAlarmString(m_wakeup->ActiveAlarm());
        if (shown.Time == alarm.Time && shown.Label == alarm.Label && shown.Sound == alarm.Sound &&
            shown.ShowMessage == alarm.ShowMessage)
            m_wakeup->ResetSnooze();
    }
    QStringList alarms = m_scheduler->Alarms();
    alarms.removeAt(row);
    m_scheduler->SetAlarms(alarms);
    m_model->Reset();
    setCurrentRow(qMin(row, int(alarms.size()) - 1));
    saveAndRebuild();
}

void TMainForm::actEnableExecute()
{
    const int row = currentRow();
    if (row < 0)
        return;
    dismissShownAlarm();
    AlarmRecord alarm = ParseAlarmString(m_scheduler->Alarms().at(row));
    alarm.Enabled = !alarm.Enabled;
    alarm.Missed = false;
    QStringList alarms = m_scheduler->Alarms();
    alarms[row] = BuildAlarmString(alarm);
    m_scheduler->SetAlarms(alarms);
    m_model->RowChanged(row);
    saveAndRebuild();
}

bool TMainForm::SetAlarmEnabled(int row, bool enabled)
{
    if (row < 0 || row >= m_scheduler->Alarms().size())
        return false;
    dismissShownAlarm();
    AlarmRecord alarm = ParseAlarmString(m_scheduler->Alarms().at(row));
    alarm.Enabled = enabled;
    QStringList alarms = m_scheduler->Alarms();
    alarms[row] = BuildAlarmString(alarm);
    m_scheduler->SetAlarms(alarms);
    m_model->RowChanged(row);
    saveAndRebuild();
    return true;
}

void TMainForm::updateSkipCommands()
{
    const TMgLang& lang = Lang();
    const LocalDateTime now = m_scheduler->WallNow();
    const QStringList& alarms = m_scheduler->Alarms();
    const auto show = [&](QAction* action, int row) {
        const AlarmRecord alarm = row >= 0 && row < alarms.size() ? ParseAlarmString(alarms.at(row)) : AlarmRecord();
        const std::optional<LocalDateTime> target =
            row >= 0 && row < alarms.size() ? SkipTarget(alarm, now) : std::nullopt;
        action->setEnabled(target.has_value());
        if (!target) {
            action->setText(lang.GetText(Text::SkipNextNone));
        } else {
            const QString occurrence = SkipOccurrenceText(*target, QLocale());
            action->setText(
                FormatText(lang.GetText(SkipPending(alarm, now) ? Text::DontSkip : Text::SkipNext), {occurrence}));
        }
        action->setToolTip(action->text());
    };
    show(actSkipNext, currentRow());
    show(actSkipNextTray, NextSkippableAlarm(alarms, now));
}

void TMainForm::toggleSkip(int row)
{
    if (row < 0 || row >= m_scheduler->Alarms().size())
        return;
    const AlarmRecord alarm = ParseAlarmString(m_scheduler->Alarms().at(row));
    const AlarmRecord toggled = ToggleSkip(alarm, m_scheduler->WallNow());
    if (toggled == alarm)
        return;
    WriteLog(QStringLiteral("Skip of %1 %2")
                 .arg(FormatShortTime(alarm.Time, QLocale()), toggled.SkipDate.isValid()
                                                                  ? toggled.SkipDate.toString(Qt::ISODate)
                                                                  : QStringLiteral("taken back")));
    QStringList alarms = m_scheduler->Alarms();
    alarms[row] = BuildAlarmString(toggled);
    m_scheduler->SetAlarms(alarms);
    m_model->RowChanged(row);
    saveAndRebuild();
}

void TMainForm::actSkipNextExecute()
{
    toggleSkip(currentRow());
}

void TMainForm::actSkipNextTrayExecute()
{
    toggleSkip(NextSkippableAlarm(m_scheduler->Alarms(), m_scheduler->WallNow()));
}

void TMainForm::dismissShownAlarm()
{
    if (m_wakeup && m_wakeup->isVisible())
        m_wakeup->DismissAlarm();
}

void TMainForm::actTestWakeupExecute()
{
    if (m_wakeCheck)
        m_wakeCheck->RunTest(this);
}

void TMainForm::applyWakeStatus()
{
    if (!m_wakeCheck)
        return;
    const std::optional<WakeStatus>& status = m_wakeCheck->Status();
    if (m_editor)
        m_editor->SetWakeStatus(status);
    const QString note =
        status && status->works == WakeAbility::No ? m_context.lang.GetText(Text::WakeListMark) : QString();
    if (lbAlarmView)
        lbAlarmView->SetWakeMark(note);
    m_model->SetWakeNote(note);
}

void TMainForm::actAutostartExecute()
{
    const std::string exe = m_context.exePath.toStdString();
    if (m_context.platform.AutostartEnabled(exe))
        m_context.platform.DisableAutostart();
    else
        m_context.platform.EnableAutostart(exe);
    actAutostart->setChecked(m_context.platform.AutostartEnabled(exe));
}

void TMainForm::actCancelSnoozeExecute()
{
    if (m_wakeup)
        m_wakeup->ResetSnooze();
}

void TMainForm::openWebPage(const QString& page)
{
    if (!m_context.website.isEmpty())
        QDesktopServices::openUrl(QUrl(JoinPath(m_context.website, page)));
}

void TMainForm::openHelp()
{
    if (!m_context.website.isEmpty())
        openHelpUrl(QUrl(JoinPath(m_context.website, QStringLiteral("alarmclock.html"))),
                    localHelpPath(QStringLiteral("index.html")));
    else
        OpenHelpPage(QStringLiteral("index.html"));
}

void TMainForm::OpenHelpPage(const QString& page)
{
    const QString local = localHelpPath(page);
    if (!m_context.website.isEmpty()) {
        openHelpUrl(QUrl(JoinPath(m_context.website, page)), local);
        return;
    }
    if (local.isEmpty()) {
        ShowWarningNonModal(QStringLiteral("The help pages are not installed beside the program."));
        return;
    }
    openHelpUrl(QUrl::fromLocalFile(local), local);
}

QString TMainForm::localHelpPath(const QString& page) const
{
    const QStringList folders = {JoinPath(m_context.folders.exeFolder, QStringLiteral("help")),
                                 JoinPath(m_context.folders.exeFolder, QStringLiteral("../share/larkbell/help"))};
    for (const QString& folder : folders) {
        const QString path = QDir::cleanPath(JoinPath(folder, page));
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

void TMainForm::openHelpUrl(const QUrl& url, const QString& helpPath)
{
    // The answer may come after the opener has run a while: the message must not wait, nor need the window.
    openUrlWatched(url, [url, helpPath] {
        WriteLog(QStringLiteral("No browser opened ") + url.toString());
        if (helpPath.isEmpty())
            ShowWarningNonModal(QStringLiteral("No browser could open %1").arg(url.toString()));
        else
            ShowWarningNonModal(QStringLiteral("No browser could open the help. It is in this file:\n\n") +
                                QDir::toNativeSeparators(helpPath));
    });
}

// ---- backups ----

QString TMainForm::backupFilter() const
{
    return Lang().GetText(Text::Backups) + QStringLiteral(" (*.alm);;") + Lang().GetText(Text::AllFilesBackup) +
           QStringLiteral(" (*)");
}

void TMainForm::miSaveClick()
{
    const QString chosen = QFileDialog::getSaveFileName(this, QString(), m_backupFolder, backupFilter());
    if (!chosen.isEmpty())
        SaveBackupTo(BackupFileNameWithExtension(chosen));
}

void TMainForm::SaveBackupTo(const QString& path)
{
    const QString error = WriteBackupFile(path, m_scheduler->Alarms());
    if (!error.isEmpty()) {
        ShowError(this, error);
        return;
    }
    m_backupFolder = QFileInfo(path).absolutePath();
}

void TMainForm::miLoadClick()
{
    const QString chosen = QFileDialog::getOpenFileName(this, QString(), m_backupFolder, backupFilter());
    if (!chosen.isEmpty() && QFileInfo::exists(chosen))
        LoadBackupFrom(chosen);
}

void TMainForm::LoadBackupFrom(const QString& path)
{
    const BackupReadResult loaded = ReadBackupFile(path);
    if (!loaded.error.isEmpty()) {
        ShowError(this, loaded.error);
        return;
    }
    QStringList alarms = loaded.alarms;
    if (!confirmLoad(path, alarms))
        return;
    m_scheduler->SetAlarms(alarms);
    m_model->Reset();
    setCurrentRow(alarms.isEmpty() ? -1 : 0);
    m_backupFolder = QFileInfo(path).absolutePath();
    // Saved at once: the list the user chose survives a crash before the next change or the exit.
    saveAndRebuild();
}

bool TMainForm::confirmLoad(const QString& path, QStringList& alarms)
{
    const QList<int> programs = AlarmsStartingPrograms(alarms, m_context.folders.soundsFolder);
    QString text = QStringLiteral("Replace the %1 alarm(s) in the list with the %2 alarm(s) of \"%3\"? The alarms "
                                  "in the list now are lost.")
                       .arg(m_scheduler->Alarms().size())
                       .arg(alarms.size())
                       .arg(QDir::toNativeSeparators(path));
    if (!programs.isEmpty()) {
        // A backup can come from anyone: what it would run at alarm time is shown before it is taken over.
        constexpr int kListedPrograms = 10;
        text += QStringLiteral("\n\nThese alarms do not play a sound but start a program or open a file or web "
                               "page when they ring:\n");
        for (int i = 0; i < int(programs.size()) && i < kListedPrograms; ++i) {
            const QString& alarm = alarms.at(programs.at(i));
            text += QStringLiteral("\n") + describeAlarm(alarm) + QStringLiteral(": ") + AlarmField::Sound(alarm);
        }
        if (programs.size() > kListedPrograms)
            text += QStringLiteral("\n... and %1 more").arg(programs.size() - kListedPrograms);
        text += QStringLiteral("\n\nKeep them only if you know what they do. Otherwise these alarms ring with "
                               "the sound %1.")
                    .arg(BackupSafeSound());
    }
    QMessageBox box(programs.isEmpty() ? QMessageBox::Question : QMessageBox::Warning, QStringLiteral("Larkbell"), text,
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("loadQuestion"));
    QPushButton* keep = nullptr;
    QPushButton* safe = nullptr;
    if (programs.isEmpty()) {
        keep = box.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
    } else {
        safe = box.addButton(QStringLiteral("Replace, ring with %1").arg(BackupSafeSound()), QMessageBox::AcceptRole);
        keep = box.addButton(QStringLiteral("Replace, keep the programs"), QMessageBox::DestructiveRole);
    }
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == safe && safe) {
        alarms = ReplaceSounds(alarms, programs, BackupSafeSound());
        return true;
    }
    return box.clickedButton() == keep;
}

void TMainForm::buildMissedLimitMenu(QMenu* options)
{
    miMissedLimit = options->addMenu(Text::MissedLimitMenu.English());
    miMissedLimit->setObjectName(QStringLiteral("miMissedLimit"));
    auto* group = new QActionGroup(this);
    const int limit = MissedLimitFromSetting(m_context.ini.Read(Settings::MissedAlarmLimit));
    for (int minutes : kMissedLimitChoices) {
        QAction* item = miMissedLimit->addAction(QString());
        item->setObjectName(QStringLiteral("miMissedLimit%1").arg(minutes));
        item->setCheckable(true);
        item->setData(minutes);
        item->setChecked(minutes == limit);
        group->addAction(item);
        connect(item, &QAction::triggered, this, [this, minutes] {
            m_context.ini.Write(Settings::MissedAlarmLimit, minutes);
            emit missedLimitChanged(minutes);
        });
    }
}

void TMainForm::applyMissedTexts()
{
    const TMgLang& lang = Lang();
    miMissedLimit->setTitle(lang.GetText(Text::MissedLimitMenu));
    for (QAction* item : miMissedLimit->actions()) {
        const int minutes = item->data().toInt();
        item->setText(minutes == 0 ? lang.GetText(Text::MissedLimitOff)
                                   : FormatText(lang.GetText(Text::MissedLimitMinutes), {QString::number(minutes)}));
    }
    if (lbAlarmView) {
        m_missedBar->ApplyLanguage(lang);
        lbAlarmView->SetMissedMark(lang.GetText(Text::MissedMark));
    }
}

void TMainForm::SetMissedAlarms(MissedAlarmWatch* watch)
{
    m_missed = watch;
    if (!m_missed)
        return;
    connect(m_missed, &MissedAlarmWatch::unacknowledgedChanged, this, [this] {
        if (m_missedBar)
            m_missedBar->SetEntries(m_missed->Unacknowledged());
    });
    // A catch-up switches missed one-time alarms off and marks them.
    connect(m_missed, &MissedAlarmWatch::alarmsChanged, this, [this] {
        const int row = currentRow();
        m_model->Reset();
        setCurrentRow(row);
    });
    if (m_missedBar) {
        connect(m_missedBar, &TMissedAlarmsBar::acknowledged, m_missed, &MissedAlarmWatch::Acknowledge);
        m_missedBar->SetEntries(m_missed->Unacknowledged());
    }
}

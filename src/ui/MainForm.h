#pragma once

#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/app/CommandLine.h"
#include "platform/Platform.h"
#include "ui/MgForm.h"

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>

class AlarmListModel;
class MissedAlarmWatch;
class QActionGroup;
class QFileDialog;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TAlarmForm;
class TAlarmListView;
class TAppIni;
class TFloatingForm;
class TMissedAlarmsBar;
class TWakeupForm;
class WakeCheck;
struct AppFolders;

/** The services the main window is built on, made by the program's owner in the start-up order. */
struct MainFormContext {
    TAppIni& ini;
    TMgLang& lang;
    Platform& platform;
    AlarmScheduler& scheduler;
    DesktopNotifications* notifications; // nullptr where the tray balloon is the only way
    const AppFolders& folders;
    QString exePath;
    CommandLine commandLine;
    QString website; // base address of the product web site; empty hides the web commands
    std::function<int()> systemVolume = [] { return 100; };         // percent; a new alarm starts at it
    std::function<bool()> wakeTimersAllowed = [] { return false; }; // as found at start, without asking again
};

/**
 * The main window: the alarm list, the commands, menus and toolbar, the next-alarms panel and the tray
 * icon. It edits the alarm list through the scheduler it is given. Closing it only hides it in the tray;
 * where no tray exists it minimizes instead, so the program never becomes unreachable. Exit is asked of
 * the program's owner (exitRequested), which saves through SaveOptions.
 */
class TMainForm final : public QMainWindow, public TMgForm
{
    Q_OBJECT

public:
    explicit TMainForm(MainFormContext context);
    ~TMainForm() override;

    /** The windows made after this one. */
    /** The editor is made on first use: a program hidden in the tray holds no editor window. */
    void SetForms(std::function<TAlarmForm*()> makeEditor, TWakeupForm* wakeup);
    /** The missed alarms the bar above the list shows and acknowledges; set before PostCreate. */
    void SetMissedAlarms(MissedAlarmWatch* watch);
    /** The window's contents are made when it first shows, or on first use of one of these. */
    TMissedAlarmsBar* MissedBar();
    /** The start-up steps after every window exists. */
    void PostCreate();

    /** Writes the window's options and placement and the floating clock's (at exit). */
    void SaveOptions();
    /** Shows and raises the window in the state it was left in; a minimized one comes back as before. */
    void OpenWindow();
    /**
     * Opens a page of the help: the web site's when one is configured, else the bundled one. When no
     * browser takes it, a message that does not wait says where the bundled page is.
     */
    void OpenHelpPage(const QString& page);
    bool TrayAvailable() const;

    AlarmScheduler& Scheduler() { return *m_scheduler; }
    TAlarmListView* AlarmView();
    /** The editor, made on first use. */
    TAlarmForm* Editor();
    /** Made on first use: a program hidden in the tray holds no clock window. */
    TFloatingForm* FloatingForm();
    /** Blinks the floating clock while an alarm rings, also one that is made during the ring. */
    void HighlightFloatingClock(bool on);
    QSystemTrayIcon* Tray() const { return trayMain; }
    /** Normal tray icon: 0 when alarms are scheduled, 1 when none. */
    int NormalTrayIcon() const { return m_scheduler->Schedule().trayIconIndex; }
    void SetTrayIcon(int index);
    void ShowBalloon(const QString& title, const QString& text, int ms);
    /** A ringing alarm's notification: stays until answered, with Snooze (when snooze) and Dismiss on it. */
    void ShowAlarmBalloon(const QString& title, const QString& text, int ms, bool snooze);
    void CancelBalloon();
    /** The desktop notification was clicked or closed by the user: answered like a clicked balloon. */
    void BalloonAnswered();
    /** Shows the text as a tray balloon, as when the desktop refused its notification. */
    void ShowTrayBalloon(const QString& title, const QString& text, int ms);
    /** Cancel Snooze is offered while a snoozed alarm waits; the hints say until when it waits. */
    void ShowCancelSnooze(bool visible);
    /** While snoozed: the instant the snoozed alarm rings again; invalid when nothing is snoozed. */
    QDateTime SnoozedUntil() const { return m_snoozedUntil; }
    /** Test seam: when the hidden tray's hint is refreshed next, in milliseconds; -1 when not. */
    int TimeLeftRefreshMs() const { return tmrTimeLeft.isActive() ? tmrTimeLeft.interval() : -1; }
    /** How long a shown clock or a hidden tray counts the time left to the next alarm in, in minutes. */
    static constexpr int kTimeLeftStepShownMinutes = 1;
    static constexpr int kTimeLeftStepHiddenMinutes = 10;
    /** How long the note of when an edited alarm rings stays in the window. */
    static constexpr int kRingsInNoticeMs = 6000;
    /** The donate command: hides the editor's donate button for good and opens the page. */
    void Donate();

    /** Test seam: what the working alarm record looks like before the editor opens. */
    AlarmRecord NewAlarmRecord() const;

    // Commands.
    void actAddExecute();
    void actEditExecute();
    void actDeleteExecute();
    void actCloneExecute();
    void actEnableExecute();
    /** Skips the selected repeating alarm's next occurrence, or takes a pending skip back. */
    void actSkipNextExecute();
    /** As actSkipNextExecute, for the repeating alarm that falls due first (NextSkippableAlarm). */
    void actSkipNextTrayExecute();
    /** Switches the alarm at row on or off as its check box does; false for a row the list does not have. */
    bool SetAlarmEnabled(int row, bool enabled);
    void actExitExecute() { emit exitRequested(); }
    void actAutostartExecute();
    /** Options > Test wake-up: after the user agrees, a real sleep with a wake-up a minute later. */
    void actTestWakeupExecute();
    /** Whether alarms can wake this computer, found once after start; nullptr before PostCreate. */
    WakeCheck* WakeChecker() const { return m_wakeCheck.get(); }
    void actCancelSnoozeExecute();
    void miSaveClick();
    void miLoadClick();
    void SaveBackupTo(const QString& path);
    /** Reads the backup, asks before it replaces the list (and before it takes over programs), then saves. */
    void LoadBackupFrom(const QString& path);
    void UpdateCommandStates();

signals:
    /** The user chose Exit. */
    void exitRequested();
    /** The play-duration menu changed: 0 until closed, 1..5 for 1, 5, 10, 30, 60 minutes. */
    void playDurationChanged(int value);
    /** The user chose how late a missed alarm may still ring, in minutes (0: never). */
    void missedLimitChanged(int minutes);

protected:
    void DoLanguageChanged() override;
    void closeEvent(QCloseEvent* event) override;
    void setVisible(bool visible) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Named as the windows' designer named them; tests find them by these names.
    QAction* actAdd;
    QAction* actEdit;
    QAction* actDelete;
    QAction* actClone;
    QAction* actWWW;
    QAction* actExit;
    QAction* actEnable;
    QAction* actHelp;
    QAction* actAutostart;
    QAction* actTestWakeup = nullptr;
    QAction* actDonate;
    QAction* actCockcrow;
    QAction* actCancelSnooze;
    QAction* actSkipNext;     // the selected alarm
    QAction* actSkipNextTray; // the repeating alarm that falls due first
    QAction* miSnoozeSepr;
    QAction* miSingleLine;
    QAction* miStayOnTop;
    QAction* miShowFloatingWindow;
    QAction* pmitOpen;
    QMenu* miSnooze;
    QMenu* miPlaySoundDuration;
    QMenu* miLanguage;
    QMenu* pmMain;
    QMenu* pmTray;
    /** Made with the menu bar when the window is first shown: both load style images a tray clock never shows. */
    QToolBar* tbrMain = nullptr;
    TAlarmListView* lbAlarmView = nullptr;
    QLabel* lblNextAlarms = nullptr;
    QTreeWidget* tvNextAlarms = nullptr;
    QSystemTrayIcon* trayMain;
    QTimer tmrCaption;
    QTimer tmrLasySaveOptions;
    QTimer tmrAllowWakeTimers;
    QTimer tmrTimeLeft; // hidden in the tray: the next step of the tray hint's coarse time left
    QTimer tmrRingsInNotice;
    QLabel* lblRingsInNotice = nullptr;

    void createActions();
    void createMenus();
    QMenu* addBarMenu(const QString& title, const QString& name);
    void buildWindowChrome();
    void buildCentralWidget();
    void fillPanel();
    void applyListLocale();
    int currentRow() const;
    void setCurrentRow(int row);
    void createToolBar();
    void createCentralWidget();
    void createTray();
    void buildLanguageMenu();
    void buildSnoozeMenu();
    void buildMissedLimitMenu(QMenu* options);
    void applyMissedTexts();
    void applySettingChange();
    void applyLayout();
    void fitToText();
    bool floatingShown() const;
    /** Names and descriptions for screen readers and the menu bar's mnemonics, in the current language. */
    void applyAccessibleTexts();
    /** The line around the list, in the colours of the current palette. */
    void applyListFrame();

    void saveAndRebuild();
    /** The skip commands' captions for the selected alarm and the next one, as of now. */
    void updateSkipCommands();
    void toggleSkip(int row);
    void scheduleChanged();
    void selectAndSort(int row);
    /** Replaces the alarm at row, or appends it when row is the list's size, then sorts, saves and selects it. */
    void putAndSort(int row, const AlarmRecord& alarm);
    QString backupFilter() const;
    /** Asks whether the loaded alarms replace the list; alarms that would start programs may lose them. */
    bool confirmLoad(const QString& path, QStringList& alarms);
    bool editAlarm(AlarmRecord& alarm);
    void dismissShownAlarm();
    void setStayOnTop(bool on);
    /** The window's style alone; the option and its menu check stay as they are. */
    void applyStayOnTop(bool on);
    void tmrCaptionTimer();
    /**
     * The time left to the next alarm, or until when a snooze waits, in the tray hint, the panel's heading and
     * the floating clock's alarm button; a changed tray hint is logged when logChange.
     */
    void updateTimeLeft(bool logChange = false);
    /** After the editor's OK: when the alarm rings next, briefly, without a box to answer. */
    void showRingsInNotice(const AlarmRecord& alarm);
    void startCaptionClock();
    void updateCaptionClock();
    void showFloatingWindow(bool show);
    void editNextAlarm();
    void restartLazySave();
    void saveOptions();
    void tmrAllowWakeTimersTimer();
    /** The editor's wake text and the list's marks, from what the wake check found (or is finding). */
    void applyWakeStatus();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void balloonClicked();
    void openWebPage(const QString& page);
    void openHelp();
    /** The bundled help page's path, or empty when the help is not installed. */
    QString localHelpPath(const QString& page) const;
    /** Opens url in the browser; when that fails, says that the help is in helpPath. */
    void openHelpUrl(const QUrl& url, const QString& helpPath);

    MainFormContext m_context;
    AlarmScheduler* m_scheduler;
    std::unique_ptr<TFloatingForm> m_floating;
    bool m_floatingHighlight = false;
    std::unique_ptr<WakeCheck> m_wakeCheck;
    AlarmListModel* m_model;
    std::function<TAlarmForm*()> m_makeEditor;
    QList<QMenu*> m_barMenus;
    TAlarmForm* m_editor = nullptr;
    TWakeupForm* m_wakeup = nullptr;
    QActionGroup* m_snoozeGroup;
    QActionGroup* m_durationGroup;
    QMenu* miMissedLimit = nullptr;
    TMissedAlarmsBar* m_missedBar = nullptr;
    int m_currentRow = -1; // the list's current row while the list is not made yet
    MissedAlarmWatch* m_missed = nullptr;
    QActionGroup* m_languageGroup;
    int m_trayIcon = -1;
    int m_allowWakeStep = 0;
    QString m_backupFolder;
    QString m_lastTooltip;
    QDateTime m_snoozedUntil;
};

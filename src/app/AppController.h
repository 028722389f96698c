#pragma once

#include "app/ExitDeadline.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/app/AppFolders.h"
#include "core/app/CommandLine.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class BusService;
class ClockWatch;
class MissedAlarmWatch;
struct NotificationStyle;
class RingingGuards;
class DesktopNotifications;
class ISoundOutput;
class IVolumeEndpoint;
class IVolumeMixer;
class ExitRequestWatch;
class InstanceChannel;
class Platform;
class SoundPlayer;
class TAlarmForm;
class TAppIni;
class TMainForm;
class TMgLang;
class TTimerThread;
class TVolumeSetForm;
class TWakeupForm;

/** What the program runs on: the system's services, or a test's fakes and folders. */
struct AppEnvironment {
    std::function<std::unique_ptr<Platform>()> createPlatform;
    std::function<std::unique_ptr<ISoundOutput>()> createSoundOutput;
    std::function<std::unique_ptr<IVolumeEndpoint>()> createVolumeEndpoint;
    std::function<std::unique_ptr<IVolumeMixer>()> createVolumeMixer;
    std::optional<AppFolders> folders;   // nothing: beside the executable, else the user's folders
    std::optional<int> languageId;       // nothing: the system's user interface language
    std::optional<SchedulerClock> clock; // nothing: the program's clock
    bool busService = false;             // offer the remote control on the session bus
    // Media players paused and sleep held while an alarm rings; empty: both left alone.
    std::function<std::unique_ptr<RingingGuards>()> createRingingGuards;

    static AppEnvironment System();
};

/**
 * Owns the program's life: the settings store, the language, the platform services, the instance
 * channel, the sound player and volume, the timers and the scheduler, the desktop notifications and the windows.
 * It runs the start-up order and the exit sequence. Windows show state and pass the user's commands
 * here; none of them decides when the program ends, and ending never waits for a window to agree.
 */
class AppController final : public QObject
{
    Q_OBJECT

public:
    /** How long the exit sequence may take before the process is ended regardless. */
    static constexpr int kExitDeadlineMs = 2000;
    /** A new alarm's volume while the system's is not known yet. */
    static constexpr int kUnknownVolumePercent = 50;
    /** Longest wait at exit for the sound server to take the restored volume. */
    static constexpr int kVolumeFlushMs = 500;
    /** Lines of missed alarms the notification lists before it counts the rest. */
    static constexpr int kMissedNoticeLines = 5;
    static constexpr int kMissedNoticeMs = 60000;
    static constexpr int kMissedNoticeTries = 10;
    static constexpr int kMissedNoticeRetryMs = 300;

    AppController(CommandLine commandLine, QString exePath, AppEnvironment environment = AppEnvironment::System(),
                  QObject* parent = nullptr);
    ~AppController() override;

    /** The start-up steps; an exit code when the program must end now, nothing to run the event loop. */
    std::optional<int> Start();
    /**
     * Dismisses a ringing alarm, saves the list and the options, restores the volume, releases the
     * instance and ends the event loop with 0. Runs once and always to its end: there is no state in
     * which the program is exiting but goes on running.
     */
    void Exit();
    bool Exiting() const { return m_exiting; }

    TMainForm* MainForm() const { return m_mainForm.get(); }
    /** The editor, made on first use. */
    TAlarmForm* AlarmForm();
    TWakeupForm* WakeupForm() const { return m_wakeupForm.get(); }
    AlarmScheduler* Scheduler() const { return m_scheduler.get(); }
    MissedAlarmWatch* MissedAlarms() const { return m_missed.get(); }
    SoundPlayer* Player() const { return m_player.get(); }
    TAppIni* Ini() const { return m_ini.get(); }
    TMgLang* Lang() const { return m_lang.get(); }

signals:
    /** The exit sequence has run; the event loop ends next. */
    void exited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool claimInstance();
    bool createServices();
    void createWindows();
    void watchExitRequests();
    TAlarmForm* makeAlarmForm();
    void watchRinging();
    void onInstanceMessage(int message);
    void onNotificationAction(const std::string& key);
    void reportWriteFailure(const QString& message);
    void saveEverything();
    /** The one desktop notification that lists alarms found missed; the main window lists them too. */
    void notifyMissedAlarms(const QStringList& entries);
    void showMissedNotice(const QString& title, const QString& text, const NotificationStyle& style, int triesLeft);

    // Destroyed last: it must outlive everything the exit sequence could hang in.
    ExitDeadline m_exitDeadline;
    CommandLine m_commandLine;
    QString m_exePath;
    AppEnvironment m_environment;
    AppFolders m_folders;
    std::unique_ptr<TMgLang> m_lang;
    std::unique_ptr<TAppIni> m_ini;
    std::unique_ptr<Platform> m_platform;
    std::unique_ptr<InstanceChannel> m_instance;
    std::unique_ptr<TVolumeSetForm> m_volume;
    std::unique_ptr<SoundPlayer> m_player;
    std::unique_ptr<TTimerThread> m_timers;
    std::unique_ptr<AlarmScheduler> m_scheduler;
    std::unique_ptr<MissedAlarmWatch> m_missed;
    std::unique_ptr<ClockWatch> m_clockWatch;
    std::unique_ptr<DesktopNotifications> m_notifications;
    std::unique_ptr<TMainForm> m_mainForm;
    std::unique_ptr<TAlarmForm> m_alarmForm;
    std::unique_ptr<TWakeupForm> m_wakeupForm;
    std::unique_ptr<ExitRequestWatch> m_exitRequests;
    std::unique_ptr<RingingGuards> m_ringingGuards;
    std::unique_ptr<BusService> m_bus;
    bool m_exiting = false;
    bool m_writeFailureShown = false;
};

#include "app/AppController.h"

#include "app/BusService.h"
#include "app/TimerThread.h"
#include "audio/FallbackOutput.h"
#include "audio/SoundOutput.h"
#include "audio/SoundPlayer.h"
#include "audio/VolumeSetForm.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/alarms/AppClock.h"
#include "core/alarms/MissedAlarmWatch.h"
#include "core/app/AppIni.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLanguages.h"
#include "platform/Platform.h"
#include "platform/RingingGuards.h"
#include "platform/VolumeBackends.h"
#include "ui/AlarmForm.h"
#include "ui/FloatingForm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QDesktopServices>
#include <QSessionManager>
#include <QUrl>

#include <algorithm>

namespace {

// Unmutes, then sets: an alarm that asks for a volume must be heard even on a muted system.
void setAudibleVolume(TVolumeSetForm& volume, int percent)
{
    volume.SetMute(false);
    volume.SetVolume(unsigned(qBound(0, percent, 100)));
}

WakeupHooks wakeupHooks(TMainForm& mainForm, Platform& platform, SoundPlayer& player, TVolumeSetForm& volume)
{
    WakeupHooks hooks;
    hooks.playSound = [&player](const QString& sound, bool loop, int rampSeconds) {
        player.PlaySound(sound, loop, true, false, SoundPlayer::Fallback::BuiltInSound, rampSeconds);
        player.StartStopSoundTimer();
        WriteLog(QStringLiteral("Sound \"%1\": %2, error code %3")
                     .arg(sound, player.IsPlaying() ? player.CurrentFile() : QStringLiteral("not playing"))
                     .arg(player.LastError()));
    };
    hooks.stopSound = [&player] { player.StopSound(); };
    hooks.saveSystemVolume = [&player] { player.SaveSystemVolume(); };
    hooks.setSystemVolume = [&volume](int percent) { setAudibleVolume(volume, percent); };
    hooks.highlightFloatingClock = [&mainForm](bool on) { mainForm.HighlightFloatingClock(on); };
    hooks.setTrayIcon = [&mainForm](int index) { mainForm.SetTrayIcon(index); };
    hooks.normalTrayIcon = [&mainForm] { return mainForm.NormalTrayIcon(); };
    hooks.showBalloon = [&mainForm](const QString& title, const QString& text, int ms) {
        mainForm.ShowBalloon(title, text, ms);
    };
    hooks.cancelBalloon = [&mainForm] { mainForm.CancelBalloon(); };
    hooks.showAlarmNotification = [&mainForm](const QString& title, const QString& text, int ms, bool snooze) {
        mainForm.ShowAlarmBalloon(title, text, ms, snooze);
    };
    hooks.monitorOn = [&platform] { platform.MonitorOn(); };
    hooks.showCancelSnooze = [&mainForm](bool visible) { mainForm.ShowCancelSnooze(visible); };
    return hooks;
}

AlarmFormHooks alarmFormHooks(TMainForm& mainForm, const TTimerThread& timers, SoundPlayer& player,
                              TVolumeSetForm& volume, const QString& soundsFolder)
{
    AlarmFormHooks hooks;
    hooks.playSound = [&player](const QString& sound, bool loop, bool allowPrograms, bool showErrors, int rampSeconds) {
        player.PlaySound(sound, loop, allowPrograms, showErrors, SoundPlayer::Fallback::None, rampSeconds);
    };
    hooks.stopSound = [&player] { player.StopSound(); };
    hooks.isPlaying = [&player] { return player.IsPlaying(); };
    hooks.saveSystemVolume = [&player] { player.SaveSystemVolume(); };
    hooks.setSystemVolume = [&volume](int percent) { setAudibleVolume(volume, percent); };
    // The path the wake timer found when it was made: asking again could wait on the power daemon.
    hooks.wakeTimersAvailable = [&timers] { return timers.Path() != WakePath::None; };
    hooks.donate = [&mainForm] { mainForm.Donate(); };
    hooks.openLink = [&mainForm](const QString& page) { mainForm.OpenHelpPage(page); };
    hooks.soundsFolder = soundsFolder;
    return hooks;
}

SoundPlayerHooks soundPlayerHooks(const std::unique_ptr<TWakeupForm>& wakeup, const std::unique_ptr<TAlarmForm>& editor)
{
    SoundPlayerHooks hooks;
    // Never a box that waits for an answer: the sound is reported while an alarm rings or at start-up,
    // and the timers must stay armed and the alarm window answerable meanwhile.
    hooks.showWarning = [](const QString& text) { ShowWarningNonModal(text); };
    hooks.dismissAlarmIfHidden = [&wakeup] {
        if (wakeup && !wakeup->ShownOrComing())
            wakeup->DismissAlarm();
    };
    hooks.previewStateChanged = [&editor](bool playing) {
        if (editor)
            editor->SetPreviewState(playing);
    };
    hooks.openDocument = [](const QString& path) {
        return QDesktopServices::openUrl(path.contains(QStringLiteral("://")) ? QUrl(path) : QUrl::fromLocalFile(path));
    };
    hooks.alarmSoundFailed = [&wakeup](int error) {
        if (wakeup)
            wakeup->ShowSoundFailure(error);
    };
    return hooks;
}

} // namespace

AppEnvironment AppEnvironment::System()
{
    AppEnvironment environment;
    environment.createPlatform = [] { return CreatePlatform(); };
    // Without a sound server an alarm still rings: straight through the sound device.
    environment.createSoundOutput = [] { return WithFallback(CreateSoundOutput(), CreateFallbackSoundOutput()); };
    environment.createRingingGuards = [] {
        return std::make_unique<RingingGuards>(CreateMediaPause(), CreateSleepInhibitor());
    };
    environment.createVolumeEndpoint = [] { return CreateSystemVolumeEndpoint(); };
    environment.createVolumeMixer = [] { return CreateSystemVolumeMixer(); };
    environment.busService = true;
    return environment;
}

AppController::AppController(CommandLine commandLine, QString exePath, AppEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_commandLine(std::move(commandLine))
    , m_exePath(std::move(exePath))
    , m_environment(std::move(environment))
{}

AppController::~AppController()
{
    // The windows go first: their destructors may still call into the player and the scheduler.
    m_bus.reset();
    m_exitRequests.reset();
    m_wakeupForm.reset();
    m_alarmForm.reset();
    m_mainForm.reset();
    if (m_timers)
        m_timers->Stop();
    if (m_player) {
        m_player->StopSound();
        m_player->FreeAudio();
    }
}

std::optional<int> AppController::Start()
{
    m_folders = m_environment.folders.value_or(AppFolders::Resolve(QCoreApplication::applicationDirPath()));
    SetLogFolder(m_folders.dataFolder);
    m_lang = std::make_unique<TMgLang>(m_folders.langsFolder, m_environment.languageId.value_or(SystemUiLanguageId()));
    m_ini = std::make_unique<TAppIni>(m_folders.exeFolder, m_folders.soundsFolder);
    m_ini->SetFileName(m_folders.dataFolder + QStringLiteral("Data.ini"));
    m_ini->SetWriteFailureHandler([this](const QString& message) { reportWriteFailure(message); });
    m_platform = m_environment.createPlatform();
    // The autostart entry goes before anything else can fail.
    if (m_commandLine.uninstall)
        m_platform->DisableAutostart();
    if (!claimInstance())
        return 0;
    if (!createServices()) {
        ShowError(nullptr, m_lang->GetText(Text::TimerNotCreated));
        return 1;
    }
    createWindows();
    // The alarms are armed before anything can wait for the user: PostCreate only reports, never asks.
    m_mainForm->PostCreate();
    m_missed->CatchUpAtStart();
    watchExitRequests();
    if (m_environment.busService) {
        m_bus = std::make_unique<BusService>(*m_scheduler, *m_wakeupForm, *m_mainForm,
                                             m_environment.clock.value_or(SchedulerClock{}).offsetAt);
        m_bus->Start();
    }
    if (!m_commandLine.autorun)
        m_mainForm->OpenWindow();
    return std::nullopt;
}

bool AppController::claimInstance()
{
    m_instance =
        m_platform->ClaimInstance(m_exePath.toStdString(), [this](int message) { onInstanceMessage(message); });
    if (!m_instance) {
        m_platform->SendToInstance(m_exePath.toStdString(), InstanceMessage::Show, InstanceMessage::Param1,
                                   InstanceMessage::Param2);
        return false;
    }
    // Only the copy that keeps running may start a new log: a second start must not erase the first's.
    StartLogFile();
    WriteLog(QStringLiteral("Start: ") + QCoreApplication::arguments().mid(1).join(u' '));
    if (const std::string problem = m_instance->GuardProblem(); !problem.empty())
        WriteLog(QStringLiteral("Single instance off: ") + QString::fromStdString(problem));
    AppClock::Program().LogOffset();
    return true;
}

bool AppController::createServices()
{
    // The volume object and the sound player come first: every window's alarm path needs them.
    m_volume =
        std::make_unique<TVolumeSetForm>(m_environment.createVolumeEndpoint(), m_environment.createVolumeMixer());
    m_player = std::make_unique<SoundPlayer>(m_environment.createSoundOutput(), m_volume.get(), m_folders.soundsFolder,
                                             soundPlayerHooks(m_wakeupForm, m_alarmForm));
    m_player->InitAudio();
    m_player->SetPlayDuration(m_ini->Read(Settings::PlaySoundDuration));

    // A firing long after its time (the computer slept through it) is the missed-alarm watch's to judge.
    m_timers = TTimerThread::Create(*m_platform, [this] {
        if (!m_missed || !m_missed->HandleLateFiring())
            m_scheduler->FireDueAlarm();
    });
    if (!m_timers)
        return false;
    m_scheduler = std::make_unique<AlarmScheduler>(*m_ini, *m_timers, m_environment.clock.value_or(SchedulerClock{}));
    m_missed = std::make_unique<MissedAlarmWatch>(*m_ini, *m_scheduler, m_environment.clock.value_or(SchedulerClock{}));
    // Also reported after a resume: a snooze whose end the computer slept through is judged at once.
    m_clockWatch = m_platform->WatchClock([this](ClockChange) {
        m_scheduler->ClockChanged();
        if (m_wakeupForm)
            m_wakeupForm->CheckSnoozeClock();
    });
    // The next alarm's sound waits prepared, so that its due second has only to start it. Queued: at a
    // firing the schedule moves on before the due alarm's sound starts, and that start must find the
    // stream prepared for it still there.
    connect(
        m_scheduler.get(), &AlarmScheduler::scheduleChanged, m_player.get(),
        [this] {
            const ScheduleResult& schedule = m_scheduler->Schedule();
            m_player->PrepareForAlarm(
                m_scheduler->Alarms().value(schedule.dueIndexes.value(0, schedule.nextAlarmIndex)));
        },
        Qt::QueuedConnection);
    // Made before the main window, so its events reach the window through here once it exists.
    const auto answered = [this] {
        if (m_mainForm)
            m_mainForm->BalloonAnswered();
    };
    const auto failed = [this](const std::string& title, const std::string& text, int timeoutMs) {
        if (m_mainForm)
            m_mainForm->ShowTrayBalloon(QString::fromStdString(title), QString::fromStdString(text), timeoutMs);
    };
    const auto action = [this](const std::string& key) { onNotificationAction(key); };
    m_notifications = m_platform->CreateNotifications({answered, answered, failed, action});
    return true;
}

void AppController::createWindows()
{
    MainFormContext context{*m_ini,
                            *m_lang,
                            *m_platform,
                            *m_scheduler,
                            m_notifications.get(),
                            m_folders,
                            m_exePath,
                            m_commandLine,
                            QStringLiteral(LARKBELL_WEBSITE)};
    // A new alarm starts at the volume the user hears now. Until the sound server has answered the first
    // read that is unknown, and 0 would make the first-start alarm silent.
    context.wakeTimersAllowed = [this] { return m_timers->Path() != WakePath::None; };
    context.systemVolume = [this] { return m_volume->Ready() ? int(m_volume->GetVolume()) : kUnknownVolumePercent; };
    m_mainForm = CreateForm<TMainForm>(context);
    connect(m_mainForm.get(), &TMainForm::exitRequested, this, &AppController::Exit);
    connect(m_mainForm.get(), &TMainForm::playDurationChanged, m_player.get(), &SoundPlayer::SetPlayDuration);
    WakeupHooks ringHooks = wakeupHooks(*m_mainForm, *m_platform, *m_player, *m_volume);
    ringHooks.showCancelSnooze = [this, shown = std::move(ringHooks.showCancelSnooze)](bool visible) {
        shown(visible);
        // A snooze that ends without a ring (cancelled, its alarm deleted) lets the paused players go. The
        // command is hidden at every ring too, so that is told apart once the call that hid it is over.
        if (!visible && m_ringingGuards)
            QTimer::singleShot(0, this, [this] {
                if (m_ringingGuards && !m_wakeupForm->AlarmActive() && !m_wakeupForm->SnoozePending())
                    m_ringingGuards->SnoozeCancelled();
            });
    };
    m_wakeupForm = CreateForm<TWakeupForm>(*m_lang, std::move(ringHooks));
    m_mainForm->SetForms([this] { return makeAlarmForm(); }, m_wakeupForm.get());
    connect(m_scheduler.get(), &AlarmScheduler::alarmsDue, m_wakeupForm.get(), &TWakeupForm::ShowAlarms);
    m_wakeupForm->SetMissedLimit(m_missed->Limit());
    connect(m_mainForm.get(), &TMainForm::missedLimitChanged, m_wakeupForm.get(), &TWakeupForm::SetMissedLimit);
    connect(m_missed.get(), &MissedAlarmWatch::lateAlarmsDue, this,
            [this](const QStringList& alarms, const QList<LocalDateTime>& due) {
                QList<QTime> times;
                for (const LocalDateTime& at : due)
                    times.append(at.time);
                m_wakeupForm->ShowLateAlarms(alarms, times);
            });
    connect(m_missed.get(), &MissedAlarmWatch::alarmsMissed, this, &AppController::notifyMissedAlarms);
    m_mainForm->SetMissedAlarms(m_missed.get());
    watchRinging();
}

TAlarmForm* AppController::AlarmForm()
{
    return m_mainForm ? m_mainForm->Editor() : nullptr;
}

TAlarmForm* AppController::makeAlarmForm()
{
    m_alarmForm = CreateForm<TAlarmForm>(*m_lang, m_mainForm.get());
    AlarmFormHooks hooks = alarmFormHooks(*m_mainForm, *m_timers, *m_player, *m_volume, m_folders.soundsFolder);
    hooks.defaultSnoozeMinutes = [this] { return std::max(1, (m_ini->Read(Settings::SnoozeTime) + 30) / 60); };
    m_alarmForm->SetHooks(std::move(hooks));
    return m_alarmForm.get();
}

void AppController::watchRinging()
{
    if (!m_environment.createRingingGuards)
        return;
    m_ringingGuards = m_environment.createRingingGuards();
    if (!m_ringingGuards)
        return;
    connect(m_wakeupForm.get(), &TWakeupForm::alarmRinging, this, [this] { m_ringingGuards->Ringing(); });
    connect(m_wakeupForm.get(), &TWakeupForm::alarmStopped, this, [this] {
        if (m_wakeupForm && m_wakeupForm->SnoozePending())
            m_ringingGuards->Snoozed();
        else
            m_ringingGuards->Dismissed();
    });
}

void AppController::watchExitRequests()
{
    m_exitRequests = m_platform->WatchExitRequests([this] { Exit(); });
    // The session's end and any quit from the toolkit come here too: Qt's own quit asks every window to
    // close and gives up when one refuses, and the alarm window and the floating clock always refuse.
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { Exit(); });
}

bool AppController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::Quit) {
        Exit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void AppController::onInstanceMessage(int message)
{
    WriteLog(QStringLiteral("Request from another copy: %1").arg(message));
    if (message == InstanceMessage::Exit) {
        Exit();
        return;
    }
    if (!m_mainForm)
        return;
    if (m_wakeupForm->AlarmActive())
        m_wakeupForm->DismissAlarm();
    m_mainForm->OpenWindow();
}

void AppController::onNotificationAction(const std::string& key)
{
    WriteLog(QStringLiteral("Notification action: ") + QString::fromStdString(key));
    if (key == "missed-dismiss") {
        if (m_missed)
            m_missed->Acknowledge();
        return;
    }
    if (!m_wakeupForm || !m_wakeupForm->AlarmActive())
        return; // a notification left over from an alarm that has ended
    if (key == "snooze" && m_wakeupForm->SnoozeAlarm())
        WriteLog(QStringLiteral("Snoozed from the notification"));
    else if (key == "dismiss")
        m_wakeupForm->DismissAlarm();
}

void AppController::reportWriteFailure(const QString& message)
{
    WriteLog(QStringLiteral("Save failed: ") + message);
    // One box per run, and never one that waits: a full disk must not bury the user in boxes or hold
    // back the alarms that keep ringing from memory.
    if (m_writeFailureShown || m_exiting)
        return;
    m_writeFailureShown = true;
    ShowWarningNonModal(QStringLiteral("The alarm list could not be saved. It stays in memory and alarms keep "
                                       "ringing; it is saved again with the next change and at exit.\n\n") +
                        message);
}

void AppController::Exit()
{
    // Before the windows exist only the box that reports a failed start can be waiting: it ends the program.
    if (m_exiting || !m_mainForm)
        return;
    m_exiting = true;
    WriteLog(QStringLiteral("Exit"));
    m_exitDeadline.Arm(std::chrono::milliseconds(kExitDeadlineMs));
    m_wakeupForm->ResetSnooze();
    m_wakeupForm->DismissAlarm();
    m_player->StopSound();
    saveEverything();
    m_scheduler->SetTerminating();
    m_timers->Stop();
    m_volume->Flush(kVolumeFlushMs);
    // A new start may claim the instance at once.
    m_instance.reset();
    emit exited();
    // Ends every nested loop too (an open editor or message box): each exec() returns, and no new one starts.
    QCoreApplication::exit(0);
}

void AppController::saveEverything()
{
    m_ini->WriteList(Settings::Alarms, m_scheduler->Alarms());
    m_missed->MarkRun();
    m_mainForm->SaveOptions();
}

void AppController::notifyMissedAlarms(const QStringList& entries)
{
    if (entries.isEmpty() || !m_mainForm)
        return;
    const QLocale locale;
    const QString format = m_lang->GetText(Text::MissedWhileOff);
    QStringList lines;
    for (const QString& entry : entries.mid(0, kMissedNoticeLines))
        lines.append(FormatText(format, {DescribeMissedEntry(entry, locale)}));
    if (entries.size() > kMissedNoticeLines)
        lines.append(
            FormatText(m_lang->GetText(Text::MissedMore), {QString::number(entries.size() - kMissedNoticeLines)}));
    const QString title = QStringLiteral("Larkbell");
    const QString text = lines.join(u'\n');
    WriteLog(QStringLiteral("Missed alarms notice: ") + text);
    // Stays until answered; its Dismiss acknowledges the list as the main window's bar does.
    const NotificationStyle style{
        true, {{"missed-dismiss", WithoutMnemonic(m_lang->GetText(Text::NotificationDismiss)).toStdString()}}};
    showMissedNotice(title, text, style, kMissedNoticeTries);
}

void AppController::showMissedNotice(const QString& title, const QString& text, const NotificationStyle& style,
                                     int triesLeft)
{
    if (m_exiting || !m_mainForm)
        return;
    if (m_notifications && m_notifications->Show(title.toStdString(), text.toStdString(), kMissedNoticeMs, style))
        return;
    // At start the notification server's presence is still being asked about: asked again shortly, without
    // waiting for it.
    if (m_notifications && triesLeft > 0) {
        QTimer::singleShot(kMissedNoticeRetryMs, this, [this, title, text, style, triesLeft] {
            showMissedNotice(title, text, style, triesLeft - 1);
        });
        return;
    }
    m_mainForm->ShowTrayBalloon(title, text, kMissedNoticeMs);
}

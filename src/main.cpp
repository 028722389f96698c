#include "AlarmForm.h"
#include "AppFolders.h"
#include "AppIni.h"
#include "CommandLine.h"
#include "DebugLog.h"
#include "FloatingForm.h"
#include "MainForm.h"
#include "MessageBoxes.h"
#include "MgLanguages.h"
#include "Platform.h"
#include "SoundPlayer.h"
#include "VolumeSetForm.h"
#include "WakeupForm.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QFileInfo>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGTERM (the session ending, a shutdown, kill) runs the orderly exit on the main thread.
int g_signalPipe[2] = {-1, -1};

void onTerminateSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

void watchTerminateSignals(TMainForm& mainForm)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &mainForm);
    QObject::connect(notifier, &QSocketNotifier::activated, &mainForm, [&mainForm] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        mainForm.OrderlyExit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

// Unmutes, then sets: an alarm that asks for a volume must be heard even on a muted system.
void setAudibleVolume(TVolumeSetForm& volume, int percent)
{
    volume.SetMute(false);
    volume.SetVolume(unsigned(qBound(0, percent, 100)));
}

// The canonical path of this executable, before QCoreApplication exists to tell it.
QString ownExecutablePath(const char* argv0)
{
#ifdef Q_OS_LINUX
    Q_UNUSED(argv0);
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
#else
    return QFileInfo(QString::fromLocal8Bit(argv0)).canonicalFilePath();
#endif
}

WakeupHooks wakeupHooks(TMainForm& mainForm, Platform& platform, SoundPlayer& player, TVolumeSetForm& volume)
{
    WakeupHooks hooks;
    hooks.playSound = [&player](const QString& sound, bool loop) {
        player.PlaySound(sound, loop, true, false, SoundPlayer::Fallback::BuiltInSound);
        player.StartStopSoundTimer();
        WriteLog(QStringLiteral("Sound \"%1\": %2, error code %3")
                     .arg(sound, player.IsPlaying() ? player.CurrentFile() : QStringLiteral("not playing"))
                     .arg(player.LastError()));
    };
    hooks.stopSound = [&player] { player.StopSound(); };
    hooks.saveSystemVolume = [&player] { player.SaveSystemVolume(); };
    hooks.setSystemVolume = [&volume](int percent) { setAudibleVolume(volume, percent); };
    hooks.highlightFloatingClock = [&mainForm](bool on) {
        if (mainForm.FloatingForm())
            mainForm.FloatingForm()->SetHighlight(on);
    };
    hooks.setTrayIcon = [&mainForm](int index) { mainForm.SetTrayIcon(index); };
    hooks.normalTrayIcon = [&mainForm] { return mainForm.NormalTrayIcon(); };
    hooks.showBalloon = [&mainForm](const QString& title, const QString& text, int ms) {
        mainForm.ShowBalloon(title, text, ms);
    };
    hooks.cancelBalloon = [&mainForm] { mainForm.CancelBalloon(); };
    hooks.monitorOn = [&platform] { platform.MonitorOn(); };
    hooks.showCancelSnooze = [&mainForm](bool visible) {
        mainForm.actCancelSnooze->setVisible(visible);
        mainForm.miSnoozeSepr->setVisible(visible);
    };
    return hooks;
}

AlarmFormHooks alarmFormHooks(TMainForm& mainForm, Platform& platform, SoundPlayer& player, TVolumeSetForm& volume,
                              const QString& soundsFolder)
{
    AlarmFormHooks hooks;
    hooks.playSound = [&player](const QString& sound, bool loop, bool allowPrograms, bool showErrors) {
        player.PlaySound(sound, loop, allowPrograms, showErrors);
    };
    hooks.stopSound = [&player] { player.StopSound(); };
    hooks.isPlaying = [&player] { return player.IsPlaying(); };
    hooks.saveSystemVolume = [&player] { player.SaveSystemVolume(); };
    hooks.setSystemVolume = [&volume](int percent) { setAudibleVolume(volume, percent); };
    // Asked once: the answer can take a round trip to the power daemon, and it does not change while we run.
    hooks.wakeTimersAvailable = [&platform, known = std::optional<bool>()]() mutable {
        if (!known)
            known = platform.WakeTimersAllowed();
        return *known;
    };
    hooks.donate = [&mainForm] { mainForm.actDonate->trigger(); };
    hooks.openLink = [&mainForm](const QString& page) { mainForm.OpenHelpPage(page); };
    hooks.soundsFolder = soundsFolder;
    return hooks;
}

} // namespace

int main(int argc, char* argv[])
{
    // 1-3: switches and log, the language from the system, the settings store.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = CommandLine::Parse(arguments);
    SetDebugMode(commandLine.debug);

    // Ending a running copy needs no window system, so -close works from a shell without a display.
    if (commandLine.close) {
        std::unique_ptr<Platform> platform = CreatePlatform();
        if (commandLine.uninstall)
            platform->DisableAutostart();
        platform->SendToInstance(ownExecutablePath(argv[0]).toStdString(), InstanceMessage::Exit, InstanceMessage::Param1, InstanceMessage::Param2);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Larkbell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Larkbell"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.larkbell.Larkbell"));
    QApplication::setApplicationVersion(QStringLiteral(LARKBELL_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    const QString exePath = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const AppFolders folders = AppFolders::Resolve(QCoreApplication::applicationDirPath());
    SetLogFolder(folders.dataFolder);
    WriteLog(QStringLiteral("Start: ") + arguments.join(u' '));
    TMgLang lang(folders.langsFolder, SystemUiLanguageId());
    TAppIni ini(folders.exeFolder, folders.soundsFolder);
    ini.SetFileName(folders.dataFolder + QStringLiteral("Data.ini"));

    std::unique_ptr<Platform> platform = CreatePlatform();
    const std::string exe = exePath.toStdString();
    // 5: the autostart entry goes before anything else can fail.
    if (commandLine.uninstall)
        platform->DisableAutostart();

    // 6: one copy per executable; a later start hands over to the running one.
    TMainForm* mainFormPtr = nullptr;
    std::unique_ptr<InstanceChannel> instance;
    instance = platform->ClaimInstance(exe, [&mainFormPtr](int message) {
        if (mainFormPtr)
            mainFormPtr->InstanceMessage(message);
    });
    if (!instance) {
        platform->SendToInstance(exe, InstanceMessage::Show, InstanceMessage::Param1, InstanceMessage::Param2);
        return 0;
    }

    // 7: the windows, in order. The volume object and the sound player come first, as the main
    // window's creation starts the sound output and every window's alarm path needs them.
    TVolumeSetForm volume(CreateSystemVolumeEndpoint(), CreateSystemVolumeMixer());
    TAlarmForm* forEditor = nullptr;
    TWakeupForm* forWakeup = nullptr;
    SoundPlayerHooks soundHooks;
    // A box that waited for an answer during start-up would hold back the timers: alarms must arm first.
    bool startingUp = true;
    soundHooks.showWarning = [&startingUp](const QString& text) {
        if (startingUp)
            ShowWarningNonModal(text);
        else
            ShowWarning(nullptr, text);
    };
    soundHooks.dismissAlarmIfHidden = [&forWakeup] {
        if (forWakeup && !forWakeup->isVisible())
            forWakeup->DismissAlarm();
    };
    soundHooks.previewStateChanged = [&forEditor](bool playing) {
        if (forEditor)
            forEditor->SetPreviewState(playing);
    };
    soundHooks.openDocument = [](const QString& path) {
        return QDesktopServices::openUrl(path.contains(QStringLiteral("://")) ? QUrl(path) : QUrl::fromLocalFile(path));
    };
    SoundPlayer player(CreateSoundOutput(), &volume, folders.soundsFolder, soundHooks);
    player.InitAudio();
    player.SetPlayDuration(ini.Read(Settings::PlaySoundDuration));

    MainFormContext context{ini, lang, *platform, folders, exePath, commandLine, QStringLiteral(LARKBELL_WEBSITE)};
    context.systemVolume = [&volume] { return int(volume.GetVolume()); };
    auto mainForm = CreateForm<TMainForm>(context);
    if (!mainForm->TimersCreated()) {
        ShowError(nullptr, lang.GetText(Text::TimerNotCreated));
        return 1;
    }
    mainFormPtr = mainForm.get();
    QObject::connect(mainForm.get(), &TMainForm::playDurationChanged, &player, &SoundPlayer::SetPlayDuration);
    auto alarmForm = CreateForm<TAlarmForm>(lang, mainForm.get());
    forEditor = alarmForm.get();
    alarmForm->SetHooks(alarmFormHooks(*mainForm, *platform, player, volume, folders.soundsFolder));
    auto wakeupForm = CreateForm<TWakeupForm>(lang, wakeupHooks(*mainForm, *platform, player, volume));
    forWakeup = wakeupForm.get();
    mainForm->SetForms(alarmForm.get(), wakeupForm.get());

    // 8-9: start-up steps; with -autorun the window stays in the tray.
    mainForm->PostCreate();
    startingUp = false;
    watchTerminateSignals(*mainForm);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, mainForm.get(),
                     [&mainForm](QSessionManager&) { mainForm->OrderlyExit(); });
    if (!commandLine.autorun)
        mainForm->OpenWindow();
    const int result = QApplication::exec();
    mainFormPtr = nullptr;
    player.StopSound();
    player.FreeAudio();
    return result;
}

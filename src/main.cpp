#include "AlarmForm.h"
#include "AppFolders.h"
#include "AppIni.h"
#include "CommandLine.h"
#include "DebugLog.h"
#include "MainForm.h"
#include "MessageBoxes.h"
#include "MgLanguages.h"
#include "Platform.h"
#include "WakeupForm.h"

#include <QApplication>
#include <QFileInfo>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
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

WakeupHooks wakeupHooks(TMainForm& mainForm, Platform& platform)
{
    WakeupHooks hooks;
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

} // namespace

int main(int argc, char* argv[])
{
    // 1-3: switches and log, the language from the system, the settings store.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = CommandLine::Parse(arguments);
    SetDebugMode(commandLine.debug);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Larkbell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Larkbell"));
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
    if (commandLine.close) {
        platform->SendToInstance(exe, InstanceMessage::Exit, InstanceMessage::Param1, InstanceMessage::Param2);
        return 0;
    }
    instance = platform->ClaimInstance(exe, [&mainFormPtr](int message) {
        if (mainFormPtr)
            mainFormPtr->InstanceMessage(message);
    });
    if (!instance) {
        platform->SendToInstance(exe, InstanceMessage::Show, InstanceMessage::Param1, InstanceMessage::Param2);
        return 0;
    }

    // 7: the windows, in order.
    auto mainForm = CreateForm<TMainForm>(
        MainFormContext{ini, lang, *platform, folders, exePath, commandLine, QStringLiteral(LARKBELL_WEBSITE)});
    if (!mainForm->TimersCreated()) {
        ShowError(nullptr, lang.GetText(Text::TimerNotCreated));
        return 1;
    }
    mainFormPtr = mainForm.get();
    auto alarmForm = CreateForm<TAlarmForm>(lang, mainForm.get());
    auto wakeupForm = CreateForm<TWakeupForm>(lang, wakeupHooks(*mainForm, *platform));
    mainForm->SetForms(alarmForm.get(), wakeupForm.get());

    // 8-9: start-up steps; with -autorun the window stays in the tray.
    mainForm->PostCreate();
    watchTerminateSignals(*mainForm);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, mainForm.get(),
                     [&mainForm](QSessionManager&) { mainForm->OrderlyExit(); });
    if (!commandLine.autorun)
        mainForm->OpenWindow();
    const int result = QApplication::exec();
    mainFormPtr = nullptr;
    return result;
}

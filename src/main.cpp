#include "app/AppController.h"
#include "app/BusClient.h"
#include "core/app/CommandLine.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/TextFile.h"
#include "platform/FileCommit.h"
#include "platform/Platform.h"

#include <QApplication>

#include <cstdio>

namespace {

// Ending a running copy needs no window system, so -close works from a shell without a display.
int closeRunningCopy(const CommandLine& commandLine)
{
    std::unique_ptr<Platform> platform = CreatePlatform();
    if (commandLine.uninstall)
        platform->DisableAutostart();
    platform->SendToInstance(OwnExecutablePath(), InstanceMessage::Exit, InstanceMessage::Param1,
                             InstanceMessage::Param2);
    return 0;
}

// Answers from the shell, with no display and beside a running copy: the exit code tells scripts whether
// alarms can wake this computer (0) or not (1).
int printWakeStatus(int argc, char* argv[])
{
    const QCoreApplication app(argc, argv); // D-Bus wants one; no window system is touched
    const WakeStatus status = CreatePlatform()->DetectWakeStatus();
    std::printf("wake path: %s\ncan wake: %s\nreason: %s\n", WakePathName(status.path), WakeAbilityName(status.works),
                WakeReasonText(status.reason));
    return status.works == WakeAbility::Yes ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = CommandLine::Parse(arguments);
    if (const std::optional<int> ended = RunWithoutWindows(commandLine, argc, argv, QStringLiteral(LARKBELL_VERSION)))
        return *ended;
    SetDebugMode(commandLine.debug);
    // Saves reach the disk through the platform's calls, which the settings store cannot make itself.
    SetFileCommitSteps({SyncFileToDisk, ReplaceFileAtomically, SyncFolderToDisk});
    if (commandLine.close)
        return closeRunningCopy(commandLine);
    if (commandLine.wakeStatus)
        return printWakeStatus(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Larkbell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Larkbell"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.larkbell.Larkbell"));
    QApplication::setApplicationVersion(QStringLiteral(LARKBELL_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    AppController controller(commandLine, QString::fromStdString(OwnExecutablePath()));
    if (const std::optional<int> ended = controller.Start())
        return *ended;
    return QApplication::exec();
}

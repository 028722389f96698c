#include "app/BusClient.h"

#include "app/BusService.h"
#include "core/alarms/RemoteAlarms.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>

#include <cstdio>

namespace {

// The running copy answers from its event loop; one that takes longer is as good as gone.
constexpr int kAnswerTimeoutMs = 5000;

const char* const kUsage = "Usage: larkbell [switch...]\n"
                           "\n"
                           "  -autorun      start in the tray without opening the window\n"
                           "  -close        ask the running copy to exit, then exit\n"
                           "  -uninstall    remove the autostart entry first\n"
                           "  -debug        write Log.txt in the data folder\n"
                           "\n"
                           "Asked of the copy that is running, over the session bus (never starting one):\n"
                           "  --dismiss     answer the ringing alarm with OK\n"
                           "  --snooze      snooze the ringing alarm for the snooze length set\n"
                           "  --next        print the next alarm: its local time and label\n"
                           "  --list        print the alarms: number, on or off, time, repeat days, label\n"
                           "  These end with 0 when the running copy answered and with 1 when none runs.\n"
                           "\n"
                           "  --help        print this text\n"
                           "  --version     print the version\n"
                           "\n"
                           "A switch starts with \"-\" or \"/\" and may be written in any letter case.\n";

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

QString methodOf(RemoteCommand command)
{
    switch (command) {
    case RemoteCommand::Dismiss:
        return QStringLiteral("Dismiss");
    case RemoteCommand::Snooze:
        return QStringLiteral("Snooze");
    case RemoteCommand::Next:
        return QStringLiteral("NextAlarm");
    case RemoteCommand::List:
        return QStringLiteral("ListAlarms");
    case RemoteCommand::None:
        break;
    }
    return {};
}

bool noCopyAnswered(const QString& errorName)
{
    return errorName == QDBusError::errorString(QDBusError::ServiceUnknown) ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           errorName == QDBusError::errorString(QDBusError::UnknownObject) ||
           errorName == QDBusError::errorString(QDBusError::NoReply) ||
           errorName == QDBusError::errorString(QDBusError::Timeout) ||
           errorName == QDBusError::errorString(QDBusError::Disconnected);
}

// The command line's output is its own lines only: the bus library's threads may log warnings of
// their own start-up (types registered while a message is read) that say nothing to the user.
void keepToolkitWarningsOffTheTerminal(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

int askRunningCopy(RemoteCommand command)
{
    qInstallMessageHandler(keepToolkitWarningsOffTheTerminal);
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        print(stderr, QStringLiteral("Larkbell is not running: there is no session bus to reach it."));
        return 1;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        print(stderr, QStringLiteral("Larkbell is not running: the session bus cannot be reached (%1).")
                          .arg(bus.lastError().message()));
        return 1;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(BusService::kName), QString::fromLatin1(BusService::kPath),
                                       QString::fromLatin1(BusService::kInterface), methodOf(command));
    call.setAutoStartService(false); // a request must not start a copy through bus activation
    const QDBusMessage reply = bus.call(call, QDBus::Block, kAnswerTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (noCopyAnswered(reply.errorName())) {
            print(stderr, reply.errorName() == QDBusError::errorString(QDBusError::NoReply) ||
                                  reply.errorName() == QDBusError::errorString(QDBusError::Timeout)
                              ? QStringLiteral("Larkbell did not answer.")
                              : QStringLiteral("Larkbell is not running."));
            return 1;
        }
        print(stderr, reply.errorMessage()); // the copy answered: nothing rang, say
        return 0;
    }
    const QVariantList values = reply.arguments();
    if (command == RemoteCommand::Next) {
        const QString due = values.value(0).toString();
        print(stdout,
              due.isEmpty() ? QStringLiteral("No alarm is set.") : NextAlarmLine(due, values.value(1).toString()));
    } else if (command == RemoteCommand::List) {
        RegisterBusTypes();
        const QList<RemoteAlarm> alarms = qdbus_cast<QList<RemoteAlarm>>(values.value(0));
        if (alarms.isEmpty())
            print(stdout, QStringLiteral("The list is empty."));
        for (const RemoteAlarm& alarm : alarms)
            print(stdout, RemoteAlarmLine(alarm));
    }
    return 0;
}

} // namespace

std::optional<int> RunWithoutWindows(const CommandLine& commandLine, int& argc, char** argv, const QString& version)
{
    if (commandLine.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (commandLine.version) {
        print(stdout, QStringLiteral("Larkbell ") + version);
        return 0;
    }
    if (commandLine.remote == RemoteCommand::None)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    return askRunningCopy(commandLine.remote);
}

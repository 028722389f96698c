// Stands in for the desktop's power daemon on the session bus, in a process of its own, so that the
// program's wake check meets it as it would meet the real one: another process, with whatever
// capabilities it was started with. Prints "ready" once it owns its name; ends on SIGTERM.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDateTime>

#include <csignal>
#include <cstdio>

class PowerDaemon : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.Solid.PowerManagement")

public slots:
    uint scheduleWakeup(const QString&, const QDBusObjectPath&, qulonglong timestamp)
    {
        if (timestamp < static_cast<qulonglong>(QDateTime::currentSecsSinceEpoch())) {
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("You can not schedule wakeup in past"));
            return 0;
        }
        return ++m_lastCookie;
    }
    void clearWakeup(int) {}

private:
    uint m_lastCookie = 0;
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    qRegisterMetaType<QDBusObjectPath>();
    PowerDaemon daemon;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/kde/Solid/PowerManagement"), &daemon,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.kde.Solid.PowerManagement"))) {
        std::fprintf(stderr, "cannot own the power daemon's name: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "wake_standin.moc"

#include "AppFolders.h"
#include "AppIni.h"
#include "Schedule.h"

#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Larkbell"));
    QApplication::setQuitOnLastWindowClosed(false);

    const AppFolders folders = AppFolders::Resolve(QCoreApplication::applicationDirPath());
    TAppIni ini(folders.exeFolder, folders.soundsFolder);
    ini.SetFileName(folders.dataFolder + QStringLiteral("Data.ini"));

    const QStringList alarms = ini.ReadList(Settings::Alarms);
    const ScheduleResult schedule =
        RebuildSchedule(alarms, LocalDateTime::fromDateTime(QDateTime::currentDateTime()), QLocale::system());
    QTextStream(stdout) << "Larkbell: " << schedule.trayHint << Qt::endl;

    QSystemTrayIcon tray(QIcon::fromTheme(QStringLiteral("alarm-symbolic")));
    tray.setToolTip(schedule.trayHint);
    QMenu menu;
    QObject::connect(menu.addAction(QStringLiteral("Exit")), &QAction::triggered, &app, &QApplication::quit);
    tray.setContextMenu(&menu);
    tray.show();
    return app.exec();
}

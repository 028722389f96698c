// The least a Qt Widgets program in the tray can be: an icon with a two-item menu and nothing else.
// bench_program measures its memory beside Larkbell's, so the program's own share can be told apart
// from what the toolkit, its platform plugin and the fonts cost any tray program on this desktop.

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkYellow);
    QMenu menu;
    menu.addAction(QStringLiteral("Open"));
    menu.addAction(QStringLiteral("Exit"), &app, &QApplication::quit);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setContextMenu(&menu);
    tray.setToolTip(QStringLiteral("Tray floor"));
    tray.show();
    return app.exec();
}

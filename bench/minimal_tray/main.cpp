// The yardstick for Korvala's start-up: the least a Qt tray program does —
// an icon, a one-item menu and a name on the session bus.

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QDBusConnection::sessionBus().registerService("bench.MinimalTray");

    QPixmap image(64, 64);
    image.fill(Qt::darkGray);
    QSystemTrayIcon tray{QIcon(image)};
    QMenu menu;
    menu.addAction("Выйти", &app, &QApplication::quit);
    tray.setContextMenu(&menu);
    tray.show();
    return app.exec();
}

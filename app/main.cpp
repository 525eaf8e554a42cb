#include "app/version.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("korvala %s\n", KORVALA_VERSION);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("korvala");
    QApplication::setApplicationVersion(KORVALA_VERSION);
    QApplication::setDesktopFileName(KORVALA_APP_ID);
    QApplication::setQuitOnLastWindowClosed(false);

    QSystemTrayIcon tray(QIcon(":/tray.png"));
    QMenu menu;
    menu.addAction("Готов к записи")->setEnabled(false);
    menu.addSeparator();
    QAction* quit = menu.addAction("Выйти", &app, &QApplication::quit);
    quit->setShortcut(QKeySequence("Ctrl+Q"));
    tray.setContextMenu(&menu);
    tray.show();
    return app.exec();
}

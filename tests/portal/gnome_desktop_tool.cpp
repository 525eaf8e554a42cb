// Drives the private GNOME desktop by hand, for looking at it while a test
// is written: gnome_desktop_tool screenshot FILE | click X Y | key KEYSYM
#include "gnome_desktop.h"

#include <QGuiApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == "screenshot" && arguments.size() == 2) {
        return GnomeDesktop::screen().save(arguments[1]) ? 0 : 1;
    }
    GnomeDesktop desktop;
    if (!desktop.ready()) {
        std::fprintf(stderr, "%s\n", qPrintable(desktop.error()));
        return 1;
    }
    // The session's virtual devices join the seat a moment after it starts.
    QThread::msleep(500);
    if (command == "click" && arguments.size() >= 3)
        desktop.click({arguments[1].toInt(), arguments[2].toInt()},
                      arguments.value(3) == "right" ? GnomeDesktop::rightButton : GnomeDesktop::leftButton);
    else if (command == "move" && arguments.size() == 3)
        desktop.move({arguments[1].toInt(), arguments[2].toInt()});
    else if (command == "key" && arguments.size() == 2)
        desktop.key(arguments[1].toUInt(nullptr, 0));
    else
        return 2;
    QThread::msleep(200);
    return 0;
}

// The controller's flows that belong to the recorder, the service client and
// the screenshot tool. Each is replaced here by its own work as that work
// lands; until then the menu item says plainly that it is not there yet.

#include "app/menu_bar_controller.h"

void MenuBarController::notYetAvailable(const QString& command)
{
    show("«" + titleOfCommand(command) + "» пока не работает в этой версии");
}

void MenuBarController::start()
{
    notYetAvailable("record-audio");
}

void MenuBarController::pickCapture()
{
    notYetAvailable("record-video");
}

void MenuBarController::stop()
{
    notYetAvailable("stop");
}

#include "app/menu_bar_controller.h"

void MenuBarController::startLaunchTasks()
{
    // Two tasks that run on their own; neither waits for the other, and the
    // launch waits for neither. Both end quietly on any failure.
    refreshLimit();
    checkVersion();
}

#pragma once

#include "platform/screen_numbers.h"

#include <vector>

// The RandR monitors of the X session Qt is connected to; empty outside X11.
std::vector<MonitorNumber> currentMonitors();

// Whether a compositing manager owns the screen's selection.
bool desktopComposites();

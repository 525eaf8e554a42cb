#pragma once

#include <QProcessEnvironment>

// Whether this session's screen is reached through xdg-desktop-portal
// rather than X11: a Wayland session (where Xwayland shows only its own
// windows and a black root), or no X display at all.
bool sessionUsesDesktopPortal(const QProcessEnvironment& environment);

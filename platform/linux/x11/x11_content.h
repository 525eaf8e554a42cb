#pragma once

#include "platform/linux/desktop_entries.h"
#include "platform/screen_capture.h"

#include <xcb/xcb.h>

#include <optional>
#include <vector>

class X11Session;

// A RandR monitor in device pixels; its id is the atom of its name, which
// the server keeps for its lifetime whether or not the monitor has an output.
struct X11Monitor {
    uint32_t id = 0;
    int x = 0, y = 0, width = 0, height = 0;
};

// The monitors in the server's order; the whole root when RandR cannot tell.
std::optional<std::vector<X11Monitor>> listMonitors(X11Session& session);

// The child of the root that holds `window` (its frame under a reparenting
// window manager), or the window itself.
xcb_window_t topLevelOf(X11Session& session, xcb_window_t window);

// The windows a user would call windows, bottom to top: the window manager's
// clients, else the mapped top-level windows that are not override-redirect.
std::optional<std::vector<xcb_window_t>> listClientWindows(X11Session& session);

// Displays, windows (front to back) and applications, in points of
// `devicePixelRatio`.
std::optional<ShareableContent> listShareableContent(X11Session& session, double devicePixelRatio,
                                                     const DesktopEntries& entries);

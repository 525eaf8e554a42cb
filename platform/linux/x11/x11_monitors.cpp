#include "platform/linux/x11/x11_monitors.h"

#include "platform/linux/x11/x11_connection.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace {

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_screen_t* defaultScreen(xcb_connection_t* connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
}

} // namespace

std::vector<MonitorNumber> currentMonitors()
{
    std::vector<MonitorNumber> monitors;
    xcb_connection_t* connection = qtConnection();
    if (!connection)
        return monitors;
    xcb_screen_t* screen = defaultScreen(connection);
    if (!screen)
        return monitors;

    auto* reply = xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, screen->root, true),
                                               nullptr);
    if (!reply)
        return monitors;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem; xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* info = it.data;
        monitors.push_back({info->name, QRect(info->x, info->y, info->width, info->height), info->primary != 0});
    }
    std::free(reply);
    return monitors;
}

bool desktopComposites()
{
    xcb_connection_t* connection = qtConnection();
    if (!connection)
        return true; // Wayland and offscreen sessions compose windows themselves
    // Desktops today run one X screen with all monitors on it: screen 0.
    const std::string name = compositorSelectionName(0);
    auto atom = x11Reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, true, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
    return atom && compositingManagerRuns(connection, atom->atom);
}

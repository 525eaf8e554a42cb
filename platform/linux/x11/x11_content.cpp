#include "platform/linux/x11/x11_content.h"

#include "platform/linux/x11/x11_connection.h"

#include <xcb/randr.h>
#include <xcb/xcb_icccm.h>

#include <QHash>

#include <algorithm>

namespace {

// Layers like the ones other desktops use, so that only ordinary windows
// sit on 0.
enum Layer {
    DesktopLayer = -1,
    NormalLayer = 0,
    FloatingLayer = 3,
    DockLayer = 20,
    NotificationLayer = 23,
    MenuLayer = 101,
    SplashLayer = 102,
};

int layerOf(xcb_ewmh_connection_t* ewmh, const xcb_ewmh_get_atoms_reply_t* types)
{
    if (!types || types->atoms_len == 0)
        return NormalLayer;
    // The first type the window declares is its preferred one.
    const xcb_atom_t type = types->atoms[0];
    if (type == ewmh->_NET_WM_WINDOW_TYPE_NORMAL || type == ewmh->_NET_WM_WINDOW_TYPE_DIALOG)
        return NormalLayer;
    if (type == ewmh->_NET_WM_WINDOW_TYPE_DESKTOP)
        return DesktopLayer;
    if (type == ewmh->_NET_WM_WINDOW_TYPE_DOCK)
        return DockLayer;
    if (type == ewmh->_NET_WM_WINDOW_TYPE_NOTIFICATION)
        return NotificationLayer;
    if (type == ewmh->_NET_WM_WINDOW_TYPE_SPLASH)
        return SplashLayer;
    if (type == ewmh->_NET_WM_WINDOW_TYPE_TOOLBAR || type == ewmh->_NET_WM_WINDOW_TYPE_UTILITY)
        return FloatingLayer;
    // Menus, tooltips, combo lists, drag icons.
    return MenuLayer;
}

QString utf8(const char* data, uint32_t length)
{
    return QString::fromUtf8(data, length);
}

struct WindowRequests {
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t position;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t netName;
    xcb_get_property_cookie_t name;
    xcb_get_property_cookie_t pid;
    xcb_get_property_cookie_t type;
    xcb_get_property_cookie_t windowClass;
};

struct WindowFacts {
    ShareableWindow window;
    std::optional<uint32_t> pid;
    QString instance;
    QString windowClass;
};

QImage iconFromProperty(const xcb_ewmh_get_wm_icon_reply_t& reply)
{
    // The largest icon up to 128 pixels: a tile shows it small.
    xcb_ewmh_wm_icon_iterator_t best {};
    bool found = false;
    for (auto it = xcb_ewmh_get_wm_icon_iterator(&reply); it.rem; xcb_ewmh_get_wm_icon_next(&it)) {
        if (it.width == 0 || it.height == 0 || it.width > 128 || it.height > 128)
            continue;
        if (!found || it.width > best.width) {
            best = it;
            found = true;
        }
    }
    if (!found)
        return {};
    QImage image(int(best.width), int(best.height), QImage::Format_ARGB32);
    for (uint32_t y = 0; y < best.height; ++y)
        std::copy_n(best.data + y * best.width, best.width, reinterpret_cast<uint32_t*>(image.scanLine(int(y))));
    return image;
}

} // namespace

std::optional<std::vector<X11Monitor>> listMonitors(X11Session& session)
{
    xcb_connection_t* c = session.connection();
    const xcb_screen_t* screen = session.screen();
    if (session.hasMonitors()) {
        auto reply = x11Reply(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, session.root(), 1), nullptr));
        if (!reply)
            return std::nullopt;
        std::vector<X11Monitor> monitors;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            const auto* info = it.data;
            monitors.push_back({info->name, info->x, info->y, info->width, info->height});
        }
        if (!monitors.empty())
            return monitors;
    }
    if (session.broken())
        return std::nullopt;
    return std::vector<X11Monitor>{{session.root(), 0, 0, screen->width_in_pixels, screen->height_in_pixels}};
}

xcb_window_t topLevelOf(X11Session& session, xcb_window_t window)
{
    xcb_connection_t* c = session.connection();
    for (int depth = 0; depth < 16; ++depth) {
        auto tree = x11Reply(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree || tree->parent == session.root() || tree->parent == XCB_WINDOW_NONE)
            return window;
        window = tree->parent;
    }
    return window;
}

std::optional<std::vector<xcb_window_t>> listClientWindows(X11Session& session)
{
    xcb_connection_t* c = session.connection();
    xcb_ewmh_connection_t* ewmh = session.ewmh();
    xcb_ewmh_get_windows_reply_t clients {};
    const int screen = session.screenNumber();
    if (xcb_ewmh_get_client_list_stacking_reply(ewmh, xcb_ewmh_get_client_list_stacking(ewmh, screen), &clients,
                                                nullptr)
        || xcb_ewmh_get_client_list_reply(ewmh, xcb_ewmh_get_client_list(ewmh, screen), &clients, nullptr)) {
        std::vector<xcb_window_t> windows(clients.windows, clients.windows + clients.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&clients);
        return windows;
    }
    if (session.broken())
        return std::nullopt;

    // No EWMH window manager: the top-level windows are the clients.
    auto tree = x11Reply(xcb_query_tree_reply(c, xcb_query_tree(c, session.root()), nullptr));
    if (!tree)
        return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (int i = 0; i < count; ++i)
        cookies.push_back(xcb_get_window_attributes(c, children[i]));
    std::vector<xcb_window_t> windows;
    for (int i = 0; i < count; ++i) {
        auto attributes = x11Reply(xcb_get_window_attributes_reply(c, cookies[i], nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && !attributes->override_redirect
            && attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT)
            windows.push_back(children[i]);
    }
    return windows;
}

std::optional<ShareableContent> listShareableContent(X11Session& session, double devicePixelRatio,
                                                     const DesktopEntries& entries)
{
    xcb_connection_t* c = session.connection();
    xcb_ewmh_connection_t* ewmh = session.ewmh();
    const double scale = devicePixelRatio > 0 ? devicePixelRatio : 1.0;

    const auto monitors = listMonitors(session);
    if (!monitors)
        return std::nullopt;
    ShareableContent content;
    for (const auto& monitor : *monitors) {
        content.displays.push_back({monitor.id, int(monitor.width / scale), int(monitor.height / scale),
                                    QRectF(monitor.x / scale, monitor.y / scale, monitor.width / scale,
                                           monitor.height / scale)});
    }

    auto stacking = listClientWindows(session);
    if (!stacking)
        return std::nullopt;
    std::vector<xcb_window_t> windows(stacking->rbegin(), stacking->rend());

    std::vector<WindowRequests> requests;
    requests.reserve(windows.size());
    for (xcb_window_t w : windows) {
        requests.push_back({
            xcb_get_geometry(c, w),
            xcb_translate_coordinates(c, w, session.root(), 0, 0),
            xcb_get_window_attributes(c, w),
            xcb_ewmh_get_wm_name(ewmh, w),
            xcb_icccm_get_wm_name(c, w),
            xcb_ewmh_get_wm_pid(ewmh, w),
            xcb_ewmh_get_wm_window_type(ewmh, w),
            xcb_icccm_get_wm_class(c, w),
        });
    }

    std::vector<WindowFacts> facts;
    for (size_t i = 0; i < windows.size(); ++i) {
        const WindowRequests& r = requests[i];
        WindowFacts fact;
        fact.window.windowID = windows[i];
        auto geometry = x11Reply(xcb_get_geometry_reply(c, r.geometry, nullptr));
        auto position = x11Reply(xcb_translate_coordinates_reply(c, r.position, nullptr));
        auto attributes = x11Reply(xcb_get_window_attributes_reply(c, r.attributes, nullptr));

        xcb_ewmh_get_utf8_strings_reply_t netName {};
        if (xcb_ewmh_get_wm_name_reply(ewmh, r.netName, &netName, nullptr)) {
            fact.window.title = utf8(netName.strings, netName.strings_len);
            xcb_ewmh_get_utf8_strings_reply_wipe(&netName);
        }
        xcb_icccm_get_text_property_reply_t name {};
        if (xcb_icccm_get_wm_name_reply(c, r.name, &name, nullptr)) {
            if (!fact.window.title) {
                // COMPOUND_TEXT is rare for plain titles; Latin-1 and UTF-8 cover
                // what clients set.
                fact.window.title = name.encoding == ewmh->UTF8_STRING ? utf8(name.name, name.name_len)
                                                                       : QString::fromLatin1(name.name, name.name_len);
            }
            xcb_icccm_get_text_property_reply_wipe(&name);
        }
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(ewmh, r.pid, &pid, nullptr) && pid > 0)
            fact.pid = pid;
        xcb_ewmh_get_atoms_reply_t types {};
        if (xcb_ewmh_get_wm_window_type_reply(ewmh, r.type, &types, nullptr)) {
            fact.window.windowLayer = layerOf(ewmh, &types);
            xcb_ewmh_get_atoms_reply_wipe(&types);
        }
        xcb_icccm_get_wm_class_reply_t windowClass {};
        if (xcb_icccm_get_wm_class_reply(c, r.windowClass, &windowClass, nullptr)) {
            fact.instance = QString::fromLocal8Bit(windowClass.instance_name);
            fact.windowClass = QString::fromLocal8Bit(windowClass.class_name);
            xcb_icccm_get_wm_class_reply_wipe(&windowClass);
        }
        // A window that went away while being asked about is not listed.
        if (!geometry || !position || !attributes)
            continue;
        fact.window.frame = QRectF(position->dst_x / scale, position->dst_y / scale, geometry->width / scale,
                                   geometry->height / scale);
        fact.window.isOnScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        facts.push_back(std::move(fact));
    }
    if (session.broken())
        return std::nullopt;

    // One application per process, named after the first of its windows.
    QHash<uint32_t, size_t> applicationOfPid;
    std::vector<xcb_ewmh_get_wm_icon_reply_t> icons;
    std::vector<xcb_get_property_cookie_t> iconCookies;
    for (const WindowFacts& fact : facts) {
        if (!fact.pid || applicationOfPid.contains(*fact.pid))
            continue;
        ShareableApplication application;
        application.processID = *fact.pid;
        if (auto entry = entries.forWindowClass(fact.instance, fact.windowClass)) {
            application.bundleIdentifier = entry->id;
            application.applicationName = entry->name.isEmpty() ? fact.windowClass : entry->name;
            application.bundlePath = entry->path;
            application.iconName = entry->icon;
        } else {
            application.bundleIdentifier = fact.windowClass;
            application.applicationName = fact.windowClass;
        }
        applicationOfPid.insert(*fact.pid, content.applications.size());
        content.applications.push_back(std::move(application));
        iconCookies.push_back(xcb_ewmh_get_wm_icon(ewmh, fact.window.windowID));
    }
    for (size_t i = 0; i < iconCookies.size(); ++i) {
        xcb_ewmh_get_wm_icon_reply_t icon {};
        if (xcb_ewmh_get_wm_icon_reply(ewmh, iconCookies[i], &icon, nullptr)) {
            content.applications[i].windowIcon = iconFromProperty(icon);
            xcb_ewmh_get_wm_icon_reply_wipe(&icon);
        }
    }

    for (WindowFacts& fact : facts) {
        if (fact.pid)
            fact.window.owningApplication = content.applications[applicationOfPid.value(*fact.pid)];
        content.windows.push_back(std::move(fact.window));
    }
    if (session.broken())
        return std::nullopt;
    return content;
}

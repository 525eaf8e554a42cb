#include "platform/linux/x11/x11_left_out_windows.h"

#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_content.h"
#include "platform/linux/x11/x11_pixels.h"

#include <xcb/composite.h>
#include <xcb/xcb_ewmh.h>

#include <QPainter>
#include <QRegion>
#include <QSet>

#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

struct TopLevel {
    xcb_window_t window = XCB_WINDOW_NONE;
    // On the root, with the border.
    QRect frame;
    bool leftOut = false;
};

uint32_t pidOf(X11Session& session, xcb_get_property_cookie_t cookie)
{
    uint32_t pid = 0;
    return xcb_ewmh_get_wm_pid_reply(session.ewmh(), cookie, &pid, nullptr) ? pid : 0;
}

// The clients the filter leaves out: the listed ones and, when it asks, the
// window manager's clients that this process owns.
QSet<xcb_window_t> leftOutClients(X11Session& session, const ContentFilter& filter,
                                  std::optional<xcb_get_property_cookie_t> clientList, uint32_t ownPid)
{
    QSet<xcb_window_t> clients;
    for (const ShareableWindow& window : filter.excludedWindows)
        clients.insert(window.windowID);
    xcb_ewmh_connection_t* ewmh = session.ewmh();
    xcb_ewmh_get_windows_reply_t listed {};
    if (!clientList || !xcb_ewmh_get_client_list_reply(ewmh, *clientList, &listed, nullptr))
        return clients;
    std::vector<xcb_get_property_cookie_t> pids;
    for (uint32_t i = 0; i < listed.windows_len; ++i)
        pids.push_back(xcb_ewmh_get_wm_pid(ewmh, listed.windows[i]));
    for (uint32_t i = 0; i < listed.windows_len; ++i) {
        if (pidOf(session, pids[i]) == ownPid)
            clients.insert(listed.windows[i]);
    }
    xcb_ewmh_get_windows_reply_wipe(&listed);
    return clients;
}

// The mapped top-level windows, bottom to top, those the filter leaves out
// marked. A window manager's frame is left out with its client; windows no
// window manager lists (notices, menus) carry their owner's process id
// themselves.
std::optional<std::vector<TopLevel>> mappedTopLevels(X11Session& session, const ContentFilter& filter)
{
    xcb_connection_t* c = session.connection();
    xcb_ewmh_connection_t* ewmh = session.ewmh();
    const uint32_t ownPid = filter.excludesCurrentProcessWindows ? uint32_t(getpid()) : 0;
    const auto treeCookie = xcb_query_tree(c, session.root());
    std::optional<xcb_get_property_cookie_t> clientList;
    if (ownPid)
        clientList = xcb_ewmh_get_client_list(ewmh, session.screenNumber());

    auto tree = x11Reply(xcb_query_tree_reply(c, treeCookie, nullptr));
    const xcb_window_t* children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
    const int count = tree ? xcb_query_tree_children_length(tree.get()) : 0;
    struct Requests {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        std::optional<xcb_get_property_cookie_t> pid;
    };
    std::vector<Requests> requests;
    requests.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        requests.push_back({xcb_get_window_attributes(c, children[i]), xcb_get_geometry(c, children[i]),
                            ownPid ? std::optional(xcb_ewmh_get_wm_pid(ewmh, children[i])) : std::nullopt});
    }
    const QSet<xcb_window_t> clients = leftOutClients(session, filter, clientList, ownPid);
    if (!tree)
        return std::nullopt;

    std::vector<TopLevel> windows;
    for (int i = 0; i < count; ++i) {
        auto attributes = x11Reply(xcb_get_window_attributes_reply(c, requests[i].attributes, nullptr));
        auto geometry = x11Reply(xcb_get_geometry_reply(c, requests[i].geometry, nullptr));
        const uint32_t pid = requests[i].pid ? pidOf(session, *requests[i].pid) : 0;
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE
            || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        const int border = 2 * geometry->border_width;
        windows.push_back({children[i],
                           QRect(geometry->x, geometry->y, geometry->width + border, geometry->height + border),
                           (ownPid && pid == ownPid) || clients.contains(children[i])});
    }
    for (const xcb_window_t client : clients) {
        const auto shown = [&](const TopLevel& window) { return window.window == client; };
        if (std::any_of(windows.begin(), windows.end(), shown))
            continue;
        const xcb_window_t top = topLevelOf(session, client);
        for (TopLevel& window : windows) {
            if (window.window == top)
                window.leftOut = true;
        }
    }
    if (session.broken())
        return std::nullopt;
    return windows;
}

// The wallpaper that the setters of root backgrounds name on the root, else
// black: the root's own background cannot be read back.
void paintBackground(X11Session& session, QPainter& painter, const QRect& area)
{
    painter.fillRect(area, Qt::black);
    xcb_connection_t* c = session.connection();
    static constexpr char name[] = "_XROOTPMAP_ID";
    auto atom = x11Reply(xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return;
    auto property = x11Reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, session.root(), atom->atom, XCB_ATOM_PIXMAP, 0, 1), nullptr));
    if (!property || xcb_get_property_value_length(property.get()) != sizeof(xcb_pixmap_t))
        return;
    const xcb_pixmap_t wallpaper = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(property.get()));
    if (auto pixels = readPixels(session, wallpaper, area.x(), area.y(), area.width(), area.height()))
        painter.drawImage(area.topLeft(), pixels->view());
}

// The part `area` of a window's own picture, whole even where other windows
// cover it; nothing when the server keeps no picture of it.
std::optional<RawImage> windowPicture(X11Session& session, const TopLevel& window, const QRect& area)
{
    xcb_connection_t* c = session.connection();
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    if (auto error = x11Reply(xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, window.window, pixmap))))
        return std::nullopt;
    auto pixels = readPixels(session, pixmap, area.x() - window.frame.x(), area.y() - window.frame.y(), area.width(),
                             area.height());
    xcb_free_pixmap(c, pixmap);
    return pixels;
}

} // namespace

bool paintOverLeftOutWindows(X11Session& session, const ContentFilter& filter, QImage& picture, QPoint origin)
{
    if (filter.excludedWindows.empty() && !filter.excludesCurrentProcessWindows)
        return true;
    const auto windows = mappedTopLevels(session, filter);
    if (!windows)
        return false;
    const QRect area(origin, picture.size());
    QRegion hidden;
    for (const TopLevel& window : *windows) {
        if (window.leftOut)
            hidden += window.frame & area;
    }
    if (hidden.isEmpty())
        return true;

    // Painted in root coordinates, never outside the left-out windows.
    QPainter painter(&picture);
    painter.translate(-origin);
    painter.setClipRegion(hidden);
    paintBackground(session, painter, hidden.boundingRect());
    for (const TopLevel& window : *windows) {
        const QRegion part = hidden & window.frame;
        if (window.leftOut || part.isEmpty())
            continue;
        if (auto pixels = windowPicture(session, window, part.boundingRect())) {
            painter.setClipRegion(part);
            painter.drawImage(part.boundingRect().topLeft(), pixels->view());
        }
    }
    painter.end();
    return !session.broken();
}

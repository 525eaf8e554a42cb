#include "platform/linux/desktop/virtual_desktops.h"

#include <QSocketNotifier>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

std::unique_ptr<VirtualDesktops> VirtualDesktops::open()
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<VirtualDesktops>(new VirtualDesktops(connection, screens.data->root));
}

VirtualDesktops::VirtualDesktops(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root)
{
    currentDesktop_ = internAtom(connection_, "_NET_CURRENT_DESKTOP");
    windowDesktop_ = internAtom(connection_, "_NET_WM_DESKTOP");
    // Event masks belong to each client: this one hears root's property
    // changes without changing what any other connection receives.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    known_ = current();
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &VirtualDesktops::readEvents);
}

VirtualDesktops::~VirtualDesktops()
{
    notifier_.reset();
    xcb_disconnect(connection_);
}

int VirtualDesktops::add(std::function<void()> changed)
{
    const int key = nextKey_++;
    observers_.emplace(key, std::move(changed));
    return key;
}

void VirtualDesktops::remove(int key)
{
    observers_.erase(key);
}

std::optional<uint32_t> VirtualDesktops::current()
{
    if (currentDesktop_ == XCB_ATOM_NONE)
        return std::nullopt;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, root_, currentDesktop_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    if (!reply)
        return std::nullopt;
    std::optional<uint32_t> desktop;
    if (reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        desktop = *static_cast<const uint32_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return desktop;
}

void VirtualDesktops::moveToCurrent(uint32_t window)
{
    const auto desktop = current();
    if (!desktop || windowDesktop_ == XCB_ATOM_NONE)
        return;
    xcb_client_message_event_t message {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = windowDesktop_;
    message.data.data32[0] = *desktop;
    // Asked as a pager asks: some window managers (evilwm) move windows
    // between desktops only for pagers.
    message.data.data32[1] = 2;
    xcb_send_event(connection_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection_);
}

void VirtualDesktops::readEvents()
{
    bool switched = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (property->window == root_ && property->atom == currentDesktop_)
                switched = true;
        }
        std::free(event);
    }
    if (!switched)
        return;
    // Window managers rewrite the property with the same value now and then.
    const auto now = current();
    if (now == known_)
        return;
    known_ = now;
    // An observer may end its own or another registration while being told.
    std::vector<int> keys;
    for (const auto& [key, observer] : observers_)
        keys.push_back(key);
    for (int key : keys) {
        const auto found = observers_.find(key);
        if (found == observers_.end())
            continue;
        auto observer = found->second;
        observer();
    }
}

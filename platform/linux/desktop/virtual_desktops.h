#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <optional>
#include <memory>

#include <xcb/xcb.h>

class QSocketNotifier;
class QWindow;

// The X11 virtual desktops as the window manager announces them on the root
// window (_NET_CURRENT_DESKTOP). Keeps its own connection, so that the
// property events it asks for reach nobody else. Main thread only.
class VirtualDesktops final : public QObject {
    Q_OBJECT

public:
    // Nothing when no X server answers.
    static std::unique_ptr<VirtualDesktops> open();
    ~VirtualDesktops() override;

    // Registers `changed` for switches to another desktop; the number is the
    // key for remove().
    int add(std::function<void()> changed);
    void remove(int key);

    // The desktop in use, if the window manager tells.
    std::optional<uint32_t> current();
    // Asks the window manager to put `window` on the desktop in use.
    void moveToCurrent(uint32_t window);

private:
    VirtualDesktops(xcb_connection_t* connection, xcb_window_t root);
    void readEvents();

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_atom_t currentDesktop_ = XCB_ATOM_NONE;
    xcb_atom_t windowDesktop_ = XCB_ATOM_NONE;
    std::optional<uint32_t> known_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, std::function<void()>> observers_;
    int nextKey_ = 0;
};

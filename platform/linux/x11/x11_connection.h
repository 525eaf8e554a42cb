#pragma once

#include <QByteArray>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One connection to the X server with what every request needs. XCB is
// thread-safe, so the worker threads share it; a broken connection is
// replaced by the next caller.
class X11Session {
public:
    ~X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    xcb_connection_t* connection() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    int screenNumber() const { return screenNumber_; }
    xcb_ewmh_connection_t* ewmh() { return &ewmh_; }
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }

    bool hasShm() const { return hasShm_; }
    bool hasComposite() const { return hasComposite_; }
    // XFixes: the pointer's picture.
    bool hasCursorImage() const { return hasCursorImage_; }
    // RandR 1.5: monitors.
    bool hasMonitors() const { return hasMonitors_; }
    // Whether root's ZPixmap images are 32 bits a pixel, the only layout read.
    bool hasBgrxPixels() const { return bgrx_; }
    xcb_atom_t compositorSelection() const { return compositorSelection_; }

    // A shared-memory segment of at least `bytes`, attached to this server,
    // lent to one caller at a time.
    struct Segment {
        uint32_t id = 0;
        uint8_t* data = nullptr;
        size_t size = 0;
    };
    std::shared_ptr<Segment> borrowSegment(size_t bytes);

    // Opens a session on `displayName` (the environment's when empty);
    // nothing when no server answers.
    static std::shared_ptr<X11Session> open(const QByteArray& displayName);

private:
    X11Session() = default;
    void returnSegment(Segment* segment);

    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    int screenNumber_ = 0;
    xcb_ewmh_connection_t ewmh_ {};
    bool ewmhReady_ = false;
    bool hasShm_ = false;
    bool hasComposite_ = false;
    bool hasCursorImage_ = false;
    bool hasMonitors_ = false;
    bool bgrx_ = false;
    xcb_atom_t compositorSelection_ = XCB_ATOM_NONE;

    std::mutex segmentsMutex_;
    std::vector<Segment*> idleSegments_;
    std::vector<Segment*> allSegments_;
};

// Hands out the live session, reconnecting when the last one broke.
class X11Connection {
public:
    explicit X11Connection(QByteArray displayName = {}) : displayName_(std::move(displayName)) {}
    std::shared_ptr<X11Session> session();

private:
    QByteArray displayName_;
    std::mutex mutex_;
    std::shared_ptr<X11Session> current_;
};

// The selection that a compositing manager of X screen `screenNumber` owns
// while it runs.
std::string compositorSelectionName(int screenNumber);
// Whether a compositing manager runs: someone owns its `selection`.
bool compositingManagerRuns(xcb_connection_t* connection, xcb_atom_t selection);

// A reply that frees itself.
template <class T>
using X11Reply = std::unique_ptr<T, decltype(&free)>;

template <class T>
X11Reply<T> x11Reply(T* reply)
{
    return X11Reply<T>(reply, &free);
}

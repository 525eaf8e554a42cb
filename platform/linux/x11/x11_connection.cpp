#include "platform/linux/x11/x11_connection.h"

#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <string>

X11Session::~X11Session()
{
    for (Segment* segment : allSegments_) {
        xcb_shm_detach(connection_, segment->id);
        shmdt(segment->data);
        delete segment;
    }
    if (ewmhReady_)
        xcb_ewmh_connection_wipe(&ewmh_);
    xcb_disconnect(connection_);
}

std::shared_ptr<X11Session> X11Session::open(const QByteArray& displayName)
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    std::shared_ptr<X11Session> session(new X11Session);
    session->connection_ = connection;
    if (xcb_connection_has_error(connection))
        return nullptr;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return nullptr;
    session->screen_ = screens.data;
    session->screenNumber_ = screenNumber;

    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
        if (formats.data->depth == session->screen_->root_depth)
            session->bgrx_ = formats.data->bits_per_pixel == 32 && setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    }

    // Everything asked at once, answers collected after.
    xcb_intern_atom_cookie_t* ewmhCookies = xcb_ewmh_init_atoms(connection, &session->ewmh_);
    const std::string selection = compositorSelectionName(screenNumber);
    const auto selectionCookie = xcb_intern_atom(connection, 0, selection.size(), selection.c_str());
    xcb_prefetch_extension_data(connection, &xcb_shm_id);
    xcb_prefetch_extension_data(connection, &xcb_composite_id);
    xcb_prefetch_extension_data(connection, &xcb_randr_id);
    xcb_prefetch_extension_data(connection, &xcb_xfixes_id);
    const auto shmVersion = xcb_shm_query_version(connection);
    const auto randrVersion = xcb_randr_query_version(connection, 1, 5);
    const auto compositeVersion = xcb_composite_query_version(connection, 0, 4);
    const auto xfixesVersion = xcb_xfixes_query_version(connection, 4, 0);

    session->ewmhReady_ = xcb_ewmh_init_atoms_replies(&session->ewmh_, ewmhCookies, nullptr) != 0;
    if (auto reply = x11Reply(xcb_intern_atom_reply(connection, selectionCookie, nullptr)))
        session->compositorSelection_ = reply->atom;
    if (auto reply = x11Reply(xcb_shm_query_version_reply(connection, shmVersion, nullptr)))
        session->hasShm_ = true;
    if (auto reply = x11Reply(xcb_randr_query_version_reply(connection, randrVersion, nullptr)))
        session->hasMonitors_ = reply->major_version > 1 || (reply->major_version == 1 && reply->minor_version >= 5);
    if (auto reply = x11Reply(xcb_composite_query_version_reply(connection, compositeVersion, nullptr)))
        session->hasComposite_ = reply->major_version > 0 || reply->minor_version >= 2;
    if (auto reply = x11Reply(xcb_xfixes_query_version_reply(connection, xfixesVersion, nullptr)))
        session->hasCursorImage_ = reply->major_version >= 1;
    if (!session->ewmhReady_ || xcb_connection_has_error(connection))
        return nullptr;
    // Every top-level window keeps its own picture, also where others cover
    // it, so that a display's picture can show what lies beneath our own
    // windows. The server still draws the screen by itself, a compositing
    // manager redirects as usual over it, and the server drops it when this
    // connection closes.
    if (session->hasComposite_)
        xcb_composite_redirect_subwindows(connection, session->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    return session;
}

std::shared_ptr<X11Session::Segment> X11Session::borrowSegment(size_t bytes)
{
    Segment* segment = nullptr;
    {
        std::lock_guard lock(segmentsMutex_);
        for (auto it = idleSegments_.begin(); it != idleSegments_.end(); ++it) {
            if ((*it)->size >= bytes) {
                segment = *it;
                idleSegments_.erase(it);
                break;
            }
        }
    }
    if (!segment) {
        const int shmId = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (shmId < 0)
            return nullptr;
        void* data = shmat(shmId, nullptr, 0);
        if (data == reinterpret_cast<void*>(-1)) {
            shmctl(shmId, IPC_RMID, nullptr);
            return nullptr;
        }
        const uint32_t id = xcb_generate_id(connection_);
        auto error = x11Reply(xcb_request_check(connection_, xcb_shm_attach_checked(connection_, id, shmId, 0)));
        // Marked for removal now: it goes away with the last detach, even
        // when this process dies.
        shmctl(shmId, IPC_RMID, nullptr);
        if (error) {
            shmdt(data);
            return nullptr;
        }
        segment = new Segment{id, static_cast<uint8_t*>(data), bytes};
        std::lock_guard lock(segmentsMutex_);
        allSegments_.push_back(segment);
    }
    // The session outlives what it lends: borrowers hold the session too.
    return std::shared_ptr<Segment>(segment, [this](Segment* s) { returnSegment(s); });
}

void X11Session::returnSegment(Segment* segment)
{
    std::lock_guard lock(segmentsMutex_);
    idleSegments_.push_back(segment);
}

std::shared_ptr<X11Session> X11Connection::session()
{
    std::lock_guard lock(mutex_);
    if (!current_ || current_->broken())
        current_ = X11Session::open(displayName_);
    return current_;
}

std::string compositorSelectionName(int screenNumber)
{
    return "_NET_WM_CM_S" + std::to_string(screenNumber);
}

bool compositingManagerRuns(xcb_connection_t* connection, xcb_atom_t selection)
{
    if (selection == XCB_ATOM_NONE)
        return false;
    auto owner = x11Reply(xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

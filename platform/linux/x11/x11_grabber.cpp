#include "platform/linux/x11/x11_grabber.h"

#include "platform/linux/x11/frame_scaler.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_content.h"
#include "platform/linux/x11/x11_left_out_windows.h"
#include "platform/linux/x11/x11_pixels.h"

#include <xcb/composite.h>
#include <xcb/xfixes.h>
#include <xcb/xcb_ewmh.h>

#include <QPainter>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

// Under a compositor a window's pixels live in its off-screen pixmap, whole
// even when covered; the window manager's frame is the redirected window, so
// the client is cut out of the frame's pixmap.
std::optional<RawImage> readComposited(X11Session& session, xcb_window_t window, int width, int height)
{
    xcb_connection_t* c = session.connection();
    const xcb_window_t top = topLevelOf(session, window);
    auto offset = x11Reply(xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, top, 0, 0), nullptr));
    if (!offset)
        return std::nullopt;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    if (auto error = x11Reply(xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, top, pixmap))))
        return std::nullopt;
    auto image = readPixels(session, pixmap, offset->dst_x, offset->dst_y, width, height);
    xcb_free_pixmap(c, pixmap);
    return image;
}

std::optional<RawImage> readWindow(X11Session& session, xcb_window_t window)
{
    xcb_connection_t* c = session.connection();
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto positionCookie = xcb_translate_coordinates(c, window, session.root(), 0, 0);
    auto geometry = x11Reply(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    auto attributes = x11Reply(xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    auto position = x11Reply(xcb_translate_coordinates_reply(c, positionCookie, nullptr));
    // An unmapped (minimised, closed) window has no pixels to read.
    if (!geometry || !attributes || !position || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return std::nullopt;
    const QPoint origin(position->dst_x, position->dst_y);
    std::optional<RawImage> image;
    if (session.hasComposite() && compositingManagerRuns(session.connection(), session.compositorSelection()))
        image = readComposited(session, window, geometry->width, geometry->height);
    if (!image) {
        // The server reads a window only where it lies on the screen; the
        // part beyond the edge stays black.
        const QRect whole(origin, QSize(geometry->width, geometry->height));
        const QRect visible = whole.intersected(
            QRect(0, 0, session.screen()->width_in_pixels, session.screen()->height_in_pixels));
        if (visible.isEmpty())
            return std::nullopt;
        const QRect part = visible.translated(-origin);
        image = readPixels(session, window, part.x(), part.y(), part.width(), part.height());
        if (image && visible != whole) {
            RawImage padded;
            padded.owned = QImage(whole.size(), QImage::Format_RGB32);
            padded.owned.fill(Qt::black);
            QPainter(&padded.owned)
                .drawImage(part.topLeft(), QImage(image->data, image->width, image->height, image->stride,
                                                  QImage::Format_RGB32));
            padded.data = padded.owned.bits();
            padded.stride = int(padded.owned.bytesPerLine());
            padded.width = whole.width();
            padded.height = whole.height();
            image = std::move(padded);
        }
    }
    if (image)
        image->origin = origin;
    return image;
}

std::optional<X11Monitor> monitorWithId(X11Session& session, uint32_t id)
{
    const auto monitors = listMonitors(session);
    if (!monitors)
        return std::nullopt;
    const auto it = std::find_if(monitors->begin(), monitors->end(), [&](const X11Monitor& m) { return m.id == id; });
    if (it == monitors->end())
        return std::nullopt;
    // Only the part that lies on the root can be read.
    const QRect onRoot = QRect(it->x, it->y, it->width, it->height)
                             .intersected(QRect(0, 0, session.screen()->width_in_pixels,
                                                session.screen()->height_in_pixels));
    if (onRoot.isEmpty())
        return std::nullopt;
    return X11Monitor{it->id, onRoot.x(), onRoot.y(), onRoot.width(), onRoot.height()};
}

// Only the windows of the included processes, painted in stacking order on
// black at their places on the display.
std::optional<QImage> grabApplications(X11Session& session, const ContentFilter& filter, const X11Monitor& monitor)
{
    QSet<qint64> pids;
    for (const auto& application : filter.includedApplications)
        pids.insert(application.processID);

    const auto windows = listClientWindows(session);
    if (!windows)
        return std::nullopt;
    QImage canvas(monitor.width, monitor.height, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    xcb_ewmh_connection_t* ewmh = session.ewmh();
    for (xcb_window_t window : *windows) {
        uint32_t pid = 0;
        if (!xcb_ewmh_get_wm_pid_reply(ewmh, xcb_ewmh_get_wm_pid(ewmh, window), &pid, nullptr)
            || !pids.contains(pid))
            continue;
        if (auto pixels = readWindow(session, window)) {
            painter.drawImage(pixels->origin - QPoint(monitor.x, monitor.y),
                              QImage(pixels->data, pixels->width, pixels->height, pixels->stride,
                                     QImage::Format_RGB32));
        }
    }
    painter.end();
    if (session.broken())
        return std::nullopt;
    return canvas;
}

// Paints the pointer into pixels whose top-left lies at `origin` on the root.
void drawCursor(X11Session& session, uint8_t* data, int stride, int width, int height, QPoint origin)
{
    if (!session.hasCursorImage())
        return;
    xcb_connection_t* c = session.connection();
    auto cursor = x11Reply(xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!cursor || cursor->width == 0 || cursor->height == 0
        || xcb_xfixes_get_cursor_image_cursor_image_length(cursor.get()) < cursor->width * cursor->height)
        return;
    const QImage picture(reinterpret_cast<const uchar*>(xcb_xfixes_get_cursor_image_cursor_image(cursor.get())),
                         cursor->width, cursor->height, QImage::Format_ARGB32_Premultiplied);
    QImage target(data, width, height, stride, QImage::Format_RGB32);
    QPainter painter(&target);
    painter.drawImage(QPoint(cursor->x - cursor->xhot, cursor->y - cursor->yhot) - origin, picture);
}

// Only `region` of the monitor's picture at `size`: the monitor's pixels
// under it are read, with a margin for the scaler's neighbours, and scaled by
// the same factors as the whole monitor would be, so that the part matches
// the whole picture's pixels where it lies.
std::optional<QImage> grabRegion(X11Session& session, const ContentFilter& filter, const X11Monitor& monitor,
                                 QSize size, QRect region, bool showsCursor)
{
    const double sx = double(monitor.width) / size.width();
    const double sy = double(monitor.height) / size.height();
    // Even starts keep the 2×2 averaging of large reductions on the grid of
    // the whole picture.
    const int margin = 2;
    int left = int(std::floor(region.left() * sx)) - margin;
    int top = int(std::floor(region.top() * sy)) - margin;
    left -= ((left % 2) + 2) % 2;
    top -= ((top % 2) + 2) % 2;
    const QRect device = QRect(QPoint(left, top), QPoint(int(std::ceil((region.right() + 1) * sx)) + margin,
                                                         int(std::ceil((region.bottom() + 1) * sy)) + margin))
                             .intersected(QRect(0, 0, monitor.width, monitor.height));
    if (device.isEmpty())
        return std::nullopt;
    auto pixels = readPixels(session, session.root(), monitor.x + device.x(), monitor.y + device.y(), device.width(),
                             device.height());
    if (!pixels)
        return std::nullopt;
    // The part keeps our own windows out as the whole picture does.
    const QPoint origin(monitor.x + device.x(), monitor.y + device.y());
    QImage picture = pixels->view();
    if (!paintOverLeftOutWindows(session, filter, picture, origin))
        return std::nullopt;
    if (showsCursor)
        drawCursor(session, pixels->data, pixels->stride, pixels->width, pixels->height, origin);
    // Where the part read lies in the whole picture.
    const int outLeft = int(std::lround(device.left() / sx));
    const int outTop = int(std::lround(device.top() / sy));
    const QSize outSize(int(std::lround((device.right() + 1) / sx)) - outLeft,
                        int(std::lround((device.bottom() + 1) / sy)) - outTop);
    const QImage scaled = pixels->scaled(outSize);
    const QRect wanted = region.translated(-outLeft, -outTop).intersected(scaled.rect());
    if (scaled.isNull() || wanted.isEmpty())
        return std::nullopt;
    return wanted == scaled.rect() ? scaled : scaled.copy(wanted);
}

} // namespace

std::optional<QImage> grabFilter(X11Session& session, const ContentFilter& filter,
                                 const StreamConfiguration& configuration)
{
    const QSize size(configuration.width, configuration.height);
    if (size.width() < 1 || size.height() < 1)
        return std::nullopt;
    std::optional<QRect> region;
    if (configuration.region) {
        region = configuration.region->intersected(QRect(QPoint(0, 0), size));
        if (region->isEmpty())
            return std::nullopt;
    }
    std::optional<RawImage> pixels;
    switch (filter.kind) {
    case ContentFilter::Kind::Window:
        pixels = readWindow(session, filter.window.windowID);
        break;
    // X11 has no dialog of its own to pick from: the display is the choice.
    case ContentFilter::Kind::DesktopChoice:
    case ContentFilter::Kind::Display: {
        const auto monitor = monitorWithId(session, filter.display.displayID);
        if (!monitor)
            return std::nullopt;
        if (region)
            return grabRegion(session, filter, *monitor, size, *region, configuration.showsCursor);
        pixels = readPixels(session, session.root(), monitor->x, monitor->y, monitor->width, monitor->height);
        if (pixels) {
            pixels->origin = QPoint(monitor->x, monitor->y);
            QImage picture = pixels->view();
            if (!paintOverLeftOutWindows(session, filter, picture, pixels->origin))
                return std::nullopt;
        }
        break;
    }
    case ContentFilter::Kind::Applications: {
        const auto monitor = monitorWithId(session, filter.display.displayID);
        if (!monitor)
            return std::nullopt;
        auto canvas = grabApplications(session, filter, *monitor);
        if (!canvas)
            return std::nullopt;
        if (configuration.showsCursor)
            drawCursor(session, canvas->bits(), int(canvas->bytesPerLine()), canvas->width(), canvas->height(),
                       QPoint(monitor->x, monitor->y));
        const QImage image = scaleBgrx(canvas->constBits(), int(canvas->bytesPerLine()), canvas->width(),
                                       canvas->height(), size.width(), size.height());
        if (image.isNull())
            return std::nullopt;
        return region ? image.copy(*region) : image;
    }
    }
    if (!pixels)
        return std::nullopt;
    if (configuration.showsCursor)
        drawCursor(session, pixels->data, pixels->stride, pixels->width, pixels->height, pixels->origin);
    const QImage image = pixels->scaled(size);
    if (image.isNull())
        return std::nullopt;
    return region ? image.copy(*region) : image;
}

std::optional<QString> lostSource(X11Session& session, const ContentFilter& filter)
{
    if (filter.kind == ContentFilter::Kind::Window) {
        xcb_connection_t* c = session.connection();
        // A destroyed window answers with an error; an unmapped one still
        // has attributes and may come back.
        auto attributes = x11Reply(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, filter.window.windowID), nullptr));
        if (!attributes && !session.broken())
            return QStringLiteral("записываемое окно закрыто");
        return std::nullopt;
    }
    if (!monitorWithId(session, filter.display.displayID) && !session.broken())
        return QStringLiteral("записываемый экран отключён");
    return std::nullopt;
}

#pragma once

#include "platform/linux/x11/x11_connection.h"

#include <QImage>
#include <QPoint>
#include <QSize>

#include <memory>
#include <optional>

// Pixels read from the server, 32-bit BGRx, valid while this lives.
struct RawImage {
    std::shared_ptr<X11Session::Segment> segment;
    X11Reply<xcb_get_image_reply_t> reply{nullptr, &free};
    QImage owned;
    uint8_t* data = nullptr;
    // Where the top-left pixel lies on the root.
    QPoint origin;
    int stride = 0;
    int width = 0;
    int height = 0;

    QImage scaled(QSize size) const;
    // The pixels in place, for painting over them.
    QImage view() const { return QImage(data, width, height, stride, QImage::Format_RGB32); }
};

// A rectangle of a window or pixmap, through shared memory when the server
// offers it; nothing when it cannot be read or is not 32 bits a pixel.
std::optional<RawImage> readPixels(X11Session& session, xcb_drawable_t drawable, int x, int y, int width, int height);

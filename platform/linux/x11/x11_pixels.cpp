#include "platform/linux/x11/x11_pixels.h"

#include "platform/linux/x11/frame_scaler.h"

#include <xcb/shm.h>

namespace {

bool thirtyTwoBits(X11Session& session, uint8_t depth)
{
    // Depth 24 and 32 drawables come as 32-bit pixels on every server that
    // has 32-bit root pixels; others are not read.
    return session.hasBgrxPixels() && (depth == 24 || depth == 32);
}

} // namespace

QImage RawImage::scaled(QSize size) const
{
    return scaleBgrx(data, stride, width, height, size.width(), size.height());
}

std::optional<RawImage> readPixels(X11Session& session, xcb_drawable_t drawable, int x, int y, int width, int height)
{
    if (width < 1 || height < 1)
        return std::nullopt;
    xcb_connection_t* c = session.connection();
    RawImage image;
    image.width = width;
    image.height = height;
    image.stride = width * 4;
    const size_t bytes = size_t(width) * height * 4;
    if (session.hasShm()) {
        if (auto segment = session.borrowSegment(bytes)) {
            auto reply = x11Reply(xcb_shm_get_image_reply(
                c,
                xcb_shm_get_image(c, drawable, int16_t(x), int16_t(y), uint16_t(width), uint16_t(height), ~0u,
                                  XCB_IMAGE_FORMAT_Z_PIXMAP, segment->id, 0),
                nullptr));
            if (!reply || !thirtyTwoBits(session, reply->depth))
                return std::nullopt;
            image.data = segment->data;
            image.segment = std::move(segment);
            return image;
        }
    }
    auto reply = x11Reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, int16_t(x), int16_t(y), uint16_t(width),
                      uint16_t(height), ~0u),
        nullptr));
    if (!reply || !thirtyTwoBits(session, reply->depth) || size_t(xcb_get_image_data_length(reply.get())) < bytes)
        return std::nullopt;
    image.data = xcb_get_image_data(reply.get());
    image.reply = std::move(reply);
    return image;
}

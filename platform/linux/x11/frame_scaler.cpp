#include "platform/linux/x11/frame_scaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <memory>
#include <vector>

namespace {

struct ContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// One pixel's four bytes spread over 16-bit lanes, so that four of them can
// be summed without carries: bytes 0 and 2 in the low half, 1 and 3 in the
// high half.
inline uint64_t spread(uint32_t pixel)
{
    return (pixel & 0x00FF00FFu) | (uint64_t(pixel & 0xFF00FF00u) << 24);
}

inline uint32_t gather(uint64_t lanes)
{
    lanes &= 0x00FF00FF00FF00FFull;
    // Opaque, as the general scaler makes it: the X server leaves the fourth
    // byte undefined.
    return uint32_t(lanes) | uint32_t(lanes >> 24) | 0xFF000000u;
}

// Each 2×2 block of pixels averaged (rounded) into one; an odd last column
// or row is left out. Several times cheaper than the general scaler, and for
// a reduction by two exactly what area averaging gives.
void halve(const uint8_t* pixels, int stride, int width, int height, uint8_t* out, int outStride)
{
    const int outWidth = width / 2, outHeight = height / 2;
    for (int y = 0; y < outHeight; ++y) {
        const auto* upper = reinterpret_cast<const uint32_t*>(pixels + size_t(2 * y) * stride);
        const auto* lower = reinterpret_cast<const uint32_t*>(pixels + size_t(2 * y + 1) * stride);
        auto* target = reinterpret_cast<uint32_t*>(out + size_t(y) * outStride);
        for (int x = 0; x < outWidth; ++x) {
            const uint64_t sum = spread(upper[2 * x]) + spread(upper[2 * x + 1]) + spread(lower[2 * x])
                               + spread(lower[2 * x + 1]) + 0x0002000200020002ull;
            target[x] = gather(sum >> 2);
        }
    }
}

} // namespace

QImage scaleBgrx(const uint8_t* pixels, int stride, int width, int height, int outWidth, int outHeight)
{
    if (!pixels || width < 1 || height < 1 || outWidth < 1 || outHeight < 1)
        return {};
    QImage out(outWidth, outHeight, QImage::Format_RGB32);
    if (out.isNull())
        return {};
    // Large reductions (a screen to a video frame, a window to a thumbnail)
    // first halve the picture as often as it stays at least the asked size;
    // the general scaler then has a quarter of the pixels or fewer to read
    // each time, or nothing to do at all.
    // Kept per thread like the scaler context: a stream halves a picture of
    // the same size ten times a second.
    thread_local std::vector<uint8_t> halves[2];
    for (int step = 0; width / 2 >= outWidth && height / 2 >= outHeight; ++step) {
        const int halfWidth = width / 2, halfHeight = height / 2;
        if (halfWidth == outWidth && halfHeight == outHeight) {
            halve(pixels, stride, width, height, out.bits(), int(out.bytesPerLine()));
            return out;
        }
        std::vector<uint8_t>& half = halves[step % 2];
        half.resize(size_t(halfWidth) * halfHeight * 4);
        halve(pixels, stride, width, height, half.data(), halfWidth * 4);
        pixels = half.data();
        stride = halfWidth * 4;
        width = halfWidth;
        height = halfHeight;
    }
    // Each worker thread keeps its context: the same sizes come again and
    // again (thumbnails, stream frames).
    thread_local std::unique_ptr<SwsContext, ContextDeleter> cached;
    const bool shrinking = outWidth <= width && outHeight <= height;
    SwsContext* context = sws_getCachedContext(cached.release(), width, height, AV_PIX_FMT_BGR0, outWidth, outHeight,
                                               AV_PIX_FMT_BGRA, shrinking ? SWS_AREA : SWS_BILINEAR, nullptr,
                                               nullptr, nullptr);
    cached.reset(context);
    if (!context)
        return {};
    const uint8_t* source[4] = {pixels, nullptr, nullptr, nullptr};
    const int sourceStride[4] = {stride, 0, 0, 0};
    uint8_t* target[4] = {out.bits(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {int(out.bytesPerLine()), 0, 0, 0};
    if (sws_scale(context, source, sourceStride, 0, height, target, targetStride) != outHeight)
        return {};
    return out;
}

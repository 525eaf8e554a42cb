#include "platform/linux/x11/frame_scaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <memory>

namespace {

struct ContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

} // namespace

QImage scaleBgrx(const uint8_t* pixels, int stride, int width, int height, int outWidth, int outHeight)
{
    if (!pixels || width < 1 || height < 1 || outWidth < 1 || outHeight < 1)
        return {};
    QImage out(outWidth, outHeight, QImage::Format_RGB32);
    if (out.isNull())
        return {};
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

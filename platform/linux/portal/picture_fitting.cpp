#include "platform/linux/portal/picture_fitting.h"

#include "platform/linux/x11/frame_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

QImage fitPicture(const uint8_t* pixels, int stride, int width, int height, int outWidth, int outHeight)
{
    if (!pixels || width < 1 || height < 1 || outWidth < 1 || outHeight < 1)
        return {};
    const double scale = std::min(double(outWidth) / width, double(outHeight) / height);
    const int fittedWidth = std::clamp(int(std::lround(width * scale)), 1, outWidth);
    const int fittedHeight = std::clamp(int(std::lround(height * scale)), 1, outHeight);
    // Within a pixel of the video's shape: edge to edge, no bars of one pixel.
    if (outWidth - fittedWidth <= 1 && outHeight - fittedHeight <= 1)
        return scaleBgrx(pixels, stride, width, height, outWidth, outHeight);
    const QImage fitted = scaleBgrx(pixels, stride, width, height, fittedWidth, fittedHeight);
    if (fitted.isNull())
        return {};
    QImage canvas(outWidth, outHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    const int left = (outWidth - fittedWidth) / 2;
    const int top = (outHeight - fittedHeight) / 2;
    for (int y = 0; y < fittedHeight; ++y)
        std::memcpy(canvas.scanLine(top + y) + left * 4, fitted.constScanLine(y), size_t(fittedWidth) * 4);
    return canvas;
}

#include "shots/shot_shadow.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// Widths of three box filters that together approximate a Gaussian of the
// given standard deviation (three passes of a box blur converge on it).
std::array<int, 3> boxWidths(double sigma)
{
    constexpr int passes = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / passes + 1);
    int lower = int(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const double m = std::round((12 * sigma * sigma - passes * lower * lower - 4 * passes * lower - 3 * passes)
                                / (-4.0 * lower - 4));
    std::array<int, 3> widths{};
    for (int i = 0; i < passes; ++i)
        widths[size_t(i)] = i < m ? lower : upper;
    return widths;
}

// One box pass along each row; pixels beyond the ends count as transparent.
void blurRows(QImage& mask, int radius, std::vector<uchar>& line)
{
    const int width = mask.width();
    const int window = 2 * radius + 1;
    line.resize(size_t(width));
    for (int y = 0; y < mask.height(); ++y) {
        uchar* row = mask.scanLine(y);
        std::copy(row, row + width, line.begin());
        int sum = 0;
        for (int x = 0; x < radius && x < width; ++x)
            sum += line[size_t(x)];
        for (int x = 0; x < width; ++x) {
            if (x + radius < width)
                sum += line[size_t(x + radius)];
            if (x - radius - 1 >= 0)
                sum -= line[size_t(x - radius - 1)];
            row[x] = uchar((sum + window / 2) / window);
        }
    }
}

// One box pass down every column at once, a row at a time, to stay in cache.
void blurColumns(QImage& mask, int radius, std::vector<int>& sums, std::vector<uchar>& source)
{
    const int width = mask.width();
    const int height = mask.height();
    const int window = 2 * radius + 1;
    const qsizetype stride = mask.bytesPerLine();
    source.assign(mask.constBits(), mask.constBits() + stride * height);
    sums.assign(size_t(width), 0);
    const auto at = [&](int y) { return source.data() + stride * y; };
    for (int y = 0; y < radius && y < height; ++y)
        for (int x = 0; x < width; ++x)
            sums[size_t(x)] += at(y)[x];
    for (int y = 0; y < height; ++y) {
        const uchar* entering = y + radius < height ? at(y + radius) : nullptr;
        const uchar* leaving = y - radius - 1 >= 0 ? at(y - radius - 1) : nullptr;
        uchar* out = mask.scanLine(y);
        for (int x = 0; x < width; ++x) {
            int& sum = sums[size_t(x)];
            if (entering)
                sum += entering[x];
            if (leaving)
                sum -= leaving[x];
            out[x] = uchar((sum + window / 2) / window);
        }
    }
}

void gaussianBlur(QImage& mask, double sigma)
{
    if (sigma < 0.5)
        return;
    std::vector<uchar> line;
    std::vector<int> sums;
    for (int width : boxWidths(sigma))
        blurRows(mask, (width - 1) / 2, line);
    for (int width : boxWidths(sigma))
        blurColumns(mask, (width - 1) / 2, sums, line);
}

} // namespace

void drawShadow(QPainter& painter, const QPainterPath& shape, QPointF offset, double blurRadius,
                const QColor& color)
{
    const QTransform world = painter.worldTransform();
    const double scale = std::sqrt(std::abs(world.determinant()));
    const double sigma = blurRadius * scale / 2;
    const QPainterPath moved = world.map(shape.translated(offset));

    // Only the part that can reach the device is rendered: the shape's
    // bounds grown by the blur's reach, cut to the device grown the same way
    // (so parts just outside still bleed in).
    const double reach = std::ceil(3 * sigma) + 1;
    const QPaintDevice* device = painter.device();
    const QRectF visible = QRectF(0, 0, device->width(), device->height()).adjusted(-reach, -reach, reach, reach);
    const QRect area = (moved.boundingRect().adjusted(-reach, -reach, reach, reach) & visible).toAlignedRect();
    if (area.isEmpty())
        return;

    // A wide blur leaves no detail finer than a few pixels, so the mask is
    // rendered and blurred at a lower resolution and scaled back up smoothly:
    // the work shrinks with the square of the factor, the look does not change.
    const int factor = std::max(1, int(sigma / 2));
    const QSize maskSize((area.width() + factor - 1) / factor, (area.height() + factor - 1) / factor);
    QImage mask(maskSize, QImage::Format_Alpha8);
    if (mask.isNull())
        return;
    mask.fill(0);
    {
        QPainter maskPainter(&mask);
        maskPainter.setRenderHint(QPainter::Antialiasing);
        maskPainter.scale(1.0 / factor, 1.0 / factor);
        maskPainter.translate(-area.topLeft());
        maskPainter.fillPath(moved, QColor(0, 0, 0, 255));
    }
    gaussianBlur(mask, sigma / factor);

    // Colour the blurred coverage (premultiplied, so every channel scales).
    QImage tinted(maskSize, QImage::Format_ARGB32_Premultiplied);
    const QRgb ink = color.rgba();
    const int alpha = qAlpha(ink);
    for (int y = 0; y < maskSize.height(); ++y) {
        const uchar* coverage = mask.constScanLine(y);
        auto* out = reinterpret_cast<QRgb*>(tinted.scanLine(y));
        for (int x = 0; x < maskSize.width(); ++x) {
            const int a = coverage[x] * alpha / 255;
            out[x] = qRgba(qRed(ink) * a / 255, qGreen(ink) * a / 255, qBlue(ink) * a / 255, a);
        }
    }

    painter.save();
    painter.resetTransform();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(area.topLeft(), QSizeF(maskSize * factor)), tinted);
    painter.restore();
}

#include "platform/linux/x11/frame_scaler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// X server pixels: BGRx rows of `stride` bytes, the fourth byte and the
// padding beyond each row filled with junk the scaler must not show.
struct ServerPixels {
    // Noisy: neighbours differ by tens of levels. Otherwise smooth ramps.
    ServerPixels(int width, int height, int stride, bool noisy) : width(width), height(height), stride(stride)
    {
        bytes.assign(size_t(stride) * height, 0xA5);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint8_t* pixel = &bytes[size_t(y) * stride + 4 * x];
                if (noisy) {
                    pixel[0] = uint8_t((x * 7 + y * 3) % 256);
                    pixel[1] = uint8_t((x * 13) % 256);
                    pixel[2] = uint8_t((y * 11 + x) % 256);
                } else {
                    pixel[0] = uint8_t(x * 255 / width);
                    pixel[1] = uint8_t(y * 255 / height);
                    pixel[2] = uint8_t((x + y) * 255 / (width + height));
                }
                pixel[3] = uint8_t(x * 31 + y);
            }
        }
    }
    // The plain average of the source block that output pixel (x, y) covers.
    QColor areaAverage(int x, int y, int outWidth, int outHeight) const
    {
        const int x0 = x * width / outWidth, x1 = (x + 1) * width / outWidth;
        const int y0 = y * height / outHeight, y1 = (y + 1) * height / outHeight;
        double sum[3] {};
        for (int sy = y0; sy < y1; ++sy) {
            for (int sx = x0; sx < x1; ++sx) {
                for (int c = 0; c < 3; ++c)
                    sum[c] += bytes[size_t(sy) * stride + 4 * sx + c];
            }
        }
        const double n = double(x1 - x0) * (y1 - y0);
        return QColor(int(sum[2] / n + 0.5), int(sum[1] / n + 0.5), int(sum[0] / n + 0.5));
    }
    QImage scaled(int outWidth, int outHeight) const
    {
        return scaleBgrx(bytes.data(), stride, width, height, outWidth, outHeight);
    }

    int width, height, stride;
    std::vector<uint8_t> bytes;
};

int distance(QColor a, QColor b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

TEST(FrameScaler, ReductionsGiveAnOpaqueImageOfTheAreaAverage)
{
    // Halving gives the exact average of each block, also of noisy pixels in
    // padded rows. 2560×1440 → 960×540 halves once and scales the rest;
    // 3840×2160 → 960×540 halves twice; 1366×768 → 480×270 halves and
    // scales; an odd width and height drop their last column and row.
    struct Case {
        int width, height, padding;
        bool noisy;
        int outWidth, outHeight, margin, tolerance;
    } cases[] = {{1920, 1080, 64, true, 960, 540, 0, 1},   {2560, 1440, 0, false, 960, 540, 1, 2},
                 {3840, 2160, 0, false, 960, 540, 1, 2},   {1366, 768, 0, false, 480, 270, 1, 2},
                 {1921, 1081, 0, false, 960, 540, 1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "×" << c.height);
        const ServerPixels screen(c.width, c.height, c.width * 4 + c.padding, c.noisy);
        const QImage frame = screen.scaled(c.outWidth, c.outHeight);
        ASSERT_EQ(frame.size(), QSize(c.outWidth, c.outHeight));
        int worst = 0;
        for (int y = c.margin; y < c.outHeight - c.margin; y += 7) {
            for (int x = c.margin; x < c.outWidth - c.margin; x += 5) {
                worst = std::max(worst, distance(frame.pixelColor(x, y), screen.areaAverage(x, y, c.outWidth, c.outHeight)));
                ASSERT_EQ(qAlpha(frame.pixel(x, y)), 255);
            }
        }
        EXPECT_LE(worst, c.tolerance);
    }
}

TEST(FrameScaler, SmallReductionsAndEnlargementsKeepTheirSize)
{
    const ServerPixels window(800, 600, 800 * 4, false);
    EXPECT_EQ(window.scaled(960, 720).size(), QSize(960, 720));
    EXPECT_EQ(window.scaled(500, 400).size(), QSize(500, 400));
    EXPECT_EQ(window.scaled(1, 1).size(), QSize(1, 1));
    EXPECT_TRUE(window.scaled(0, 10).isNull());
    EXPECT_TRUE(scaleBgrx(nullptr, 0, 800, 600, 400, 300).isNull());
}

} // namespace

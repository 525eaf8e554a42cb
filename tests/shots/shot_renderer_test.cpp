// What the flattened picture holds, pixel by pixel.
#include "shots/shot_canvas.h"
#include "shots/shot_renderer.h"

#include "tests/shots/canvas_driver.h"
#include "tests/shots/pictures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

QImage same(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

// The columns of `row` between `first` and `last` that hold exactly `ink`.
int inkedColumns(const QImage& image, int row, int first, int last, QRgb ink)
{
    int count = 0;
    for (int x = first; x <= last; ++x)
        count += (image.pixel(x, row) | 0xff000000) == (ink | 0xff000000);
    return count;
}

// The bounding box of the pixels where `image` differs from `before`.
QRect changed(const QImage& image, const QImage& before)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != before.pixel(x, y))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

class ShotRendererTest : public ::testing::Test {
protected:
    // Mouse events reach only a shown widget.
    std::unique_ptr<ShotCanvas> canvasFor(const QImage& shot, QSize shown)
    {
        auto canvas = std::make_unique<ShotCanvas>(shot);
        canvas->resize(shown);
        canvas->show();
        return canvas;
    }
};

} // namespace

TEST_F(ShotRendererTest, NoMarksAndADragStillGoingOnGiveTheScreenshotBackAtItsPixelSize)
{
    const QImage shot = pictures::gradient(300, 200);
    auto canvas = canvasFor(shot, {150, 100});
    EXPECT_EQ(same(canvas->flattened()), same(shot));
    driver::press(*canvas, {10, 10});
    driver::move(*canvas, {100, 80});
    ASSERT_TRUE(canvas->draft());
    EXPECT_EQ(same(canvas->flattened()), same(shot));
}

TEST_F(ShotRendererTest, SizesGrowWithPixelsPerShownPoint)
{
    // Shown at half its pixel width, a 4-point `normal` box line is 8 pixels.
    const QImage shot = pictures::plain(400, 300, QColor(200, 200, 200));
    auto canvas = canvasFor(shot, {200, 150});
    driver::drag(*canvas, ShotTool::box, {20, 20}, {120, 100});
    const QImage flat = canvas->flattened();
    const QRgb red = color(ShotColor::red).rgb();
    // Canvas y = 60 is pixel row 300 − 2 × 60; the left side is at x = 40.
    EXPECT_EQ(inkedColumns(flat, 180, 30, 50, red), 8);
    EXPECT_EQ(flat.pixel(36, 180), red);
    EXPECT_EQ(flat.pixel(43, 180), red);
    // Square corners: the corner pixel itself is inked.
    EXPECT_EQ(flat.pixel(36, 300 - 2 * 100 - 4), red);

    // Text follows the same factor.
    const QImage white = pictures::plain(600, 200, Qt::white);
    QSize inkAtFullSize;
    for (int shownWidth : {600, 300}) {
        auto textCanvas = canvasFor(white, {shownWidth, shownWidth / 3});
        driver::type(*textCanvas, {10, 20}, "ПРОВЕРКА");
        ASSERT_EQ(textCanvas->marks().size(), 1);
        const QSize ink = changed(textCanvas->flattened(), white).size();
        if (shownWidth == 600) {
            inkAtFullSize = ink;
            EXPECT_NEAR(ink.height(), 18 * 0.73, 3) << "capitals of an 18-point font";
        } else {
            EXPECT_NEAR(ink.width(), 2.0 * inkAtFullSize.width(), 0.08 * ink.width());
            EXPECT_NEAR(ink.height(), 2.0 * inkAtFullSize.height(), 3);
        }
    }
}

TEST_F(ShotRendererTest, EveryColourIsDrawnExactly)
{
    auto canvas = canvasFor(pictures::plain(400, 100, QColor(128, 128, 128)), {400, 100});
    for (size_t i = 0; i < allShotColors.size(); ++i)
        driver::drag(*canvas, ShotTool::box, {10.0 + 48 * i, 20}, {50.0 + 48 * i, 80}, ShotWeight::heavy,
                     allShotColors[i]);
    const QImage flat = canvas->flattened();
    pictures::keep(flat, "colours.png");
    for (size_t i = 0; i < allShotColors.size(); ++i) // on the left side's centre line
        EXPECT_EQ(flat.pixel(int(10 + 48 * i), 50), color(allShotColors[i]).rgb()) << "colour " << i;
}

TEST_F(ShotRendererTest, BlurTakesScreenshotColoursAndLaterMarksCoverIt)
{
    // Shown 1:1 at 600 points, blocks are 6 points.
    const QImage shot = pictures::gradient(600, 300);
    auto canvas = canvasFor(shot, {600, 300});
    // A thick black box, then a blur over its left side, then a box over the blur.
    driver::drag(*canvas, ShotTool::box, {100, 100}, {200, 200}, ShotWeight::heavy, ShotColor::black);
    driver::drag(*canvas, ShotTool::blur, {90, 90}, {150, 210});
    driver::drag(*canvas, ShotTool::box, {120, 120}, {140, 140}, ShotWeight::thin, ShotColor::blue);
    const QImage flat = canvas->flattened();
    pictures::keep(flat, "blur.png");

    const QList<ShotBlurCell> cells = blurCells(QRectF(90, 90, 60, 120), QSizeF(600, 300), shot.size());
    ASSERT_EQ(cells.size(), 10 * 20);
    int checked = 0;
    for (const ShotBlurCell& cell : cells) {
        // The pixels well inside the cell, in image rows.
        const QRect inside = QRect(int(cell.rect.x()) + 1, 300 - int(cell.rect.bottom()) + 1, 4, 4);
        if (inside.intersects(QRect(118, 158, 24, 24)))
            continue; // under the later blue box
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                ASSERT_EQ(flat.pixel(x, y), shot.pixel(cell.sample)) << x << "," << y;
        ++checked;
    }
    EXPECT_GE(checked, 170);
    // The black box line under the blur is gone; beside it, it stays.
    EXPECT_NE(flat.pixel(100, 150), color(ShotColor::black).rgb());
    EXPECT_EQ(flat.pixel(200, 150), color(ShotColor::black).rgb());
    EXPECT_EQ(flat.pixel(120, 170), color(ShotColor::blue).rgb());
}

TEST_F(ShotRendererTest, BlurNeedsTwoPointsEachWay)
{
    const QImage shot = pictures::gradient(600, 300);
    auto canvas = canvasFor(shot, {600, 300});
    // 100 × 1 draws nothing (but a drag of 100 is kept as a mark).
    canvas->setTool(ShotTool::blur);
    driver::stroke(*canvas, {{10, 50}, {110, 51}});
    ASSERT_EQ(canvas->marks().size(), 1);
    EXPECT_EQ(same(canvas->flattened()), same(shot));

    // 100 × 2 draws one row of cells 2 points high: image rows 248 and 249.
    canvas->undo();
    driver::stroke(*canvas, {{10, 50}, {110, 52}});
    const QImage flat = canvas->flattened();
    const QRect differing = changed(flat, shot);
    EXPECT_EQ(differing.top(), 248);
    EXPECT_EQ(differing.bottom(), 249);
    EXPECT_GE(differing.left(), 10);
    EXPECT_LE(differing.right(), 109);
    // Each cell took the colour at its middle: x = 13, row 300 − 51 = 249.
    EXPECT_EQ(flat.pixel(10, 248), shot.pixel(13, 249));
}

TEST_F(ShotRendererTest, BlurSamplesOutsideTheScreenshotLeaveTheirCellsAlone)
{
    // A 100-pixel shot shown 200 points wide: k = 0.5. A blur reaching past
    // the canvas's top samples rows above the bitmap, which stay untouched.
    const QList<ShotBlurCell> cells = blurCells(QRectF(0, 95, 12, 10), QSizeF(200, 100), QSize(100, 50));
    ASSERT_EQ(cells.size(), 2 * 2);
    EXPECT_EQ(cells[0].sample, QPoint(1, 1));   // middle (3, 98) → 0.5 × (3, 100 − 98)
    EXPECT_EQ(cells[2].sample, QPoint(1, -1));  // middle (3, 102.5): above the picture
    EXPECT_EQ(cells[2].rect, QRectF(0, 101, 6, 4));
    EXPECT_EQ(cells[3].rect, QRectF(6, 101, 6, 4));

    const QImage shot = pictures::gradient(100, 50);
    auto canvas = canvasFor(shot, {200, 100});
    canvas->setTool(ShotTool::blur);
    driver::stroke(*canvas, {{0, 90}, {12, 100}});
    driver::stroke(*canvas, {{0, 100}, {12, 110}}); // off the canvas entirely
    const QImage flat = canvas->flattened();
    EXPECT_NE(flat.pixel(0, 0), shot.pixel(0, 0));
    EXPECT_EQ(flat.pixel(0, 0), shot.pixel(1, 1)); // cell (0, 96, 6, 4) samples (1, 1)
}

TEST_F(ShotRendererTest, ArrowShadowFallsBelowAndRight)
{
    const QImage shot = pictures::plain(300, 200, Qt::white);
    auto canvas = canvasFor(shot, {300, 200});
    driver::drag(*canvas, ShotTool::arrow, {50, 100}, {250, 100});
    const QImage flat = canvas->flattened();
    const auto grey = [&](int x, int canvasY) { return qGray(flat.pixel(x, 200 - canvasY)); };
    // 20 points before the tip the head is about 9.8 points wide each side.
    const int below = grey(230, 100 - 13);
    const int above = grey(230, 100 + 13);
    EXPECT_LT(below, 235);
    EXPECT_LT(below, above - 10);
    // Behind the tail the shadow is also shifted right and down.
    EXPECT_EQ(flat.pixel(150, 100), color(ShotColor::red).rgb());
    EXPECT_EQ(qGray(flat.pixel(20, 60)), 255);

    // A wide shadow (thick, two pixels a point) fades smoothly: going down
    // from under the shaft it only ever gets lighter, to white.
    auto wide = canvasFor(pictures::plain(600, 400, Qt::white), {300, 200});
    driver::drag(*wide, ShotTool::arrow, {20, 100}, {280, 100}, ShotWeight::thick);
    const QImage wideFlat = wide->flattened();
    pictures::keep(wideFlat, "arrow.png");
    const int column = 2 * 120;
    int row = 200;
    while (wideFlat.pixel(column, row) == color(ShotColor::red).rgb())
        ++row;
    const int firstBelow = row;
    int firstAbove = 200;
    while (wideFlat.pixel(column, firstAbove) == color(ShotColor::red).rgb())
        --firstAbove;
    EXPECT_LT(qGray(wideFlat.pixel(column, firstBelow + 4)), qGray(wideFlat.pixel(column, firstAbove - 4)) - 20);
    int previous = qGray(wideFlat.pixel(column, row));
    EXPECT_LT(previous, 200);
    for (++row; row < 260; ++row) {
        const int grey = qGray(wideFlat.pixel(column, row));
        EXPECT_GE(grey, previous) << "row " << row;
        previous = grey;
    }
    EXPECT_GE(previous, 250);
}

#include "platform/screen_numbers.h"
#include "shots/selection_view.h"

#include <gtest/gtest.h>

using namespace SelectionGeometry;

TEST(SelectionGeometry, ReleaseMeasuresTheAreaFromTheTopEdgeWhicheverWayTheDragWent)
{
    const QSizeF screen(1440, 900);
    const auto down = areaOnRelease({100, 700}, {300, 500}, screen, 7, screen);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->rect, QRectF(100, 200, 200, 200));
    EXPECT_EQ(down->displayID, 7u);
    EXPECT_EQ(down->screenSize, screen);

    // Dragging up and to the left spans the same rectangle.
    EXPECT_EQ(areaOnRelease({300, 500}, {100, 700}, screen, 7, screen), down);
    // A drag that leaves the screen is not clamped.
    const auto beyond = areaOnRelease({1400, 50}, {1500, -30}, screen, 7, screen);
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->rect, QRectF(1400, 850, 100, 80));
}

TEST(SelectionGeometry, ClicksAndAreasUnderEightPointsCancel)
{
    const QSizeF screen(1920, 1080);
    EXPECT_FALSE(areaOnRelease({50, 50}, {50, 50}, screen, 1, screen));
    EXPECT_FALSE(areaOnRelease({10, 10}, {110, 17}, screen, 1, screen)) << "100 × 7";
    EXPECT_FALSE(areaOnRelease({10, 10}, {17.9, 110}, screen, 1, screen));
    EXPECT_TRUE(areaOnRelease({10, 10}, {18, 18}, screen, 1, screen)) << "8 × 8 is enough";
}

TEST(SelectionGeometry, SizeLabelTruncatesAndFlipsBelowAtTheTopOfTheScreen)
{
    EXPECT_EQ(sizeLabelText(QRectF(3, 4, 640.7, 480.2)), "640 × 480");
    EXPECT_EQ(sizeLabelText(QRectF(0, 0, 8.99, 1200)), "8 × 1200");

    const QSizeF text(60, 15);
    // Room above: the box sits 6 points over the selection's top edge.
    EXPECT_EQ(sizeLabelBox(QRectF(100, 200, 300, 100), text, 900), QRectF(100, 306, 72, 21));
    // Exactly fitting still stays above: 873 + 15 + 12 = 900.
    EXPECT_EQ(sizeLabelBox(QRectF(100, 767, 300, 100), text, 900).y(), 873);
    // Touching the top: below the selection, 12 points clear of it.
    EXPECT_EQ(sizeLabelBox(QRectF(100, 600, 300, 300), text, 900), QRectF(100, 567, 72, 21));
}

TEST(SelectionGeometry, HintIsCentredAndViewCoordinatesFlipToQt)
{
    EXPECT_EQ(hintBox(QSizeF(200, 17), QSizeF(1440, 900)), QRectF(608, 433, 224, 29));
    EXPECT_EQ(toTopLeft(QRectF(100, 700, 200, 100), 900), QRectF(100, 100, 200, 100));
    EXPECT_EQ(fromTopLeft(QPointF(100, 100), 900), QPointF(100, 800));
}

TEST(ScreenNumbers, ScreensAreMatchedToMonitorsByGeometryElseTheMainDisplay)
{
    const std::vector<MonitorNumber> monitors = {
        {501, QRect(0, 0, 1920, 1080), false},
        {502, QRect(1920, 0, 1440, 900), true},
    };
    EXPECT_EQ(displayNumberAmong(monitors, QRect(0, 0, 1920, 1080)), 501u);
    EXPECT_EQ(displayNumberAmong(monitors, QRect(1920, 0, 1440, 900)), 502u);
    EXPECT_EQ(displayNumberAmong(monitors, QRect(0, 0, 800, 600)), 502u) << "no match: the primary monitor";
    EXPECT_EQ(displayNumberAmong({{9, QRect(0, 0, 10, 10), false}, {8, QRect(10, 0, 10, 10), false}}, QRect()), 9u);
    EXPECT_EQ(displayNumberAmong({}, QRect(0, 0, 10, 10)), 0u);
}

#include "platform/screen_numbers.h"
#include "shots/selection_view.h"

#include <gtest/gtest.h>

using namespace SelectionGeometry;

TEST(SelectionGeometry, ReleaseMeasuresFromTheTopEdgeEitherWayUnclampedAndCancelsUnderEightPoints)
{
    const QSizeF screen(1440, 900);
    const auto area = [&](QPointF from, QPointF to) { return areaOnRelease(from, to, screen, 7, screen); };
    const auto down = area({100, 700}, {300, 500});
    ASSERT_TRUE(down);
    EXPECT_EQ(down->rect, QRectF(100, 200, 200, 200));
    EXPECT_EQ(area({300, 500}, {100, 700}), down) << "up and to the left";
    EXPECT_EQ(area({1400, 50}, {1500, -30})->rect, QRectF(1400, 850, 100, 80)) << "leaving the screen";

    EXPECT_FALSE(area({50, 50}, {50, 50}));
    EXPECT_FALSE(area({10, 10}, {110, 17}));
    EXPECT_FALSE(area({10, 10}, {17.9, 110}));
    EXPECT_TRUE(area({10, 10}, {18, 18})) << "8 × 8 is enough";
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

TEST(ScreenNumbers, AScreenMatchingNoMonitorGetsTheMainDisplayElseTheFirst)
{
    const std::vector<MonitorNumber> monitors = {
        {501, QRect(0, 0, 1920, 1080), false},
        {502, QRect(1920, 0, 1440, 900), true},
    };
    // A match by geometry is seen on the X server's own monitors in the area selection tests.
    EXPECT_EQ(displayNumberAmong(monitors, QRect(0, 0, 800, 600)), 502u) << "no match: the primary monitor";
    EXPECT_EQ(displayNumberAmong({{9, QRect(0, 0, 10, 10), false}, {8, QRect(10, 0, 10, 10), false}}, QRect()), 9u);
    EXPECT_EQ(displayNumberAmong({}, QRect(0, 0, 10, 10)), 0u);
}

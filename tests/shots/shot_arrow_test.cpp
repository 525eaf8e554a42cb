#include "shots/shot_arrow.h"

#include <QPainterPath>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::vector<QPointF> points(const QPainterPath& path)
{
    std::vector<QPointF> result;
    for (int i = 0; i < path.elementCount(); ++i)
        result.emplace_back(path.elementAt(i));
    return result;
}

void expectNear(const std::vector<QPointF>& actual, const std::vector<QPointF>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(actual[i].x(), expected[i].x(), 1e-9) << "point " << i;
        EXPECT_NEAR(actual[i].y(), expected[i].y(), 1e-9) << "point " << i;
    }
}

// A 200-point arrow along +x with unit 6.8, worked out by hand:
// H = 81.6, W = 32.64, T = 8.16, N = 5.712, B = 122.48.
const std::vector<QPointF> longArrow{
    {0, -4.08},
    {67.364, -4.896}, {110.232, -10.4448}, {122.48, -16.32},
    {121.3376, -18.768}, {116.768, -34.272}, {116.768, -40.8},
    {200, 0},
    {116.768, 40.8},
    {116.768, 34.272}, {121.3376, 18.768}, {122.48, 16.32},
    {110.232, 10.4448}, {67.364, 4.896}, {0, 4.08},
    {0, -4.08}, // closing the outline
};

} // namespace

TEST(ShotArrowTest, OutlineFollowsTheCurvesOfItsFormulas)
{
    expectNear(points(ShotArrow::path({0, 0}, {200, 0}, 6.8)), longArrow);

    // The same arrow turned onto a 3-4-5 diagonal and moved: every point turns
    // and moves with it (the left-hand side stays on the left).
    const QPointF from(10, 20);
    std::vector<QPointF> turned;
    for (const QPointF& p : longArrow)
        turned.emplace_back(from.x() + 0.6 * p.x() - 0.8 * p.y(), from.y() + 0.8 * p.x() + 0.6 * p.y());
    expectNear(points(ShotArrow::path(from, {130, 180}, 6.8)), turned);
}

TEST(ShotArrowTest, HeadOfAShortArrowIsCappedByItsLength)
{
    // 20 points of `normal` weight: the head is 20 × 0.5 / 0.9 ≈ 11.1 long,
    // not 12 × 6.8 = 81.6, so its back corners are 11.1 apart.
    const auto outline = points(ShotArrow::path({50, 50}, {70, 50}, 6.8));
    const double head = 20 * 0.5 / 0.9;
    EXPECT_NEAR(outline[7].x(), 70, 1e-9); // the tip is `to`
    EXPECT_NEAR(outline[6].y() - 50, -head / 2, 1e-9);
    EXPECT_NEAR(outline[8].y() - 50, head / 2, 1e-9);
    EXPECT_NEAR(outline[6].x() - 50, 20 - 0.95 * head - 0.07 * head, 1e-9);

    // A long light arrow keeps its full head of 12 units.
    const auto light = points(ShotArrow::path({0, 0}, {400, 0}, 2.55));
    EXPECT_NEAR(light[8].y() - light[6].y(), 12 * 2.55, 1e-9);
}

TEST(ShotArrowTest, ArrowShorterThanOnePointShrinksTowardItsStart)
{
    for (const QPointF& p : points(ShotArrow::path({30, 40}, {30, 40}, 6.8))) {
        EXPECT_DOUBLE_EQ(p.x(), 30);
        EXPECT_DOUBLE_EQ(p.y(), 40);
    }

    // Half a point long: L is 1, so the whole outline is the one of a
    // 1-point arrow at half the size.
    const auto half = points(ShotArrow::path({30, 40}, {30.5, 40}, 6.8));
    const auto whole = points(ShotArrow::path({0, 0}, {1, 0}, 6.8));
    ASSERT_EQ(half.size(), whole.size());
    for (size_t i = 0; i < half.size(); ++i) {
        EXPECT_NEAR(half[i].x(), 30 + 0.5 * whole[i].x(), 1e-12);
        EXPECT_NEAR(half[i].y(), 40 + 0.5 * whole[i].y(), 1e-12);
    }
    EXPECT_NEAR(half[7].x(), 30.5, 1e-12);
}

TEST(ShotArrowTest, IconIsABlackArrowRisingToTheRight)
{
    const QImage icon = ShotArrow::icon(22);
    ASSERT_EQ(icon.size(), QSize(22, 22));
    int covered = 0, coloured = 0;
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 22; ++x) {
            covered += qAlpha(icon.pixel(x, y)) > 0;
            coloured += (icon.pixel(x, y) & 0xffffff) != 0;
        }
    EXPECT_GT(covered, 40);
    EXPECT_EQ(coloured, 0);

    // Tail at the bottom left (image rows grow downward), head at the top right.
    EXPECT_GT(qAlpha(icon.pixel(3, 18)), 100);
    EXPECT_GT(qAlpha(icon.pixel(17, 5)), 200);
    EXPECT_EQ(qAlpha(icon.pixel(2, 2)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(20, 20)), 0);
}

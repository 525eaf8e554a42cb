// The capture of a selected area reads only that part of the display, yet
// gives the picture that cropping the whole display's capture gives: the same
// size and the same pixels within two levels. Run at scale 1 and at scale 2.

#include "capture/capture_choices.h"
#include "platform/linux/linux_platform.h"
#include "shots/screenshot.h"

#include "tests/shots/integration/pattern_window.h"
#include "tests/support/qt_wait.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

int largestDifference(const QImage& a, const QImage& b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

} // namespace

TEST(AreaCapture, MatchesTheCropOfTheWholeDisplayAtItsSize)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    // Sharp colour edges are where scaling differs most.
    PatternWindow pattern(QRect(200, 150, 600, 400));
    ASSERT_TRUE(waitUntil([&] { return pattern.isVisible(); }));
    QTest::qWait(300);

    const auto service = LinuxPlatform::screenCaptureForSession(nullptr);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const quint32 display = service->displayNumber(screen);
    SystemClock clock;
    const std::optional<QImage> whole = QCoro::waitFor(CaptureChoices::capture(service, clock, CaptureTarget::display(display)));
    ASSERT_TRUE(whole);

    const QSizeF size = screen->size();
    const QRectF areas[] = {
        QRectF(250.3, 170.7, 301.2, 151.9), // over the window's edges, fractional
        QRectF(0, 0, 37, 29),               // the top-left corner
        QRectF(size.width() - 41.5, size.height() - 33, 41.5, 33), // the bottom-right corner
        QRectF(QPointF(0, 0), size),        // everything
    };
    for (const QRectF& rect : areas) {
        const SelectedArea area{rect, display, size};
        const std::optional<QRect> part = Screenshot::crop(whole->size(), area);
        ASSERT_TRUE(part);
        const std::optional<QImage> cut = QCoro::waitFor(
            CaptureChoices::capture(service, clock, CaptureTarget::display(display), std::nullopt,
                                    [area](QSize whole) { return Screenshot::crop(whole, area); }));
        ASSERT_TRUE(cut) << rect.x() << "," << rect.y();
        ASSERT_EQ(cut->size(), part->size()) << rect.x() << "," << rect.y();
        EXPECT_LE(largestDifference(*cut, whole->copy(*part)), 2) << rect.x() << "," << rect.y();
    }
}

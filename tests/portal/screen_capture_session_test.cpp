#include "platform/linux/portal/picture_fitting.h"
#include "platform/linux/portal/portal_screen_capture.h"
#include "platform/linux/portal/portal_screenshot.h"
#include "platform/linux/screen_capture_session.h"
#include "recording/recorder_failure.h"
#include "shots/screenshot.h"
#include "tests/support/task_outcome.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QProcessEnvironment environment(std::initializer_list<std::pair<const char*, const char*>> variables)
{
    QProcessEnvironment result;
    for (const auto& [name, value] : variables)
        result.insert(QString::fromUtf8(name), QString::fromUtf8(value));
    return result;
}

} // namespace

TEST(ScreenCaptureSession, WaylandSessionsAndSessionsWithoutAnXDisplayUseThePortal)
{
    EXPECT_FALSE(sessionUsesDesktopPortal(environment({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}})));
    EXPECT_FALSE(sessionUsesDesktopPortal(environment({{"DISPLAY", ":0"}})));
    // Xwayland's display shows only its own windows.
    EXPECT_TRUE(sessionUsesDesktopPortal(environment({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}})));
    EXPECT_TRUE(sessionUsesDesktopPortal(environment({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}})));
    EXPECT_TRUE(sessionUsesDesktopPortal(environment({})));
}

TEST(PortalScreenCapture, ADisplaysPartOfAScreenshotOfAllScreensIsCutAtTheScreenshotsScale)
{
    // Two screens side by side in points, shot at two pixels a point.
    const std::vector<ShareableDisplay> displays{{1, 1920, 1080, QRectF(0, 0, 1920, 1080)},
                                                 {2, 1440, 900, QRectF(1920, 0, 1440, 900)}};
    QImage shot(6720, 2160, QImage::Format_RGB32);
    shot.fill(Qt::black);
    for (int y = 0; y < 1800; ++y)
        for (int x = 3840; x < 6720; ++x)
            shot.setPixel(x, y, qRgb(0, 200, 0));

    const QImage second = displayPart(shot, displays[1], displays);
    EXPECT_EQ(second.size(), QSize(2880, 1800));
    EXPECT_EQ(second.pixel(0, 0), qRgb(0, 200, 0));
    EXPECT_EQ(second.pixel(2879, 1799), qRgb(0, 200, 0));
    const QImage first = displayPart(shot, displays[0], displays);
    EXPECT_EQ(first.size(), QSize(3840, 2160));
    EXPECT_EQ(first.pixel(3839, 0), qRgb(0, 0, 0));
}

TEST(PortalScreenCapture, APictureOfAnotherShapeIsFittedIntoTheVideoCentredOnBlack)
{
    // A white picture, its BGRx bytes as PipeWire hands them over.
    const auto white = [](int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::white);
        return image;
    };
    const auto fit = [](const QImage& picture, int width, int height) {
        return fitPicture(picture.constBits(), int(picture.bytesPerLine()), picture.width(), picture.height(), width,
                          height);
    };
    // Which columns and rows of the result the picture covers.
    const auto covered = [](const QImage& image) {
        QRect area;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) > 128)
                    area |= QRect(x, y, 1, 1);
        return area;
    };

    // A square window between black bars is the Wayland tests' own, in a real video.
    EXPECT_EQ(covered(fit(white(1440, 900), 960, 540)), QRect(48, 0, 864, 540)) << "a 16:10 screen";
    EXPECT_EQ(covered(fit(white(1920, 400), 960, 540)), QRect(0, 170, 960, 200)) << "a wide, low window";
    EXPECT_EQ(covered(fit(white(1920, 1080), 960, 540)), QRect(0, 0, 960, 540)) << "the same shape fills it all";
    EXPECT_EQ(covered(fit(white(1921, 1080), 960, 540)), QRect(0, 0, 960, 540)) << "no bars of one pixel";
    EXPECT_TRUE(fit(white(1920, 1080), 0, 540).isNull());
    EXPECT_TRUE(fitPicture(nullptr, 0, 0, 0, 960, 540).isNull());
}

TEST(PortalScreenCapture, WithoutAPortalToReachTheDenialTextsComeAtOnce)
{
    QTemporaryDir folder;
    const QDBusConnection nowhere = QDBusConnection::connectToBus(
        "unix:path=" + folder.filePath(QStringLiteral("no-bus")), QStringLiteral("korvala-no-bus"));
    ASSERT_FALSE(nowhere.isConnected());
    PortalScreenCapture capture(nowhere, nullptr);

    SystemClock clock;
    const SelectedArea area{QRectF(0, 0, 100, 100), 1, QSizeF(960, 540)};
    const auto shot = runTask<Screenshot::Failure>(Screenshot::take(area, [&](const SelectedArea&) {
        return capture.captureImage(ContentFilter::ofDisplay({}, {}), StreamConfiguration());
    }, clock));
    ASSERT_TRUE(shot.error);
    EXPECT_EQ(shot.error->kind(), Screenshot::Failure::Kind::captureFailed);

    auto stream = capture.makeStream(ContentFilter::ofDisplay({}, {}), StreamConfiguration(), nullptr);
    EXPECT_EQ(QCoro::waitFor(stream->startCapture()), Stream::denied);
    QDBusConnection::disconnectFromBus(QStringLiteral("korvala-no-bus"));
}

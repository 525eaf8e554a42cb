#include "platform/linux/portal/portal_screen_capture.h"
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

    const QImage second = PortalScreenCapture::displayPart(shot, displays[1], displays);
    EXPECT_EQ(second.size(), QSize(2880, 1800));
    EXPECT_EQ(second.pixel(0, 0), qRgb(0, 200, 0));
    EXPECT_EQ(second.pixel(2879, 1799), qRgb(0, 200, 0));
    const QImage first = PortalScreenCapture::displayPart(shot, displays[0], displays);
    EXPECT_EQ(first.size(), QSize(3840, 2160));
    EXPECT_EQ(first.pixel(3839, 0), qRgb(0, 0, 0));
}

TEST(PortalScreenCapture, WithoutAPortalToReachTheDenialTextsComeAtOnce)
{
    QTemporaryDir folder;
    const QDBusConnection nowhere = QDBusConnection::connectToBus(
        "unix:path=" + folder.filePath(QStringLiteral("no-bus")), QStringLiteral("korvala-no-bus"));
    ASSERT_FALSE(nowhere.isConnected());
    PortalScreenCapture capture(nowhere, nullptr);

    const auto shot = runTask<Screenshot::Failure>(Screenshot::take(1, [&](quint32) {
        return capture.captureImage(ContentFilter::ofDisplay({}, {}), StreamConfiguration());
    }));
    ASSERT_TRUE(shot.error);
    EXPECT_EQ(shot.error->kind(), Screenshot::Failure::Kind::captureFailed);

    auto stream = capture.makeStream(ContentFilter::ofDisplay({}, {}), StreamConfiguration(), nullptr);
    EXPECT_EQ(QCoro::waitFor(stream->startCapture()), RecorderFailure::screenRecordingDenied().description());
    QDBusConnection::disconnectFromBus(QStringLiteral("korvala-no-bus"));
}

// The area selector and the screenshot operations on a real X server with a
// window manager, split into two monitors the way a laptop with an external
// screen is: overlays, drags and keys go through the server, pictures are
// read back from its framebuffer.

#include "platform/screen_numbers.h"
#include "shots/area_selector.h"
#include "shots/screenshot.h"
#include "shots/selection_view.h"

#include "tests/shots/integration/pattern_window.h"
#include "tests/support/event_loop_process.h"
#include "platform/linux/linux_platform.h"
#include "platform/screen_capture.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

const QRect leftMonitor(0, 0, 960, 1080);
const QRect rightMonitor(960, 0, 960, 720);

// Our own windows answer the server (and the clipboard) while the program works.
const auto run = [](const QString& program, const QStringList& arguments) { return runWithEventLoop(program, arguments); };

quint32 atomOf(const QString& name)
{
    return run("xlsatoms", {"-name", name}).split('\t').value(0).toUInt();
}

bool hasScreen(const QRect& geometry)
{
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&](QScreen* screen) { return screen->geometry() == geometry; });
}

// The capture of the test desktop, as the program makes it.
std::shared_ptr<ScreenCapture> session()
{
    static const auto capture = LinuxPlatform::screenCaptureForSession(nullptr);
    return capture;
}

// The display as the X server shows it: what the screen capture will hand us.
QCoro::Task<std::optional<QImage>> grabArea(const SelectedArea& area)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (session()->displayNumber(screen) != area.displayID)
            continue;
        const QImage display = screen->grabWindow(0).toImage();
        if (const auto part = Screenshot::crop(display.size(), area))
            co_return display.copy(*part);
    }
    co_return std::nullopt;
}

// Where the known window sits: well inside the right monitor.
const QRect patternGeometry(1000, 50, 500, 400);

QImage rootPicture()
{
    return QGuiApplication::primaryScreen()->grabWindow(0, 0, 0, 1920, 1080).toImage();
}

int visibleOverlays()
{
    const QByteArray found = run("xdotool", {"search", "--onlyvisible", "--name", "выбор области"}).trimmed();
    return found.isEmpty() ? 0 : found.split('\n').size();
}

class AreaSelection : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        run("xrandr", {"--setmonitor", "KORVALA-LEFT", "960/254x1080/286+0+0", "screen"});
        run("xrandr", {"--setmonitor", "KORVALA-RIGHT", "960/254x720/190+960+0", "none"});
        waitUntil([] { return hasScreen(leftMonitor) && hasScreen(rightMonitor); });
    }
    static void TearDownTestSuite()
    {
        // Later tests share this X server: give it back its one monitor.
        run("xrandr", {"--delmonitor", "KORVALA-LEFT"});
        run("xrandr", {"--delmonitor", "KORVALA-RIGHT"});
        waitUntil([] { return QGuiApplication::screens().size() == 1; });
    }
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        ASSERT_TRUE(hasScreen(leftMonitor) && hasScreen(rightMonitor)) << "two monitors on the test server";
    }

    // Starts a selection and waits until both overlays are on the server and
    // one of them holds the keyboard.
    void beginSelection()
    {
        result.reset();
        calls = 0;
        selector.begin([this](std::optional<SelectedArea> area) {
            ++calls;
            result = area;
                overlaysAtCall = 0;
            for (SelectionView* view : selector.windows())
                overlaysAtCall += view->isVisible();
        });
        ASSERT_TRUE(waitUntil([] { return visibleOverlays() == 2; }));
        ASSERT_TRUE(waitUntil([this] {
            for (SelectionView* view : selector.windows())
                if (view->holdsKeyboard())
                    return true;
            return false;
        }));
        // Let both overlays paint before anything looks at the screen.
        waitUntil([] { return false; }, 300);
    }

    AreaSelector selector {nullptr, [](const QScreen* screen) { return session()->displayNumber(screen); },
                           [] { return session()->desktopComposites(); }};
    std::optional<SelectedArea> result;
    int calls = 0;
    int overlaysAtCall = -1;
};

} // namespace

TEST_F(AreaSelection, ADragOnTheSecondMonitorReportsItAndTheShotHoldsTheWindowIntact)
{
    PatternWindow pattern(patternGeometry);
    ASSERT_TRUE(waitUntil([] { return rootPicture().pixel(1100, 150) == qRgb(255, 0, 0); }));

    beginSelection();
    const auto views = selector.windows();
    ASSERT_EQ(views.size(), 2);
    EXPECT_EQ(views[0]->geometry(), leftMonitor);
    EXPECT_EQ(views[1]->geometry(), rightMonitor);
    EXPECT_EQ(views[0]->displayID(), atomOf("KORVALA-LEFT"));
    EXPECT_EQ(views[1]->displayID(), atomOf("KORVALA-RIGHT"));

    run("xdotool", {"mousemove", "1090", "90", "mousedown", "1", "mousemove", "1200", "200", "mousemove", "1410",
                    "310"});
    waitUntil([] { return false; }, 300);
    // What the user sees mid-drag, kept beside the test environment's logs.
    const QString picture = QDir(qEnvironmentVariable("KORVALA_TESTENV", QDir::tempPath()))
                                .filePath("overlay-mid-drag.png");
    run("import", {"-window", "root", picture});
    const QImage seen = QImage(picture).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(seen.isNull());
    EXPECT_EQ(seen.pixel(1100, 150), qRgb(255, 0, 0)) << "inside the hole the window is undimmed";
    EXPECT_EQ(seen.pixel(1400, 300), qRgb(0, 0, 255));
    const QColor dimmedRed = seen.pixel(1020, 300);
    EXPECT_NEAR(dimmedRed.red(), 166, 2) << "outside it, 35 % black over the window";
    EXPECT_EQ(dimmedRed.blue(), 0);
    const QColor dimmedBlue = seen.pixel(1450, 400);
    EXPECT_NEAR(dimmedBlue.blue(), 166, 2);
    EXPECT_EQ(QColor(seen.pixel(1250, 90)), QGuiApplication::palette().color(QPalette::Highlight))
        << "the outline";

    run("xdotool", {"mouseup", "1"});
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->rect, QRectF(130, 90, 320, 220));
    EXPECT_EQ(result->displayID, atomOf("KORVALA-RIGHT"));
    EXPECT_EQ(result->screenSize, QSizeF(960, 720));
    EXPECT_EQ(overlaysAtCall, 0) << "the callback runs once every overlay is hidden";
    EXPECT_TRUE(waitUntil([] { return visibleOverlays() == 0; })) << "both overlays are gone from the server";

    // As the controller does: let the overlays leave the screen, then capture.
    waitUntil([] { return false; }, 120);
    SystemClock clock;
    const std::optional<QImage> shot = QCoro::waitFor(Screenshot::take(*result, grabArea, clock));
    ASSERT_EQ(shot->size(), QSize(320, 220));
    int wrong = 0;
    for (int y = 0; y < shot->height(); ++y)
        for (int x = 0; x < shot->width(); ++x)
            wrong += (shot->pixel(x, y) & 0xffffff) != (PatternWindow::expected(x + 90, y + 40, 500) & 0xffffff);
    EXPECT_EQ(wrong, 0) << "every pixel is the window's, with no trace of the overlay";

    // Another client reads the clipboard from us over the X server.
    Screenshot::copyToClipboard(*shot);
    const QByteArray targets = run("xclip", {"-selection", "clipboard", "-t", "TARGETS", "-o"});
    EXPECT_TRUE(targets.contains("image/png")) << targets.constData();
    const QByteArray png = run("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
    EXPECT_EQ(QImage::fromData(png, "png").convertToFormat(QImage::Format_RGB32),
              shot->convertToFormat(QImage::Format_RGB32));
}

TEST_F(AreaSelection, EscapeCancelsOnEveryMonitor)
{
    run("xdotool", {"mousemove", "100", "100"});
    beginSelection();
    run("xdotool", {"key", "Escape"});
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    EXPECT_FALSE(result);
    EXPECT_TRUE(waitUntil([] { return visibleOverlays() == 0; }));

    // The keyboard is free again: a new selection can take it and a click
    // without a drag cancels it too.
    beginSelection();
    run("xdotool", {"mousemove", "1500", "500", "click", "1"});
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    EXPECT_FALSE(result);
}

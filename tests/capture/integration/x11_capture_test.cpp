// Capture on the test X server under a window manager: real windows of
// another process, real pixels, real RandR monitors.

#include "capture/capture_choices.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/x11/x11_screen_capture.h"

#include "tests/capture/integration/private_x_server.h"
#include "tests/capture/integration/test_windows.h"
#include "tests/support/qt_wait.h"

#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <qcoro/qcorotask.h>

namespace {

// Real waits: the capture runs against a real X server.
SystemClock realClock;

// The capture of the test desktop, as the program makes it.
std::shared_ptr<ScreenCapture> session()
{
    static const auto capture = LinuxPlatform::screenCaptureForSession(nullptr);
    return capture;
}

std::optional<ShareableContent> listContent()
{
    return QCoro::waitFor(session()->shareableContent());
}

std::optional<QImage> grab(CaptureTarget target, std::optional<int> width = std::nullopt)
{
    return QCoro::waitFor(CaptureChoices::capture(session(), realClock, target, width));
}

template <typename T, typename Id>
const T* byId(const std::vector<T>& items, uint32_t id, Id idOf)
{
    const auto found = std::find_if(items.begin(), items.end(), [&](const T& item) { return idOf(item) == id; });
    return found == items.end() ? nullptr : &*found;
}

const ShareableWindow* findWindow(const std::optional<ShareableContent>& content, uint32_t id)
{
    return content ? byId(content->windows, id, [](const ShareableWindow& w) { return w.windowID; }) : nullptr;
}

const CaptureChoices::Item* findItem(const std::vector<CaptureChoices::Item>& items, uint32_t id)
{
    return byId(items, id, [](const CaptureChoices::Item& item) { return item.target.id(); });
}

// Waits until the window manager lists the window where it was mapped (the
// test windows are painted before TestWindows hands out their ids).
QRectF waitForFrame(uint32_t id)
{
    QRectF frame;
    waitUntil([&] {
        const auto content = listContent();
        const auto* window = findWindow(content, id);
        if (window && window->isOnScreen)
            frame = window->frame;
        return !frame.isEmpty();
    }, 10000);
    return frame;
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 8 && std::abs(a.green() - b.green()) < 8 && std::abs(a.blue() - b.blue()) < 8;
}

// Splits the 1920-pixel screen into two monitors for one test and gives the
// server its own monitor back afterwards: later tests share this server.
class TwoMonitors {
public:
    TwoMonitors()
    {
        run("xrandr", {"--setmonitor", "korvala-left", "960/254x1080/286+0+0", "screen"});
        run("xrandr", {"--setmonitor", "korvala-right", "960/254x1080/286+960+0", "none"});
    }
    ~TwoMonitors()
    {
        run("xrandr", {"--delmonitor", "korvala-left"});
        run("xrandr", {"--delmonitor", "korvala-right"});
    }
};

} // namespace

TEST(X11Capture, OtherProgramsOrdinaryWindowsAreOfferedAndTheRestLeftOut)
{
    TestWindows windows({"Красное окно|#e01010|100|120|420|300", "Узкое окно|#10e010|600|120|199|300",
                         "Безымянное|#1010e0|900|120|300|300", "Док|#e0e010|1300|120|300|300"});
    ASSERT_TRUE(windows.started());
    QWidget own;
    own.setWindowTitle("Окно самой программы");
    own.setGeometry(200, 600, 400, 300);
    own.show();
    for (size_t i = 0; i < 4; ++i)
        waitForFrame(windows.id(i));
    waitForFrame(uint32_t(own.winId()));
    const QString untitled = QString::number(windows.id(2));
    run("xprop", {"-id", untitled, "-remove", "_NET_WM_NAME"});
    run("xprop", {"-id", untitled, "-remove", "WM_NAME"});
    run("xprop", {"-id", QString::number(windows.id(3)), "-f", "_NET_WM_WINDOW_TYPE", "32a", "-set",
                  "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK"});

    const auto content = listContent();
    ASSERT_TRUE(content);
    const auto* red = findWindow(content, windows.id(0));
    ASSERT_TRUE(red && red->owningApplication);
    EXPECT_EQ(red->frame.size(), QSizeF(420, 300));
    EXPECT_NE(red->owningApplication->processID, QCoreApplication::applicationPid());
    EXPECT_FALSE(red->owningApplication->applicationName.isEmpty());

    // The listing's faults (a dock on layer 0, a title where there is none,
    // this process's window not known as its own) all show in the choices.
    const auto choices = QCoro::waitFor(CaptureChoices::current(session()));
    ASSERT_EQ(choices.displays.size(), 1u);
    EXPECT_EQ(choices.displays[0].title, "Весь экран");
    EXPECT_EQ(choices.displays[0].subtitle, "1920×1080");
    const auto* item = findItem(choices.windows, windows.id(0));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Красное окно");
    EXPECT_EQ(item->subtitle, red->owningApplication->applicationName);
    EXPECT_FALSE(findItem(choices.windows, windows.id(1))) << "199 points wide";
    EXPECT_FALSE(findItem(choices.windows, windows.id(2))) << "untitled";
    EXPECT_FALSE(findItem(choices.windows, windows.id(3))) << "a dock";
    EXPECT_FALSE(findItem(choices.windows, uint32_t(own.winId()))) << "this program's own";
}

TEST(X11Capture, ADisplayAndAWindowShowTheWindowsColourWhereItLies)
{
    TestWindows windows({"Красное окно|#e01010|300|200|420|300"});
    ASSERT_TRUE(windows.started());
    const QRectF frame = waitForFrame(windows.id(0));
    ASSERT_FALSE(frame.isEmpty());
    const auto content = listContent();
    ASSERT_TRUE(content && content->displays.size() == 1);
    const uint32_t display = content->displays[0].displayID;

    const auto screen = grab(CaptureTarget::display(display), 1920);
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->size(), QSize(1920, 1080));
    const QPoint middle = frame.center().toPoint();
    EXPECT_TRUE(near(screen->pixelColor(middle), QColor("#e01010"))) << screen->pixelColor(middle).name().toStdString();
    EXPECT_FALSE(near(screen->pixelColor(int(frame.right()) + 40, middle.y()), QColor("#e01010")));
    EXPECT_EQ(screen->pixelColor(middle).alpha(), 255);

    // Twice the width, as screenshots ask.
    const auto twice = grab(CaptureTarget::display(display));
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->size(), QSize(3840, 2160));
    EXPECT_TRUE(near(twice->pixelColor(middle * 2), QColor("#e01010")));

    const auto window = grab(CaptureTarget::window(windows.id(0)), 480);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(480, 342));
    for (QPoint p : {QPoint(2, 2), QPoint(240, 171), QPoint(477, 339)})
        EXPECT_TRUE(near(window->pixelColor(p), QColor("#e01010"))) << p.x() << "," << p.y();

    // The pointer is in the picture only when asked for.
    run("xdotool", {"mousemove", QString::number(middle.x()), QString::number(middle.y())});
    const auto* listed = findWindow(content, windows.id(0));
    StreamConfiguration config;
    config.width = 420;
    config.height = 300;
    const auto noPointer = QCoro::waitFor(session()->captureImage(ContentFilter::ofWindow(*listed), config));
    config.showsCursor = true;
    const auto pointer = QCoro::waitFor(session()->captureImage(ContentFilter::ofWindow(*listed), config));
    ASSERT_TRUE(noPointer && pointer);
    const auto changed = [&](const QImage& image) {
        int count = 0;
        for (int y = 150 - 20; y < 150 + 20; ++y)
            for (int x = 210 - 20; x < 210 + 20; ++x)
                count += near(image.pixelColor(x, y), QColor("#e01010")) ? 0 : 1;
        return count;
    };
    EXPECT_EQ(changed(*noPointer), 0);
    EXPECT_GT(changed(*pointer), 10);
    run("xdotool", {"mousemove", "5", "1075"});

    // The fallback stream sees the same window.
    config.width = 200;
    config.height = 142;
    config.showsCursor = false;
    const auto frameOfStream =
        QCoro::waitFor(CaptureChoices::frameFromStream(session(), realClock, ContentFilter::ofWindow(*listed), config));
    ASSERT_TRUE(frameOfStream);
    EXPECT_EQ(frameOfStream->size(), QSize(200, 142));
    EXPECT_TRUE(near(frameOfStream->pixelColor(100, 71), QColor("#e01010")));
}

TEST(X11Capture, TwoMonitorsGiveTwoDisplaysAndTheSecondShowsItsOwnContent)
{
    TwoMonitors monitors;
    TestWindows windows({"Зелёное окно|#10c020|1200|300|400|300"});
    ASSERT_TRUE(windows.started());
    const QRectF frame = waitForFrame(windows.id(0));
    ASSERT_FALSE(frame.isEmpty());

    const auto choices = QCoro::waitFor(CaptureChoices::current(session()));
    ASSERT_EQ(choices.displays.size(), 2u);
    EXPECT_EQ(choices.displays[0].title, "Экран 1");
    EXPECT_EQ(choices.displays[1].title, "Экран 2");
    EXPECT_EQ(choices.displays[1].subtitle, "960×1080");
    EXPECT_NE(choices.displays[0].target, choices.displays[1].target);

    const auto right = grab(choices.displays[1].target, 960);
    const auto left = grab(choices.displays[0].target, 960);
    ASSERT_TRUE(right && left);
    EXPECT_EQ(right->size(), QSize(960, 1080));
    const QPoint inRight = frame.center().toPoint() - QPoint(960, 0);
    EXPECT_TRUE(near(right->pixelColor(inRight), QColor("#10c020"))) << right->pixelColor(inRight).name().toStdString();
    EXPECT_FALSE(near(left->pixelColor(inRight), QColor("#10c020")));
}

TEST(X11Capture, AnApplicationIsCapturedWithItsOwnWindowsOnly)
{
    TestWindows alpha({"Альфа|#e01010|100|100|400|300"}, "Alphaprobe");
    TestWindows beta({"Бета|#1010e0|800|100|400|300"}, "Betaprobe");
    ASSERT_TRUE(alpha.started() && beta.started());
    const QRectF alphaFrame = waitForFrame(alpha.id(0));
    const QRectF betaFrame = waitForFrame(beta.id(0));
    const auto content = listContent();
    const auto* window = findWindow(content, alpha.id(0));
    ASSERT_TRUE(window && window->owningApplication);
    EXPECT_EQ(window->owningApplication->bundleIdentifier, "Alphaprobe") << "no desktop entry: the WM_CLASS class";
    EXPECT_EQ(window->owningApplication->applicationName, "Alphaprobe");

    const auto image = grab(CaptureTarget::application(window->owningApplication->bundleIdentifier), 1920);
    ASSERT_TRUE(image);
    EXPECT_TRUE(near(image->pixelColor(alphaFrame.center().toPoint()), QColor("#e01010")));
    EXPECT_EQ(image->pixelColor(betaFrame.center().toPoint()), QColor(Qt::black)) << "another program's window";
}

TEST(X11Capture, AWindowPartlyBeyondTheScreenEdgeIsCapturedWithItsHiddenPartBlack)
{
    TestWindows windows({"На краю|#e01010|1720|200|400|300"});
    ASSERT_TRUE(windows.started());
    const QRectF frame = waitForFrame(windows.id(0));
    ASSERT_FALSE(frame.isEmpty());
    ASSERT_GT(frame.right(), 1920);
    const auto image = grab(CaptureTarget::window(windows.id(0)), 400);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(400, 300));
    const int edge = int(1920 - frame.x());
    EXPECT_TRUE(near(image->pixelColor(edge / 2, 150), QColor("#e01010")));
    EXPECT_EQ(image->pixelColor(std::min(edge + 20, 399), 150), QColor(Qt::black));
}

TEST(X11Capture, AClosedWindowAndAnUnknownDisplayGiveNoImage)
{
    TestWindows windows({"Скоро закроется|#e01010|300|200|420|300"});
    ASSERT_TRUE(windows.started());
    const uint32_t id = windows.id(0);
    ASSERT_FALSE(waitForFrame(id).isEmpty());
    ASSERT_TRUE(grab(CaptureTarget::window(id), 480));
    windows.close();
    waitUntil([&] { return !findWindow(listContent(), id); });

    EXPECT_FALSE(grab(CaptureTarget::window(id), 480));
    EXPECT_FALSE(grab(CaptureTarget::display(4242), 480));
}

TEST(X11Capture, AStuckOrDeadServerNeverHoldsTheMainThreadAndGivesEmptyResults)
{
    {
        const auto absent = std::make_shared<X11ScreenCapture>(":4999");
        const auto nothing = QCoro::waitFor(CaptureChoices::current(absent));
        EXPECT_TRUE(nothing.displays.empty() && nothing.windows.empty());
        EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(absent, realClock, CaptureTarget::display(1), 480)));
    }

    PrivateXServer server("640x480x24");
    const auto use = std::make_shared<X11ScreenCapture>(server.name().toUtf8());
    const auto before = QCoro::waitFor(CaptureChoices::current(use));
    ASSERT_EQ(before.displays.size(), 1u);
    EXPECT_EQ(before.displays[0].subtitle, "640×480");

    // A server that does not answer: the listing waits on a worker thread
    // while the main thread keeps running its events.
    server.signal(SIGSTOP);
    auto listing = CaptureChoices::current(use);
    auto capture = CaptureChoices::capture(use, realClock, before.displays[0].target, 480);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    waitUntil([&] { return ticks >= 20; });
    EXPECT_GE(ticks, 20);
    EXPECT_FALSE(listing.isReady());

    // Once it is gone, everything waiting on it ends empty.
    server.kill();
    ASSERT_TRUE(waitUntil([&] { return listing.isReady() && capture.isReady(); }));
    const auto after = QCoro::waitFor(std::move(listing));
    EXPECT_TRUE(after.displays.empty() && after.windows.empty());
    EXPECT_FALSE(QCoro::waitFor(std::move(capture)));
    EXPECT_TRUE(QCoro::waitFor(CaptureChoices::current(use)).displays.empty());
}

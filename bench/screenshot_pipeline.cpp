// From mouse-up on the overlay to the cropped picture, on the X server named
// by DISPLAY (run it inside the test environment), next to `import -window
// root` grabbing the same screen as a whole process. The controller's fixed
// wait before the capture is left out. The display is captured the way the
// integration tests capture it (QScreen::grabWindow, XGetImage underneath).
//   scripts/testenv/with-env.sh DIR bench_screenshot_pipeline [runs]

#include "bench/bench_support.h"
#include "core/clock.h"
#include "platform/linux/linux_platform.h"
#include "platform/screen_capture.h"
#include "shots/area_selector.h"
#include "shots/screenshot.h"
#include "shots/selection_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The screen of this session, as the program makes it.
std::shared_ptr<ScreenCapture> session()
{
    static const auto capture = LinuxPlatform::screenCaptureForSession(nullptr);
    return capture;
}

quint32 displayNumber(const QScreen* screen)
{
    return session()->displayNumber(screen);
}

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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    QScreen* screen = QGuiApplication::primaryScreen();
    std::printf("screen %dx%d on %s\n", screen->geometry().width(), screen->geometry().height(),
                qPrintable(QGuiApplication::platformName()));

    AreaSelector selector(nullptr, displayNumber);
    SystemClock clock;
    std::vector<double> ours;
    for (int i = 0; i < runs; ++i) {
        std::optional<SelectedArea> area;
        selector.begin([&](std::optional<SelectedArea> result) { area = result; });
        settle(200);
        SelectionView* view = selector.windows().front();
        sendMouse(view, QEvent::MouseButtonPress, QPointF(300, 200), Qt::LeftButton);
        sendMouse(view, QEvent::MouseMove, QPointF(1500, 900), Qt::LeftButton);

        QElapsedTimer timer;
        timer.start();
        sendMouse(view, QEvent::MouseButtonRelease, QPointF(1500, 900), Qt::NoButton);
        const double released = timer.nsecsElapsed() / 1e6;
        const std::optional<QImage> shot = QCoro::waitFor(Screenshot::take(*area, grabArea, clock));
        const double taken = timer.nsecsElapsed() / 1e6;
        if (qEnvironmentVariableIsSet("KORVALA_BENCH_DETAIL"))
            std::printf("release %.1f, take %.1f, crop %.1f ms\n", released, taken - released,
                        timer.nsecsElapsed() / 1e6 - taken);
        ours.push_back(timer.nsecsElapsed() / 1e6);
        if (!shot || shot->size() != QSize(1200, 700)) {
            std::printf("unexpected crop\n");
            return 1;
        }
        settle(50);
    }

    std::vector<double> reference;
    for (int i = 0; i < std::min(runs, 10); ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess::execute("import", {"-window", "root", "rgb:/dev/null"});
        reference.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("mouse-up to cropped picture: median %.1f ms (%d runs)\n", median(ours), runs);
    std::printf("import -window root (whole process): median %.1f ms\n", median(reference));
    std::printf("ratio %.2f\n", median(ours) / median(reference));
    return 0;
}

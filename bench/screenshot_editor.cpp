// From mouse-up on the selection overlay to the editor window shown, for a
// selection of the whole screen and one of a quarter of it, on the X server
// named by DISPLAY (run it inside the test environment), with the two fixed
// waits (0.12 s before the capture, 0.15 s before the window is built) left
// out. Prints the median of each step: the overlays leaving, the capture of
// the area, the window build.
//   scripts/testenv/with-env.sh DIR bench_screenshot_editor [runs]

#include "bench/bench_support.h"
#include "capture/capture_choices.h"
#include "core/clock.h"
#include "platform/linux/linux_platform.h"
#include "platform/workspace.h"
#include "shots/area_selector.h"
#include "shots/screenshot.h"
#include "shots/selection_view.h"
#include "shots/shot_preview_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>


#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The fixed waits happen at once; everything else is the system clock's.
class NoWaitClock final : public Clock {
public:
    QDateTime now() const override { return system.now(); }
    double uptime() const override { return system.uptime(); }
    QCoro::Task<void> sleep(double) override { co_return; }
    void after(double, QObject* context, std::function<void()> work) override
    {
        QTimer::singleShot(0, context, std::move(work));
    }
    SystemClock system;
};

class QuietWorkspace final : public Workspace {
public:
    bool openUrl(const QUrl&) override { return true; }
    bool openFolder(const QString&) override { return true; }
    bool revealFile(const QString&) override { return true; }
    bool openSettings(SettingsPane) override { return true; }
    void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
    ActivationPolicy activationPolicy() const override { return policy_; }
    std::unique_ptr<Observation> observeActiveSpace(std::function<void()>) override { return nullptr; }
    void moveToActiveSpace(QWindow*) override {}
    ColorScheme colorScheme() override { return ColorScheme::unknown; }
    std::unique_ptr<Observation> observeColorScheme(std::function<void(ColorScheme)>) override { return nullptr; }
    ActivationPolicy policy_ = ActivationPolicy::accessory;
};

// The screen of this session, as the program makes it.
std::shared_ptr<ScreenCapture> session()
{
    static const auto capture = LinuxPlatform::screenCaptureForSession(nullptr);
    return capture;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 11;
    NoWaitClock noWait;
    QScreen* screen = QGuiApplication::primaryScreen();
    AreaSelector selector(nullptr, [](const QScreen* screen) { return session()->displayNumber(screen); });
    QuietWorkspace workspace;
    ShotPreviewWindow preview(workspace, noWait);

    const QSize full = screen->size();
    const QRect areas[] = {QRect(QPoint(0, 0), full),
                           QRect(QPoint(full.width() / 4, full.height() / 4), full / 2)};
    for (const QRect& drawn : areas) {
        std::vector<double> selecting, capturing, building, total;
        QSize picture;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer clock;
            std::optional<SelectedArea> area;
            bool selected = false;
            selector.begin([&](std::optional<SelectedArea> result) {
                area = result;
                selected = true;
            });
            settle(300);
            SelectionView* view = selector.windows().value(0);
            if (!view)
                return 1;
            sendMouse(view, QEvent::MouseButtonPress, drawn.topLeft(), Qt::LeftButton);
            sendMouse(view, QEvent::MouseMove, drawn.center(), Qt::LeftButton);
            sendMouse(view, QEvent::MouseMove, drawn.bottomRight() + QPoint(1, 1), Qt::LeftButton);
            clock.start();
            sendMouse(view, QEvent::MouseButtonRelease, drawn.bottomRight() + QPoint(1, 1), Qt::NoButton);
            while (!selected)
                QCoreApplication::processEvents();
            const double t1 = clock.nsecsElapsed() / 1e6;
            if (!area)
                return 1;

            // The capture as the program makes it: only the area is read.
            const QImage image = QCoro::waitFor(Screenshot::take(*area, [&noWait](const SelectedArea& area) {
                return CaptureChoices::capture(session(), noWait, CaptureTarget::display(area.displayID),
                                               std::nullopt,
                                               [area](QSize whole) { return Screenshot::crop(whole, area); });
            }, noWait));
            const double t2 = clock.nsecsElapsed() / 1e6;
            picture = image.size();
            preview.show(image, [](QImage, Screenshot::Destination) {});
            while (!(preview.window() && preview.window()->windowHandle()
                     && preview.window()->windowHandle()->isExposed()))
                QCoreApplication::processEvents();
            const double t3 = clock.nsecsElapsed() / 1e6;

            selecting.push_back(t1);
            capturing.push_back(t2 - t1);
            building.push_back(t3 - t2);
            total.push_back(t3);
            preview.finish(Screenshot::Destination::clipboard);
            settle(200);
        }
        std::printf("area %dx%d points of a %dx%d screen, picture %dx%d pixels, %d runs (medians, ms)\n",
                    drawn.width(), drawn.height(), full.width(), full.height(), picture.width(),
                    picture.height(), runs);
        std::printf("  mouse-up to overlays gone  %7.1f\n", median(selecting));
        std::printf("  capture of the area        %7.1f\n", median(capturing));
        std::printf("  editor build until shown   %7.1f\n", median(building));
        std::printf("  total, fixed waits left out %6.1f\n", median(total));
    }
    return 0;
}

// Opening the capture picker on a desktop of 2 displays and 10 windows.
// Run inside the test desktop:
//   scripts/testenv/with-env.sh DIR build/bench/bench_capture_picker [runs]
// Measures the time from show() to the filled grid, beside the same twelve
// thumbnails made one after another, and the longest stretch the main thread
// spent away from its event loop while the picker loaded and first painted.

#include "bench/bench_support.h"
#include "capture/capture_choices.h"
#include "capture/capture_picker_window.h"
#include "core/clock.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/desktop/desktop_workspace.h"
#include "platform/linux/linux_platform.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// The windows live in a child process: the picker leaves out its own.
int showWindows(int argc, char** argv)
{
    QApplication app(argc, argv);
    const auto swatches = showTenWindows();
    return app.exec();
}

void spin(QApplication& app, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        app.processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "windows")
        return showWindows(argc, argv);

    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 9;

    QProcess::execute("xrandr", {"--setmonitor", "bench-left", "960/254x1080/286+0+0", "screen"});
    QProcess::execute("xrandr", {"--setmonitor", "bench-right", "960/254x1080/286+960+0", "none"});
    QProcess windows;
    windows.start(QCoreApplication::applicationFilePath(), {"windows"});
    spin(app, 2000);

    const auto service = LinuxPlatform::screenCaptureForSession(nullptr);
    SystemClock clock;
    const auto choices = QCoro::waitFor(CaptureChoices::current(service));
    std::vector<CaptureTarget> targets;
    for (const auto& item : choices.displays)
        targets.push_back(item.target);
    for (const auto& item : choices.windows)
        targets.push_back(item.target);

    DesktopWorkspace workspace;
    CapturePickerWindow picker(workspace, CapturePickerWindow::Sources::of(service, clock));

    // The main thread's busy stretches: from waking up in the event loop to
    // going back to sleep there. Measured without a timer of our own, which
    // would keep the thread spinning and take a core from the captures.
    QElapsedTimer loopClock;
    loopClock.start();
    bool measuring = false;
    qint64 awakeAt = 0;
    qint64 longestGap = 0;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { awakeAt = loopClock.nsecsElapsed(); });
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
        if (measuring)
            longestGap = std::max(longestGap, loopClock.nsecsElapsed() - awakeAt);
    });

    std::vector<double> opening, inTurn, gaps;
    size_t tiles = 0;
    for (int i = 0; i < runs; ++i) {
        if (picker.window())
            picker.window()->hide();
        spin(app, 100);
        const QWidget* before = picker.content();
        longestGap = 0;
        QElapsedTimer timer;
        timer.start();
        awakeAt = loopClock.nsecsElapsed();
        measuring = true;
        picker.show(QStringLiteral("Что записывать"), [](CaptureTarget) {});
        while (!(picker.view() == CapturePickerWindow::View::grid && picker.content() != before))
            app.processEvents(QEventLoop::WaitForMoreEvents);
        opening.push_back(timer.nsecsElapsed() / 1e6);
        // The grid's first paint belongs to the opening as well.
        spin(app, 100);
        measuring = false;
        gaps.push_back(longestGap / 1e6);
        tiles = picker.tiles().size();

        timer.restart();
        for (const auto& target : targets)
            QCoro::waitFor(CaptureChoices::capture(service, clock, target, CapturePickerWindow::thumbnailWidth));
        inTurn.push_back(timer.nsecsElapsed() / 1e6);
    }
    picker.window()->hide();
    windows.kill();
    windows.waitForFinished();
    QProcess::execute("xrandr", {"--delmonitor", "bench-left"});
    QProcess::execute("xrandr", {"--delmonitor", "bench-right"});

    std::printf("picker with %zu displays and %zu windows (%zu tiles), median of %d\n", choices.displays.size(),
                choices.windows.size(), tiles, runs);
    std::printf("  show to filled grid        %8.1f ms\n", median(opening));
    std::printf("  thumbnails one by one      %8.1f ms\n", median(inTurn));
    std::printf("  ratio                      %8.2f (goal <= 0.6)\n", median(opening) / median(inTurn));
    std::printf("  longest main-thread stall  %8.1f ms median, %.1f ms worst (goal <= 50)\n", median(gaps),
                *std::max_element(gaps.begin(), gaps.end()));
    return 0;
}

// What keeping our own windows out of a display's picture costs a frame.
// Run inside the test desktop:
//   scripts/testenv/with-env.sh DIR build/bench/bench_left_out_windows [frames]
// Ten windows of another process cover the 1920×1080 display; each case
// takes display pictures at the recording's 960×540, one after another, and
// prints the median time of one:
// 1. the display as it is, nothing asked to be left out;
// 2. the display less our windows, none of which is over it (the usual
//    frame of a recording: only the check);
// 3. the same with a 640×420 window of ours over the others;
// 4. the same with a window of ours over the whole display.

#include "bench/bench_support.h"
#include "capture/capture_choices.h"
#include "platform/linux/linux_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <qcoro/qcorotask.h>

#include <cstdio>

namespace {

// The other program's windows, in a child process.
int showWindows(int argc, char** argv)
{
    QApplication app(argc, argv);
    const auto swatches = showTenWindows();
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "windows")
        return showWindows(argc, argv);
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(5, atoi(argv[1])) : 60;

    // Made before any window opens, as the program makes it at its start.
    const auto service = LinuxPlatform::screenCaptureForSession(nullptr);
    QProcess windows;
    windows.start(QCoreApplication::applicationFilePath(), {"windows"});
    settle(2000);

    const auto content = QCoro::waitFor(service->shareableContent());
    if (!content || content->displays.empty()) {
        std::fprintf(stderr, "no X display to capture\n");
        return 1;
    }
    const ShareableDisplay display = content->displays[0];
    StreamConfiguration frame;
    frame.width = 960;
    frame.height = 540;

    const auto measure = [&](const ContentFilter& filter) {
        for (int i = 0; i < 5; ++i)
            QCoro::waitFor(service->captureImage(filter, frame));
        std::vector<double> times;
        for (int i = 0; i < frames; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (!QCoro::waitFor(service->captureImage(filter, frame))) {
                std::fprintf(stderr, "capture failed\n");
                std::exit(1);
            }
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        return median(times);
    };
    const ContentFilter plain = ContentFilter::ofDisplay(display, {});
    const ContentFilter lessOurs = CaptureChoices::withoutOwnWindows(display, *content);

    Swatch ours(QColor("#20c040"));
    ours.setTitle(QStringLiteral("Наше окно"));
    const double asItIs = measure(plain);
    const double noneOver = measure(lessOurs);
    ours.setGeometry(600, 300, 640, 420);
    ours.show();
    settle(700);
    const double oneOver = measure(lessOurs);
    ours.setGeometry(0, 0, 1920, 1080);
    settle(700);
    const double wholeOver = measure(lessOurs);
    windows.kill();
    windows.waitForFinished();

    std::printf("display 1920x1080 -> 960x540 under 10 windows of another process, median of %d frames\n", frames);
    std::printf("  nothing left out                  %7.2f ms\n", asItIs);
    std::printf("  our windows left out, none over   %7.2f ms (+%.2f)\n", noneOver, noneOver - asItIs);
    std::printf("  one 640x420 window of ours over   %7.2f ms (+%.2f)\n", oneOver, oneOver - asItIs);
    std::printf("  ours over the whole display       %7.2f ms (+%.2f)\n", wholeOver, wholeOver - asItIs);
    return 0;
}

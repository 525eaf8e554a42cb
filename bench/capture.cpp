// Still images of the X screen, against the usual command-line grabbers.
// Run inside the test desktop:
//   scripts/testenv/with-env.sh DIR build/bench/bench_capture [runs]
// 1. A 1920×1080 display at twice its width (what screenshots ask for), the
//    median of several runs, beside `import -window root` and
//    `ffmpeg -f x11grab -frames:v 1` on the same display (whole processes).
// 2. Thumbnails of 2 displays and 10 windows at width 480, all started
//    together as the picker does, beside the same twelve one after another.

#include "bench/bench_support.h"
#include "capture/capture_choices.h"
#include "platform/linux/linux_platform.h"
#include "platform/screen_capture.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QPainter>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double processMs(const QString& program, const QStringList& arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const QString display = qEnvironmentVariable("DISPLAY");

    const auto capture = LinuxPlatform::screenCaptureForSession(nullptr);
    auto content = QCoro::waitFor(capture->shareableContent());
    if (!content || content->displays.empty()) {
        std::fprintf(stderr, "no X display to capture\n");
        return 1;
    }
    const CaptureTarget screen = CaptureTarget::display(content->displays[0].displayID);

    std::vector<double> ours, imagemagick, ffmpeg;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto image = QCoro::waitFor(CaptureChoices::capture(capture, screen));
        ours.push_back(timer.nsecsElapsed() / 1e6);
        if (!image || image->size() != QSize(3840, 2160)) {
            std::fprintf(stderr, "capture failed\n");
            return 1;
        }
        imagemagick.push_back(processMs("import", {"-silent", "-window", "root", "rgb:/dev/null"}));
        ffmpeg.push_back(processMs("ffmpeg", {"-loglevel", "error", "-f", "x11grab", "-video_size", "1920x1080", "-i",
                                              display, "-frames:v", "1", "-f", "rawvideo", "-y", "/dev/null"}));
    }
    const double faster = std::min(median(imagemagick), median(ffmpeg));
    std::printf("display 1920x1080 -> 3840x2160, median of %d\n", runs);
    std::printf("  capture                  %8.1f ms\n", median(ours));
    std::printf("  import -window root      %8.1f ms (whole process)\n", median(imagemagick));
    std::printf("  ffmpeg -f x11grab        %8.1f ms (whole process)\n", median(ffmpeg));
    std::printf("  ratio to the faster      %8.2f (goal <= 0.5)\n", median(ours) / faster);

    // Two monitors and ten windows, as a picker would see them.
    QProcess::execute("xrandr", {"--setmonitor", "bench-left", "960/254x1080/286+0+0", "screen"});
    QProcess::execute("xrandr", {"--setmonitor", "bench-right", "960/254x1080/286+960+0", "none"});
    const auto swatches = showTenWindows();
    settle(1500);

    std::vector<CaptureTarget> targets;
    content = QCoro::waitFor(capture->shareableContent());
    for (const auto& d : content->displays)
        targets.push_back(CaptureTarget::display(d.displayID));
    for (const auto& swatch : swatches)
        targets.push_back(CaptureTarget::window(uint32_t(swatch->winId())));

    std::vector<double> together, inTurn;
    size_t made = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        std::vector<QCoro::Task<std::optional<QImage>>> tasks;
        for (const auto& target : targets)
            tasks.push_back(CaptureChoices::capture(capture, target, 480));
        made = 0;
        for (auto& task : tasks)
            made += QCoro::waitFor(std::move(task)) ? 1 : 0;
        together.push_back(timer.nsecsElapsed() / 1e6);

        timer.restart();
        for (const auto& target : targets)
            QCoro::waitFor(CaptureChoices::capture(capture, target, 480));
        inTurn.push_back(timer.nsecsElapsed() / 1e6);
    }
    QProcess::execute("xrandr", {"--delmonitor", "bench-left"});
    QProcess::execute("xrandr", {"--delmonitor", "bench-right"});

    std::printf("thumbnails of %zu displays and %zu windows at width 480 (%zu made), median of %d\n",
                content->displays.size(), swatches.size(), made, runs);
    std::printf("  all started together     %8.1f ms\n", median(together));
    std::printf("  one after another        %8.1f ms\n", median(inTurn));
    std::printf("  ratio                    %8.2f (goal <= 0.6)\n", median(together) / median(inTurn));
    return 0;
}

// CPU time of a screen recording through xdg-desktop-portal beside the same
// recording on X11: the picture of a 1920×1080 display made 960×540 at ten
// frames a second and encoded into an H.264 file, for the whole process.
//   scripts/testenv/with-env.sh PORTAL_DIR build/bench/bench_portal_recording portal [seconds]
//   scripts/testenv/with-env.sh X11_DIR build/bench/bench_portal_recording x11 [seconds]
// (PORTAL_DIR from scripts/testenv/portal-up.sh, X11_DIR from up.sh.)

#include "platform/linux/linux_platform.h"
#include "platform/linux/portal/portal_screen_capture.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "core/serial_queue.h"
#include "platform/linux/linux_platform.h"
#include "recording/video_writer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
           + usage.ru_stime.tv_usec / 1e6;
}

class Frames final : public StreamOutput {
public:
    explicit Frames(VideoWriter& writer) : writer_(writer) {}
    void didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType) override
    {
        ++count;
        writer_.append({sample.image, sample.presentationTime});
    }
    std::atomic<int> count{0};

private:
    VideoWriter& writer_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("portal");
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;

    std::shared_ptr<ScreenCapture> capture;
    if (path == QLatin1String("x11"))
        capture = std::make_shared<X11ScreenCapture>();
    else
        capture = std::make_shared<PortalScreenCapture>(QDBusConnection::sessionBus(), nullptr);

    const auto content = QCoro::waitFor(capture->shareableContent());
    if (!content || content->displays.empty()) {
        std::fprintf(stderr, "no display to record\n");
        return 1;
    }
    const ShareableDisplay display = content->displays.front();
    StreamConfiguration configuration;
    configuration.width = 960;
    configuration.height = 540;
    configuration.minimumFrameInterval = 0.1;
    configuration.showsCursor = true;

    QTemporaryDir folder;
    VideoWriter writer(folder.filePath(QStringLiteral("bench.mp4")), 960, 540, LinuxPlatform::videoMedia());
    auto frames = std::make_shared<Frames>(writer);
    SerialQueue screen("bench.screen");
    auto stream = capture->makeStream(ContentFilter::ofDisplay(display, {}), configuration, nullptr);
    stream->addStreamOutput(frames, StreamOutputType::Screen, &screen);
    if (auto failed = QCoro::waitFor(stream->startCapture())) {
        std::fprintf(stderr, "the capture did not start: %s\n", qPrintable(*failed));
        return 1;
    }
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    QCoro::waitFor(stream->stopCapture());
    screen.sync([] {});
    const auto written = QCoro::waitFor(writer.finish());
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("%s: %d frames in %.1f s wall, process CPU %.2f s (%.1f %% of one core), file %s\n",
                qPrintable(path), frames->count.load(), wall.elapsed() / 1000.0, cpu,
                100.0 * cpu / (wall.elapsed() / 1000.0), written ? "written" : "missing");
    return written ? 0 : 1;
}

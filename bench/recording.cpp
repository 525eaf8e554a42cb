// A whole recording as the program makes it, for its processor time and
// memory next to command-line recorders doing the same work. Run inside the
// test desktop (bench/recording.sh does all of it):
//   bench_recording pattern             a full-screen moving test pattern
//   bench_recording display SECONDS     records the first display: the video
//                                       (grab, scale to 960 wide, H.264) and
//                                       both sound tracks
//   bench_recording audio SECONDS       records the two sound tracks only
// The recording modes print their own processor time (all threads) and peak
// resident memory when they are done.

#include "core/described_error.h"
#include "core/clock.h"
#include "platform/linux/linux_platform.h"
#include "platform/screen_capture.h"
#include "recording/recorder.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <sys/resource.h>

#include <cstdio>

namespace {

// Bars that slide and a square that crosses the screen: every frame differs
// everywhere, as a shared presentation or a video call does.
class MovingPattern : public QRasterWindow {
public:
    MovingPattern()
    {
        connect(&ticks_, &QTimer::timeout, this, [this] {
            ++frame_;
            update();
        });
        ticks_.start(33);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const int w = width(), h = height();
        static const QColor bars[] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red, Qt::blue};
        const int bar = w / 7;
        const int shift = (frame_ * 8) % w;
        for (int i = 0; i < 8; ++i)
            painter.fillRect((i * bar + shift) % (w + bar) - bar, 0, bar, h, bars[i % 7]);
        const int side = h / 4;
        painter.fillRect((frame_ * 12) % (w - side), (frame_ * 7) % (h - side), side, side, Qt::black);
        painter.setPen(Qt::black);
        painter.setFont(QFont("DejaVu Sans", 48));
        painter.drawText(40, 80, QString::number(frame_));
    }

private:
    QTimer ticks_;
    int frame_ = 0;
};

QCoro::Task<int> record(std::shared_ptr<ScreenCapture> capture, CaptureTarget target, int seconds)
{
    QTemporaryDir folder;
    Recorder recorder(folder.path(), {LinuxPlatform::microphoneInput(), std::move(capture),
                                      LinuxPlatform::audioMedia(), LinuxPlatform::videoMedia()});
    try {
        co_await recorder.start(target);
    } catch (const DescribedError& error) {
        std::fprintf(stderr, "start failed: %s\n", qPrintable(error.description()));
        co_return 1;
    }
    if (const auto failure = recorder.systemAudioFailure())
        std::fprintf(stderr, "%s\n", qPrintable(*failure));
    SystemClock clock;
    co_await clock.sleep(seconds);
    Recorder::Result result;
    try {
        result = co_await recorder.stop();
    } catch (const DescribedError& error) {
        std::fprintf(stderr, "stop failed: %s\n", qPrintable(error.description()));
        co_return 1;
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
                     + usage.ru_stime.tv_usec / 1e6;
    std::printf("recorded %.1f s: cpu %.2f s (%.1f%% of one core), peak RSS %.1f MB\n", result.duration, cpu,
                100 * cpu / result.duration, usage.ru_maxrss / 1024.0);
    for (const QString& file : {result.microphone, result.system, result.video.value_or(QString())}) {
        if (!file.isEmpty())
            std::printf("  %s %lld bytes\n", qPrintable(QFileInfo(file).fileName()), QFileInfo(file).size());
    }
    co_return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == "pattern") {
        // The whole screen, without a frame: the test desktop's window
        // manager does not make windows full screen.
        MovingPattern pattern;
        pattern.setFlags(Qt::FramelessWindowHint);
        pattern.setGeometry(app.primaryScreen()->geometry());
        pattern.show();
        return app.exec();
    }
    const int seconds = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
    const auto capture = LinuxPlatform::screenCaptureForSession(nullptr);
    if (mode == "audio")
        return QCoro::waitFor(record(capture, CaptureTarget::audioOnly(), seconds));
    if (mode == "display") {
        auto content = QCoro::waitFor(capture->shareableContent());
        if (!content || content->displays.empty()) {
            std::fprintf(stderr, "no X display to record\n");
            return 1;
        }
        return QCoro::waitFor(record(capture, CaptureTarget::display(content->displays.front().displayID), seconds));
    }
    std::fprintf(stderr, "usage: %s pattern | display SECONDS | audio SECONDS\n", argv[0]);
    return 2;
}

// Writes a microphone-like track and a video for as long as it lives; the
// crash test kills it with SIGKILL in the middle. Prints "handed N" after each
// N seconds of both have been handed over.
#include "recording/track_writer.h"
#include "recording/video_writer.h"
#include "platform/linux/linux_platform.h"
#include "tests/recording/audio_test_signals.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    TrackWriter track(QString::fromLocal8Bit(argv[1]), LinuxPlatform::audioMedia());
    VideoWriter video(QString::fromLocal8Bit(argv[2]), 320, 240, LinuxPlatform::videoMedia());
    ToneSource tone({48000, 2, AudioFormat::SampleType::float32}, 1000, 0.5);
    QImage picture(320, 240, QImage::Format_RGB32);
    // Ten video frames and about ten audio buffers a second, in real time.
    for (int tick = 0;; ++tick) {
        picture.fill(QColor(tick * 10 % 255, 80, 160));
        video.append({picture, tick * 0.1});
        track.append(tone.next(4800));
        if (tick > 0 && tick % 10 == 0) {
            std::printf("handed %d\n", tick / 10);
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// CPU per 960×540 frame through VideoWriter, next to ffmpeg encoding the
// same raw BGRA frames with the same encoder settings:
//   bench_video_writer [frames=600]
#include "platform/linux/linux_platform.h"
#include "recording/video_writer.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <cstdio>
#include <sys/resource.h>
#include <thread>

namespace {

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int framesIn(const QString& path)
{
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-count_packets", "-select_streams", "v", "-show_entries",
                            "stream=nb_read_packets", "-of", "csv=p=0", path});
    probe.waitForFinished();
    return probe.readAllStandardOutput().trimmed().toInt();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 600;
    // A desktop-like picture with a moving window, 30 distinct frames.
    std::vector<QImage> pictures;
    for (int i = 0; i < 30; ++i) {
        QImage image(960, 540, QImage::Format_RGB32);
        image.fill(QColor(230, 230, 235));
        QPainter painter(&image);
        painter.fillRect(40 + i * 8, 60 + i * 4, 420, 300, QColor(40, 90, 160));
        painter.setPen(Qt::black);
        for (int line = 0; line < 12; ++line)
            painter.drawText(60 + i * 8, 100 + i * 4 + line * 20, QString("Строка текста номер %1").arg(line + i));
        pictures.push_back(image);
    }

    QTemporaryDir dir;
    const double before = cpuSeconds(RUSAGE_SELF);
    {
        VideoWriter writer(dir.filePath("ours.mp4"), 960, 540, LinuxPlatform::videoMedia());
        for (int i = 0; i < count; ++i) {
            writer.append({pictures[i % 30], i * 0.1});
            // Paced like a live stream, fast enough to keep the encoder busy.
            std::this_thread::sleep_for(std::chrono::milliseconds(12));
        }
        QCoro::waitFor(writer.finish());
    }
    const double ours = cpuSeconds(RUSAGE_SELF) - before;
    const int oursFrames = framesIn(dir.filePath("ours.mp4"));

    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s 960x540 -r 10 -i - "
                                "-pix_fmt yuv420p -c:v libx264 -preset veryfast -tune zerolatency -b:v 500k "
                                "-g 10 -bf 0 -movflags empty_moov+default_base_moof -frag_duration 1000000 "
                                + dir.filePath("ffmpeg.mp4").toStdString();
    FILE* ffmpeg = popen(command.c_str(), "w");
    for (int i = 0; i < count; ++i)
        fwrite(pictures[i % 30].constBits(), 1, pictures[i % 30].sizeInBytes(), ffmpeg);
    pclose(ffmpeg);
    const double theirs = cpuSeconds(RUSAGE_CHILDREN);
    const int theirFrames = framesIn(dir.filePath("ffmpeg.mp4"));

    std::printf("VideoWriter: %d frames, %.2f ms CPU a frame\n", oursFrames, ours * 1000 / std::max(oursFrames, 1));
    std::printf("ffmpeg:      %d frames, %.2f ms CPU a frame\n", theirFrames, theirs * 1000 / std::max(theirFrames, 1));
    std::printf("ratio:       %.2f\n", (ours / std::max(oursFrames, 1)) / (theirs / std::max(theirFrames, 1)));
}

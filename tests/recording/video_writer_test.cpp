#include "recording/recorder_failure.h"
#include "recording/video_writer.h"
#include "tests/support/media_probe.h"
#include "tests/support/spawned_child.h"
#include "tests/support/stderr_capture.h"
#include "platform/linux/linux_platform.h"

#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QColor blue(32, 64, 208);

// Blue with a yellow patch that moves at each step.
QImage picture(int width, int height, int step)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(blue);
    QPainter painter(&image);
    painter.fillRect(step * 7 % width, 100, 120, 80, Qt::yellow);
    return image;
}

// The real media, with the file refusing to open at the first frame.
class RefusingVideoMedia final : public VideoMedia {
public:
    int opens = 0;
    void check(const QString& path, const VideoFile::Settings& settings) override
    {
        LinuxPlatform::videoMedia()->check(path, settings);
    }
    std::unique_ptr<VideoFile> createFile(const QString&, const VideoFile::Settings&) override
    {
        ++opens;
        throw MediaError("");
    }
};

} // namespace

TEST(VideoWriter, SizeIs960WideWithTheContentsAspectAndAnEvenHeight)
{
    EXPECT_EQ(VideoWriter::size(1920, 1080), (VideoWriter::Size {960, 540}));
    EXPECT_EQ(VideoWriter::size(1512, 982), (VideoWriter::Size {960, 622}));
    EXPECT_EQ(VideoWriter::size(800, 600), (VideoWriter::Size {960, 720}));
    EXPECT_EQ(VideoWriter::size(1000, 333), (VideoWriter::Size {960, 320}));
    EXPECT_EQ(VideoWriter::size(0, 1080), (VideoWriter::Size {960, 960}));
    EXPECT_EQ(VideoWriter::size(1920, 0), (VideoWriter::Size {960, 960}));
    EXPECT_EQ(VideoWriter::size(100000, 10), (VideoWriter::Size {960, 2})) << "never below two rows";
}

TEST(VideoWriter, FramesWithUnevenTimesAndSizesDecodeAsH264FromTimeZeroWithTheGapsKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vstrecha-ekran.mp4");
    VideoWriter writer(path, 960, 540, LinuxPlatform::videoMedia());
    // Capture times on some steady clock far from zero; one long pause. Every
    // other picture is of another size, as when the window is resized.
    const double times[] = {1000.0, 1000.1, 1000.2, 1000.3, 1001.5, 1001.6, 1001.7};
    int step = 0;
    for (double time : times) {
        const bool resized = step % 2;
        writer.append({picture(resized ? 1512 : 960, resized ? 982 : 540, step++), time});
        // Keep within what the encoder takes without dropping.
        QThread::msleep(60);
    }
    writer.append({QImage(), 1002.0}); // a frame without a picture counts for nothing
    const auto result = QCoro::waitFor(writer.finish());
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, path);

    const ProbedVideo video = probeVideo(path);
    ASSERT_TRUE(video.opened);
    EXPECT_EQ(video.codec, "h264");
    EXPECT_EQ(video.width, 960);
    EXPECT_EQ(video.height, 540);
    ASSERT_EQ(video.frameTimes.size(), 7u);
    const double expected[] = {0.0, 0.1, 0.2, 0.3, 1.5, 1.6, 1.7};
    for (int i = 0; i < 7; ++i)
        EXPECT_NEAR(video.frameTimes[i], expected[i], 0.002) << "frame " << i;

    // The encoder shares its bits out per picture at ten a second, not per
    // millisecond of the times, or the first seconds come out grey and
    // washed out.
    const QString first = dir.filePath("first.png");
    SpawnedChild ffmpeg("/usr/bin/ffmpeg", {"-v", "error", "-y", "-i", path, "-frames:v", "1", first});
    ASSERT_TRUE(ffmpeg.finished(20000));
    const QImage frame(first);
    ASSERT_FALSE(frame.isNull());
    const QColor seen = frame.pixelColor(700, 400);
    EXPECT_NEAR(seen.red(), blue.red(), 6) << seen.name().toStdString();
    EXPECT_NEAR(seen.green(), blue.green(), 6) << seen.name().toStdString();
    EXPECT_NEAR(seen.blue(), blue.blue(), 6) << seen.name().toStdString();
    const QColor patch = frame.pixelColor(60, 140);
    EXPECT_GT(patch.red(), 200) << "the yellow patch is there: " << patch.name().toStdString();
    EXPECT_GT(patch.green(), 200) << patch.name().toStdString();
}

TEST(VideoWriter, NoFramesOrAFailedStartLeaveNoFile)
{
    QTemporaryDir dir;
    {
        VideoWriter writer(dir.filePath("empty.mp4"), 960, 540, LinuxPlatform::videoMedia());
        writer.append({QImage(), 1.0});
        EXPECT_FALSE(QCoro::waitFor(writer.finish()));
    }
    auto media = std::make_shared<RefusingVideoMedia>();
    StderrCapture errors;
    {
        VideoWriter writer(dir.filePath("refused.mp4"), 960, 540, media);
        for (int i = 0; i < 3; ++i) {
            writer.append({picture(960, 540, i), 1.0 + i});
            QThread::msleep(20);
        }
        EXPECT_FALSE(QCoro::waitFor(writer.finish()));
    }
    EXPECT_EQ(media->opens, 1) << "frames after the failed start are ignored";
    EXPECT_EQ(errors.take().count('\n'), 1) << "the failed start is told once";
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    try {
        VideoWriter writer(dir.filePath("no/such/folder/ekran.mp4"), 960, 540, LinuxPlatform::videoMedia());
        ADD_FAILURE() << "no folder";
    } catch (const RecorderFailure& failure) {
        EXPECT_EQ(failure.kind(), RecorderFailure::Case::writerFailed);
    }
}

TEST(VideoWriter, FramesBeyondWhatTheEncoderHoldsAreDropped)
{
    QTemporaryDir dir;
    VideoWriter writer(dir.filePath("burst.mp4"), 960, 540, LinuxPlatform::videoMedia());
    const QImage image = picture(1920, 1080, 0);
    for (int i = 0; i < 200; ++i)
        writer.append({image, i * 0.1});
    const auto result = QCoro::waitFor(writer.finish());
    ASSERT_TRUE(result);
    const ProbedVideo video = probeVideo(*result);
    EXPECT_GE(video.frameTimes.size(), 1u);
    EXPECT_LT(video.frameTimes.size(), 200u);
}

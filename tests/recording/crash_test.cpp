#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "tests/support/spawned_child.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

// A recording whose process is killed keeps what it had written: both files
// decode as they are, with no repair, up to about the last second.
TEST(CrashSafety, TrackAndVideoOfAKilledProcessDecodeUpToTheLastSecond)
{
    QTemporaryDir dir;
    const QString track = dir.filePath("vstrecha-mikrofon.m4a");
    const QString video = dir.filePath("vstrecha-ekran.mp4");
    SpawnedChild child(KORVALA_CRASH_CHILD, {track, video});
    ASSERT_TRUE(child.started());
    QByteArray said;
    ASSERT_TRUE(waitUntil([&] {
        said += child.readOutput();
        return said.contains("handed 5");
    }, 60000));
    ASSERT_TRUE(child.killWith(SIGKILL));

    const ProbedAudio audio = probeAudio(track);
    ASSERT_TRUE(audio.opened);
    EXPECT_EQ(audio.codec, "aac");
    const double seconds = double(audio.samples.size()) / 44100;
    // Five seconds were handed over; the writer may lag a little behind and
    // the last fragment may be lost.
    EXPECT_GT(seconds, 3.0);
    EXPECT_NEAR(toneAmplitude(audio.samples, 44100, 1000), 0.5, 0.05);

    const ProbedVideo picture = probeVideo(video);
    ASSERT_TRUE(picture.opened);
    EXPECT_EQ(picture.codec, "h264");
    EXPECT_EQ(picture.width, 320);
    EXPECT_GE(picture.frameTimes.size(), 30u);
    EXPECT_NEAR(picture.frameTimes.front(), 0.0, 0.001);
}

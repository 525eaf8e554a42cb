#include "platform/linux/linux_platform.h"
#include "recording/unfinished_recordings.h"
#include "tests/support/killed_recording.h"
#include "tests/support/media_probe.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool write(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size();
}

} // namespace

// A recording whose process is killed keeps what it had written: both files
// decode as they are, with no repair, up to about the last second. At the
// next start they are finished as ordinary MPEG-4 files, and nothing else in
// the folder changes.
TEST(CrashSafety, AKilledRecordingDecodesAsItIsAndIsFinishedAtTheNextStart)
{
    QTemporaryDir dir;
    const QString base = "vstrecha-2026-12-04-0930-2";
    const QString track = dir.filePath(base + "-mikrofon.m4a");
    const QString video = dir.filePath(base + "-ekran.mp4");
    ASSERT_TRUE(killRecordingAfter(track, video, 5));
    ASSERT_TRUE(UnfinishedRecordings::readBoxes(track).fragmented);

    const ProbedAudio audio = probeAudio(track);
    ASSERT_TRUE(audio.opened);
    // Five seconds were handed over; the writer may lag a little behind and
    // the last fragment may be lost.
    EXPECT_GT(double(audio.samples.size()) / 44100, 3.0);
    EXPECT_NEAR(toneAmplitude(audio.samples, 44100, 1000), 0.5, 0.05);
    const ProbedVideo picture = probeVideo(video);
    ASSERT_TRUE(picture.opened);
    EXPECT_GE(picture.frameTimes.size(), 30u);
    EXPECT_NEAR(picture.frameTimes.front(), 0.0, 0.001);

    // The power went in the middle of a fragment, an earlier finish was
    // interrupted, and beside them lie files that are not ours, two of them
    // fragmented too.
    const QByteArray written = contents(track);
    const QByteArray lastFragment = written.mid(written.lastIndexOf("moof") - 4);
    ASSERT_TRUE(write(track, lastFragment.left(lastFragment.size() / 2), QIODevice::Append));
    const QString part = dir.filePath("." + base + "-mikrofon.part.m4a");
    ASSERT_TRUE(write(part, "half a rewrite"));
    const QStringList foreign = {"notes.txt", ".notes.part.m4a", "vstrecha-mikrofon.m4a",
                                 "vstrecha-2026-12-03-1000-zvuk.mp4"};
    std::map<QString, QByteArray> before;
    for (const QString& name : foreign) {
        ASSERT_TRUE(name.startsWith("vstrecha") ? QFile::copy(video, dir.filePath(name))
                                                : write(dir.filePath(name), "not ours"));
        before[name] = contents(dir.filePath(name));
    }

    const auto recovered = UnfinishedRecordings::finish(dir.path(), *LinuxPlatform::audioMedia());
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(recovered[0].base, base);
    EXPECT_EQ(recovered[0].startedAt, QDateTime(QDate(2026, 12, 4), QTime(9, 30)));
    EXPECT_EQ(recovered[0].files.microphone, track);
    EXPECT_EQ(recovered[0].files.video, video);
    EXPECT_TRUE(recovered[0].files.system.isEmpty()) << "no such file";
    EXPECT_FALSE(QFileInfo::exists(part));
    EXPECT_FALSE(UnfinishedRecordings::readBoxes(track).fragmented);
    EXPECT_FALSE(UnfinishedRecordings::readBoxes(video).fragmented);
    const ProbedAudio finished = probeAudio(track);
    EXPECT_NEAR(double(finished.samples.size()), double(audio.samples.size()), 2048) << "all that was written";
    EXPECT_NEAR(toneAmplitude(finished.samples, 44100, 1000), 0.5, 0.05);
    EXPECT_EQ(probeVideo(video).frameTimes.size(), picture.frameTimes.size());
    for (const QString& name : foreign)
        EXPECT_EQ(contents(dir.filePath(name)), before[name]) << name.toStdString();

    // Finished once, it is a finished recording like any other; and a
    // recording that another running Korvala writes is left to it.
    const QByteArray finishedTrack = contents(track);
    const QString running = dir.filePath("vstrecha-2026-12-04-1000-mikrofon.m4a");
    SpawnedChild other(KORVALA_CRASH_CHILD, {running, dir.filePath("vstrecha-2026-12-04-1000-ekran.mp4")});
    QByteArray said;
    ASSERT_TRUE(waitUntil([&] { return (said += other.readOutput()).contains("handed 2"); }, 60000));
    EXPECT_TRUE(UnfinishedRecordings::finish(dir.path(), *LinuxPlatform::audioMedia()).empty());
    EXPECT_EQ(contents(track), finishedTrack);
    EXPECT_TRUE(UnfinishedRecordings::readBoxes(running).fragmented);
}

#include "recording/recorder_failure.h"
#include "recording/track_writer.h"
#include "tests/recording/audio_test_signals.h"
#include "tests/support/fault_injecting_audio_media.h"
#include "tests/support/media_probe.h"
#include "tests/support/stderr_capture.h"
#include "platform/linux/linux_platform.h"
#include "tests/support/task_outcome.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

const AudioFormat mono44 {44100, 1, AudioFormat::SampleType::float32};
const AudioFormat stereo48 {48000, 2, AudioFormat::SampleType::float32};

class TrackWriterTest : public ::testing::Test {
protected:
    QString file(const char* name) const { return dir.filePath(name); }

    // Feeds `seconds` of `source` in 4096-frame buffers.
    static void feed(TrackWriter& writer, ToneSource& source, double rate, double seconds)
    {
        auto left = uint32_t(std::llround(rate * seconds));
        while (left > 0) {
            const uint32_t frames = std::min<uint32_t>(left, 4096);
            writer.append(source.next(frames));
            left -= frames;
        }
    }

    QTemporaryDir dir;
};

float peakOf(const std::vector<float>& samples)
{
    float peak = 0;
    for (float sample : samples)
        peak = std::max(peak, std::fabs(sample));
    return peak;
}

} // namespace

TEST_F(TrackWriterTest, EveryFormatBecomesMonoAacAt44kOfTheLengthAppendedWithTheToneInIt)
{
    // A full-scale tone on both stereo channels stays full scale: not 0.707 × 2.
    const struct {
        AudioFormat format;
        double frequency, amplitude, seconds, other;
    } cases[] = {{mono44, 1000, 0.5, 3.0, 440},
                 {stereo48, 1000, 1.0, 2.0, 440},
                 {{48000, 1, AudioFormat::SampleType::int16}, 440, 0.5, 1.5, 1000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format.sampleRate << " Hz, " << c.format.channelCount << " channels");
        QTemporaryDir folder;
        const QString name = folder.filePath("vstrecha-mikrofon.m4a");
        TrackWriter writer(name, LinuxPlatform::audioMedia());
        ToneSource tone(c.format, c.frequency, c.amplitude);
        feed(writer, tone, c.format.sampleRate, c.seconds);
        const QString path = QCoro::waitFor(writer.finish());
        EXPECT_EQ(path, name);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file is left";

        const ProbedAudio audio = probeAudio(path);
        ASSERT_TRUE(audio.opened);
        EXPECT_EQ(audio.codec, "aac");
        EXPECT_EQ(audio.channels, 1);
        EXPECT_EQ(audio.sampleRate, 44100);
        EXPECT_NEAR(audio.duration, c.seconds, 0.005);
        EXPECT_NEAR(double(audio.samples.size()) / 44100, c.seconds, 0.03);
        EXPECT_NEAR(toneAmplitude(audio.samples, 44100, c.frequency), c.amplitude, 0.08 * c.amplitude);
        EXPECT_LT(toneAmplitude(audio.samples, 44100, c.other), 0.01);
        EXPECT_LT(peakOf(audio.samples), 1.15 * c.amplitude);
        // A resampler restarted at every buffer would click 11 times a second,
        // spreading energy far from the tone.
        EXPECT_LT(toneAmplitude(audio.samples, 44100, 5512), 0.01);
        EXPECT_LT(toneAmplitude(audio.samples, 44100, 3000), 0.01);
    }
}

TEST_F(TrackWriterTest, OppositeChannelsCancel)
{
    TrackWriter writer(file("cancel.m4a"), LinuxPlatform::audioMedia());
    ToneSource tone(stereo48, 700, 0.8);
    for (int i = 0; i < 12; ++i) {
        PcmBuffer buffer = tone.next(4096);
        float* const* planes = buffer.floatChannelData();
        for (uint32_t frame = 0; frame < buffer.frameLength(); ++frame)
            planes[1][frame] = -planes[0][frame];
        writer.append(buffer);
    }
    EXPECT_LT(peakOf(probeAudio(QCoro::waitFor(writer.finish())).samples), 0.01f);
}

TEST_F(TrackWriterTest, EmptyTracksAndZeroFrameBuffersGiveClosedReadableFiles)
{
    StderrCapture errors;
    TrackWriter silent(file("silent.m4a"), LinuxPlatform::audioMedia());
    EXPECT_TRUE(QFileInfo::exists(file("silent.m4a"))) << "the file exists from the start";
    const ProbedAudio empty = probeAudio(QCoro::waitFor(silent.finish()));
    EXPECT_TRUE(empty.opened);
    EXPECT_EQ(empty.codec, "aac");
    EXPECT_LT(empty.duration, 0.03);

    TrackWriter writer(file("zero.m4a"), LinuxPlatform::audioMedia());
    float nothing[1] = {};
    writer.append(PcmBuffer::view(stereo48, 0, {nothing, nothing}));
    ToneSource tone(mono44, 1000, 0.5);
    writer.append(tone.next(44100));
    writer.append(PcmBuffer::view(mono44, 0, {nothing}));
    const ProbedAudio audio = probeAudio(QCoro::waitFor(writer.finish()));
    EXPECT_NEAR(audio.duration, 1.0, 0.03);
    EXPECT_EQ(errors.take(), "");
}

TEST_F(TrackWriterTest, FinishWaitsForEveryEarlierBufferAndLaterOnesAreDropped)
{
    TrackWriter writer(file("order.m4a"), LinuxPlatform::audioMedia());
    ToneSource tone(stereo48, 1000, 0.5);
    feed(writer, tone, 48000, 4.0);
    const QString path = QCoro::waitFor(writer.finish());
    const ProbedAudio finished = probeAudio(path);
    EXPECT_NEAR(finished.duration, 4.0, 0.03);

    feed(writer, tone, 48000, 1.0);
    // A second finish runs after those buffers went through the queue.
    EXPECT_EQ(QCoro::waitFor(writer.finish()), path);
    EXPECT_NEAR(probeAudio(path).duration, 4.0, 0.03);
}

TEST_F(TrackWriterTest, ANewConverterIsTriedAfterAFailureAndWhenTheSourceFormatChanges)
{
    auto media = std::make_shared<FaultInjectingAudioMedia>();
    media->failResamplers = 1;
    StderrCapture errors;
    TrackWriter writer(file("retry.m4a"), media);
    ToneSource tone(stereo48, 1000, 0.5);
    writer.append(tone.next(48000)); // lost: no converter
    writer.append(tone.next(48000));
    writer.append(tone.next(48000));
    // The input device switched to a 16 kHz mono one.
    ToneSource other({16000, 1, AudioFormat::SampleType::float32}, 440, 0.5);
    writer.append(other.next(16000));
    const ProbedAudio audio = probeAudio(QCoro::waitFor(writer.finish()));

    EXPECT_EQ(errors.take().count('\n'), 1) << "the lost buffer is told once";
    EXPECT_EQ(media->resamplersMade.load(), 2);
    EXPECT_NEAR(audio.duration, 3.0, 0.05);
    const std::vector<float> last(audio.samples.end() - 30000, audio.samples.end() - 4000);
    EXPECT_NEAR(toneAmplitude(last, 44100, 440), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(last, 44100, 1000), 0.02);
}

TEST_F(TrackWriterTest, AFailedWriteIsToldOnceStopsTheTrackAndFinishingReportsIt)
{
    auto media = std::make_shared<FaultInjectingAudioMedia>();
    StderrCapture errors;
    TrackWriter writer(file("disk.m4a"), media);
    ToneSource tone(mono44, 1000, 0.5);
    writer.append(tone.next(44100));
    EXPECT_EQ(QCoro::waitFor(writer.length()), 0.0) << "no clock, no count";
    media->failWrites = 100;
    for (int i = 0; i < 10; ++i)
        writer.append(tone.next(4410));
    QCoro::waitFor(writer.length());
    ASSERT_TRUE(writer.failure());
    auto outcome = runTask<RecorderFailure>(writer.finish());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->kind(), RecorderFailure::Case::writerFailed);
    EXPECT_TRUE(outcome.error->message().startsWith("disk.m4a: ")) << outcome.error->message().toStdString();
    EXPECT_EQ(errors.take().count('\n'), 1) << "one journal line for the whole failure";
    EXPECT_NEAR(probeAudio(file("disk.m4a")).duration, 1.0, 0.03) << "the second before it stays";

    media->failOpen = true;
    EXPECT_THROW(TrackWriter(file("never.m4a"), media), MediaError);
    EXPECT_THROW(TrackWriter(dir.filePath("missing/folder/track.m4a"), LinuxPlatform::audioMedia()), MediaError);
    EXPECT_THROW(TrackWriter(file("disk.m4a"), LinuxPlatform::audioMedia()), FileExistsError);
    EXPECT_NEAR(probeAudio(file("disk.m4a")).duration, 1.0, 0.03) << "an existing file is never replaced";
}

TEST_F(TrackWriterTest, ATrackOnTheRecordingsClockFillsWhatItsSourceMissed)
{
    // Started at 100 s. At 100.1 s the source hands over a second of its
    // past at once; then it is silent until 102 s, delivers until 104 s,
    // hands over the last half second of a pause at 105 s and goes on until
    // 106 s. The stop comes at 107 s.
    TrackWriter writer(file("aligned.m4a"), LinuxPlatform::audioMedia(), 100.0);
    ToneSource past(stereo48, 440, 0.5);
    ToneSource tone(stereo48, 1000, 0.5);
    const auto deliver = [&](double from, double to) {
        for (double at = from; at < to - 1e-9; at += 0.1)
            writer.append(tone.next(4800), at + 0.1);
    };
    writer.append(past.next(48000), 100.1);
    deliver(102, 104);
    writer.append(tone.next(24000), 105.0);
    deliver(105, 106);
    EXPECT_NEAR(QCoro::waitFor(writer.length()), 6.0, 0.01);
    const ProbedAudio audio = probeAudio(QCoro::waitFor(writer.finish(7.0)));

    EXPECT_NEAR(audio.duration, 7.0, 0.01);
    EXPECT_NEAR(double(audio.samples.size()) / 44100, 7.0, 0.03);
    const auto toneIn = [&](double from, double to, double frequency = 1000) {
        const std::vector<float> part(audio.samples.begin() + std::lround(from * 44100),
                                      audio.samples.begin() + std::lround(to * 44100));
        return toneAmplitude(part, 44100, frequency);
    };
    EXPECT_LT(toneIn(0.15, 6.9, 440), 0.01) << "the past before the start is left out";
    EXPECT_LT(toneIn(0.15, 1.95), 0.01) << "silence before the source began";
    EXPECT_NEAR(toneIn(2.05, 3.95), 0.5, 0.05);
    EXPECT_LT(toneIn(4.05, 4.45), 0.01) << "silence for the pause";
    EXPECT_NEAR(toneIn(4.55, 5.95), 0.5, 0.05);
    EXPECT_LT(toneIn(6.05, 6.95), 0.01) << "silence up to the stop";
}

TEST_F(TrackWriterTest, AWriterDroppedWithWorkQueuedLeavesAReadableFile)
{
    {
        TrackWriter writer(file("dropped.m4a"), LinuxPlatform::audioMedia());
        ToneSource tone(stereo48, 1000, 0.5);
        feed(writer, tone, 48000, 2.0);
    }
    EXPECT_TRUE(probeAudio(file("dropped.m4a")).opened);
}

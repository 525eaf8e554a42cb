#include "recording/microphone.h"
#include "recording/recorder_failure.h"
#include "tests/recording/audio_test_signals.h"
#include "tests/support/fake_audio_input.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "platform/linux/linux_platform.h"
#include "platform/settings_places.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace {

// Runs requestMicrophone() to its end: the failure it ended with, nothing
// when access was had. (A task that never suspends is not something
// QCoro::waitFor can wait for, and a co_await that throws leaks the task's
// frame with QCoro 0.8.)
std::optional<RecorderFailure> refusal(Microphone& microphone)
{
    bool done = false;
    std::optional<RecorderFailure> failure;
    auto task = microphone.requestMicrophone().then([&] { done = true; }, [&](const std::exception& error) {
        if (auto* known = dynamic_cast<const RecorderFailure*>(&error))
            failure = *known;
        else
            ADD_FAILURE() << error.what();
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done; }));
    return failure;
}

PcmBuffer stereoWithPeaks(float left, float right)
{
    auto buffer = *PcmBuffer::allocate({48000, 2, AudioFormat::SampleType::float32}, 8);
    buffer.setFrameLength(8);
    for (int i = 0; i < 8; ++i) {
        buffer.floatChannelData()[0][i] = left * float(i) / 7;
        buffer.floatChannelData()[1][i] = right * float(7 - i) / 7;
    }
    return buffer;
}

struct MicrophoneTest : ::testing::Test {
    MicrophoneTest()
    {
        auto owned = std::make_unique<FakeAudioInput>();
        input = owned.get();
        microphone = std::make_unique<Microphone>(std::move(owned));
    }

    FakeAudioInput* input;
    std::unique_ptr<Microphone> microphone;
};

} // namespace

TEST(LevelMeter, KeepsTheLoudestSampleOfAnyChannelAndIgnoresNaN)
{
    LevelMeter meter;
    // The peaks of a buffer's left and right channels, and the meter's after it.
    const float steps[][3] = {{0, 0, 0}, {0.3f, 0.1f, 0.3f}, {0.1f, 0, 0.3f}, {0, -0.4f, 0.4f}};
    for (const auto& step : steps) {
        meter.measure(stereoWithPeaks(step[0], step[1]));
        EXPECT_FLOAT_EQ(meter.peak(), step[2]) << step[0] << ", " << step[1];
    }

    auto nan = stereoWithPeaks(0.2f, 0.0f);
    nan.floatChannelData()[0][3] = std::numeric_limits<float>::quiet_NaN();
    meter.measure(nan);
    EXPECT_FLOAT_EQ(meter.peak(), 0.4f);
}

TEST_F(MicrophoneTest, PermissionIsAskedOnlyWhenUndecided)
{
    EXPECT_FALSE(refusal(*microphone));
    EXPECT_EQ(input->requests, 0);
    input->status = AudioInput::Permission::notDetermined;
    EXPECT_FALSE(refusal(*microphone));
    input->grantOnRequest = false;
    EXPECT_EQ(refusal(*microphone), RecorderFailure::microphoneDenied()) << "refused at the prompt";
    EXPECT_EQ(input->requests, 2);
    for (auto status : {AudioInput::Permission::denied, AudioInput::Permission::restricted}) {
        input->status = status;
        EXPECT_EQ(refusal(*microphone), RecorderFailure::microphoneDenied());
    }
    EXPECT_EQ(input->requests, 2);
}

TEST_F(MicrophoneTest, TheTapFeedsTheMeterThenTheTrackUntilStopped)
{
    QTemporaryDir dir;
    auto writer = std::make_shared<TrackWriter>(dir.filePath("mikrofon.m4a"), LinuxPlatform::audioMedia());
    microphone->startMicrophone(writer);
    EXPECT_TRUE(input->running);

    ToneSource tone(input->format, 440, 0.25);
    for (int i = 0; i < 12; ++i)
        input->deliver(tone.next(4096));
    microphone->stopMicrophone();
    EXPECT_FALSE(input->hasTap());
    input->deliver(tone.next(4096));

    EXPECT_NEAR(microphone->level().peak(), 0.25f, 0.001f);
    const ProbedAudio audio = probeAudio(QCoro::waitFor(writer->finish()));
    EXPECT_NEAR(audio.duration, 12 * 4096 / 48000.0, 0.03);

    // The next recording taps the same input again; the meter keeps its peak.
    microphone->startMicrophone(nullptr);
    input->deliver(ToneSource(input->format, 440, 0.02).next(4096));
    EXPECT_NEAR(microphone->level().peak(), 0.25f, 0.001f);
    microphone->stopMicrophone();
}

TEST_F(MicrophoneTest, NoDeviceOrAFailedStartLeavesNoTap)
{
    input->format.sampleRate = 0;
    try {
        microphone->startMicrophone(nullptr);
        ADD_FAILURE() << "no device";
    } catch (const RecorderFailure& failure) {
        EXPECT_EQ(failure, RecorderFailure::noAudioDevice());
    }
    EXPECT_FALSE(input->hasTap());

    input->format.sampleRate = 44100;
    input->failStart = true;
    EXPECT_THROW(microphone->startMicrophone(nullptr), std::runtime_error);
    EXPECT_FALSE(input->hasTap());
    input->failStart = false;
    EXPECT_NO_THROW(microphone->startMicrophone(nullptr));
    EXPECT_TRUE(input->hasTap());
}

// The controller offers the settings for failures of these names, which it
// compares as text.
TEST(RecorderFailure, DeniedAccessIsNamedForTheSettingsItNeeds)
{
    EXPECT_EQ(RecorderFailure::microphoneDenied().debugName(), "Recorder.Failure.microphoneDenied");
    EXPECT_EQ(RecorderFailure::screenRecordingDenied().debugName(), "Recorder.Failure.screenRecordingDenied");
}

// The text sends the user to the microphone's place of this desktop's settings.
TEST(RecorderFailure, DeniedMicrophoneNamesThePlaceOfTheDesktopInUse)
{
    const QByteArray before = qgetenv("XDG_CURRENT_DESKTOP");
    QStringList texts;
    for (const QByteArray desktop : {"GNOME", "KDE", "XFCE"}) {
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        texts.append(RecorderFailure::microphoneDenied().description());
        EXPECT_TRUE(texts.back().contains(settingsPlace(Workspace::SettingsPane::soundInput, desktop).steps()))
            << texts.back().toStdString();
    }
    qputenv("XDG_CURRENT_DESKTOP", before);
    EXPECT_EQ(texts.removeDuplicates(), 0);
}

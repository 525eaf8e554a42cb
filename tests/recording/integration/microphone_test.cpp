#include "recording/microphone.h"
#include "recording/recorder_failure.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "platform/linux/linux_platform.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The loudest sample of a second of the test microphone (a 440 Hz sine),
// read with PulseAudio's own recorder.
float peakFromParec()
{
    QProcess recorder;
    recorder.start("parec", {"--raw", "--format=float32le", "--rate=48000", "--channels=1", "--latency-msec=20",
                             "-d", "microphone"});
    QByteArray pcm;
    waitUntil([&] {
        pcm += recorder.readAllStandardOutput();
        return pcm.size() >= 48000 * 4;
    }, 10000);
    recorder.kill();
    recorder.waitForFinished();
    float peak = 0;
    const auto* samples = reinterpret_cast<const float*>(pcm.constData());
    for (qsizetype i = 0; i < pcm.size() / 4; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

} // namespace

TEST(MicrophoneOnTheSoundServer, CapturesTheDefaultSourceIntoATrackAndTheMeter)
{
    const float expectedPeak = peakFromParec();
    ASSERT_GT(expectedPeak, 0.05f);

    QTemporaryDir dir;
    Microphone microphone(LinuxPlatform::microphoneInput());
    auto writer = std::make_shared<TrackWriter>(dir.filePath("vstrecha-mikrofon.m4a"), LinuxPlatform::audioMedia());
    microphone.startMicrophone(writer);
    ASSERT_TRUE(waitUntil([&] { return microphone.level().peak() > 0; }, 10000));
    // Two seconds of sound, counted by the meter's side rather than a clock:
    // wait until the track has grown past them.
    waitUntil([] { return false; }, 2500);
    microphone.stopMicrophone();
    const ProbedAudio audio = probeAudio(QCoro::waitFor(writer->finish()));

    EXPECT_NEAR(microphone.level().peak(), expectedPeak, 0.01f);
    ASSERT_TRUE(audio.opened);
    EXPECT_GT(audio.duration, 1.0);
    EXPECT_NEAR(toneAmplitude(audio.samples, 44100, 440), expectedPeak, 0.1 * expectedPeak) << "at the level it had";

    // A second recording taps the same input again.
    EXPECT_NO_THROW(microphone.startMicrophone(nullptr));
    microphone.stopMicrophone();
}

TEST(MicrophoneOnTheSoundServer, NoServerMeansNoAudioDevice)
{
    // Later tests in this program need the real server back.
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/korvala-test-socket");
    {
        Microphone microphone(LinuxPlatform::microphoneInput());
        EXPECT_EQ(microphone.engine().inputFormat().sampleRate, 0);
        EXPECT_THROW(microphone.startMicrophone(nullptr), RecorderFailure);
        EXPECT_FALSE(microphone.engine().hasTap());
    }
    qputenv("PULSE_SERVER", server);
}

#include "core/described_error.h"
#include "core/log.h"
#include "recording/recorder.h"

#include "tests/capture/integration/test_windows.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "tests/support/recording_journal.h"
#include "tests/support/task_outcome.h"
#include "platform/linux/linux_platform.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <qcoro/qcorotask.h>

namespace {

// Starts a recording and gives the error it threw, if any: QCoro::waitFor
// alone never returns from a task that throws.
QCoro::Task<QString> startRecording(Recorder& recorder, CaptureTarget target)
{
    try {
        co_await recorder.start(target);
    } catch (const DescribedError& error) {
        co_return error.description();
    } catch (const std::exception& error) {
        co_return QString::fromUtf8(error.what());
    }
    co_return QString();
}

// A module of the sound server for the length of a test.
class PulseModule {
public:
    explicit PulseModule(const QStringList& arguments)
        : index_(run("pactl", QStringList {"load-module"} + arguments))
    {
    }
    ~PulseModule() { unload(); }
    bool loaded() const { return !index_.isEmpty(); }
    void unload()
    {
        if (!index_.isEmpty())
            run("pactl", {"unload-module", index_});
        index_.clear();
    }

private:
    QString index_;
};

// Real time passing in the event loop, so that posted work runs meanwhile.
void record(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

void letTheWindowManagerPlaceThem()
{
    record(700);
}

// Another sink as the default output for the length of a test; the test
// desktop's "speakers" afterwards.
class DefaultSink {
public:
    explicit DefaultSink(const QString& name)
        : module_({"module-null-sink", "sink_name=" + name})
    {
        if (!module_.loaded())
            return;
        run("pactl", {"set-default-sink", name});
        // As the test desktop does for its speakers: an idle null sink's
        // monitor may hand a new reader nothing for seconds, a low-latency
        // reader kept open makes it deliver at once.
        reader_.setStandardOutputFile(QProcess::nullDevice());
        reader_.start("parec", {"--latency-msec=10", "-d", name + ".monitor"});
    }
    ~DefaultSink()
    {
        run("pactl", {"set-default-sink", "speakers"});
        reader_.kill();
        reader_.waitForFinished();
    }
    bool loaded() const { return module_.loaded(); }
    PulseModule& module() { return module_; }

private:
    PulseModule module_;
    QProcess reader_;
};

Recorder::Result stop(Recorder& recorder)
{
    auto outcome = runTask<RecorderFailure>(recorder.stop());
    if (outcome.error)
        throw *outcome.error;
    if (outcome.other)
        std::rethrow_exception(outcome.other);
    return *outcome.value;
}

// The last frame of a video as a picture, decoded by ffmpeg: each frame of
// the last half second overwrites the one before.
QImage lastFrame(const QString& video, const QString& folder)
{
    const QString png = folder + "/last.png";
    run("ffmpeg", {"-v", "error", "-y", "-sseof", "-0.5", "-i", video, "-update", "1", png});
    return QImage(png);
}

class RecorderOnTheDesktop : public ::testing::Test {
protected:
    void SetUp() override { previousJournal = Log::setJournal(journal); }
    void TearDown() override { Log::setJournal(previousJournal); }

    QTemporaryDir folder;
    std::shared_ptr<ScreenCapture> capture = LinuxPlatform::screenCaptureForSession(nullptr);
    SystemClock clock;
    Recorder recorder {folder.filePath("records"),
                       {LinuxPlatform::microphoneInput(), capture, LinuxPlatform::audioMedia(),
                        LinuxPlatform::videoMedia()},
                       clock};
    std::shared_ptr<RecordingJournal> journal = std::make_shared<RecordingJournal>();
    std::shared_ptr<Journal> previousJournal;
};

TEST_F(RecorderOnTheDesktop, AudioRecordingKeepsEachVoiceInItsOwnTrack)
{
    PulseModule tone({"module-sine", "sink=speakers", "frequency=1000"});
    ASSERT_TRUE(tone.loaded());
    const QString startError = QCoro::waitFor(startRecording(recorder, CaptureTarget::audioOnly()));
    ASSERT_TRUE(startError.isEmpty()) << startError.toStdString();
    ASSERT_TRUE(recorder.isRecording());
    EXPECT_FALSE(recorder.systemAudioFailure()) << recorder.systemAudioFailure().value_or("").toStdString();
    record(5000);
    const Recorder::Result result = stop(recorder);
    EXPECT_FALSE(result.video);
    EXPECT_NEAR(result.duration, 5.0, 0.5);

    const ProbedAudio microphone = probeAudio(result.microphone);
    const ProbedAudio system = probeAudio(result.system);
    for (const ProbedAudio* track : {&microphone, &system}) {
        ASSERT_TRUE(track->opened);
        EXPECT_EQ(track->codec, "aac");
        EXPECT_EQ(track->channels, 1);
        EXPECT_EQ(track->sampleRate, 44100);
    }
    // The test microphone (a sine source) hands a new reader about a second
    // of its past at once, so its track may be longer, never shorter.
    EXPECT_GT(double(microphone.samples.size()) / 44100, result.duration - 0.3);
    EXPECT_NEAR(double(system.samples.size()) / 44100, result.duration, 0.3);
    EXPECT_GT(toneAmplitude(microphone.samples, 44100, 440), 0.1);
    EXPECT_LT(toneAmplitude(microphone.samples, 44100, 1000), 0.01) << "the speakers do not leak into the microphone";
    EXPECT_GT(toneAmplitude(system.samples, 44100, 1000), 0.05);
    EXPECT_LT(toneAmplitude(system.samples, 44100, 440), 0.01) << "the microphone does not leak into the speakers";
}

TEST_F(RecorderOnTheDesktop, DisplayRecordingShowsAWindowAtItsPlace)
{
    TestWindows windows({"Проба|#d02020|400|300|640|400"});
    ASSERT_NE(windows.id(0), 0u);
    letTheWindowManagerPlaceThem();
    const auto content = QCoro::waitFor(capture->shareableContent());
    ASSERT_TRUE(content && !content->displays.empty());
    const ShareableDisplay display = content->displays.front();
    // The window is painted before the recording starts: on a busy machine
    // that can take longer than the wait for it to be mapped.
    StreamConfiguration still;
    still.width = display.width;
    still.height = display.height;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto shot = QCoro::waitFor(
                capture->captureImage(ContentFilter::ofDisplay(display, {}), still));
            return shot && QColor(shot->pixel(400 + 320, 300 + 200)).red() > 160;
        },
        10000));

    const QString startError = QCoro::waitFor(startRecording(recorder, CaptureTarget::display(display.displayID)));
    ASSERT_TRUE(startError.isEmpty()) << startError.toStdString();
    EXPECT_FALSE(recorder.systemAudioFailure()) << recorder.systemAudioFailure().value_or("").toStdString();
    record(2500);
    const Recorder::Result result = stop(recorder);
    ASSERT_TRUE(result.video);
    EXPECT_TRUE(result.video->endsWith("-ekran.mp4"));
    EXPECT_TRUE(QFileInfo::exists(result.microphone));
    EXPECT_TRUE(QFileInfo::exists(result.system));

    const ProbedVideo video = probeVideo(*result.video);
    ASSERT_TRUE(video.opened);
    EXPECT_EQ(video.codec, "h264");
    EXPECT_EQ(video.width, 960);
    EXPECT_EQ(video.height, 960 * display.height / display.width / 2 * 2);
    EXPECT_GE(video.frameTimes.size(), 10u) << "about ten frames a second";

    const QImage frame = lastFrame(*result.video, folder.path());
    ASSERT_FALSE(frame.isNull());
    const double scale = 960.0 / display.width;
    const QColor inside = frame.pixelColor(int((400 + 320) * scale), int((300 + 200) * scale));
    EXPECT_GT(inside.red(), 160) << inside.name().toStdString();
    EXPECT_LT(inside.green(), 80) << inside.name().toStdString();
    const QColor outside = frame.pixelColor(int(100 * scale), int(900 * scale));
    EXPECT_LT(outside.red(), 100) << "the desktop around it is not the window";
}

TEST_F(RecorderOnTheDesktop, WindowRecordingHasTheWindowsShape)
{
    TestWindows windows({"Окно|#2040d0|100|100|800|600"});
    ASSERT_NE(windows.id(0), 0u);
    letTheWindowManagerPlaceThem();
    const QString startError = QCoro::waitFor(startRecording(recorder, CaptureTarget::window(windows.id(0))));
    ASSERT_TRUE(startError.isEmpty()) << startError.toStdString();
    record(1500);
    const Recorder::Result result = stop(recorder);
    ASSERT_TRUE(result.video);
    const ProbedVideo video = probeVideo(*result.video);
    EXPECT_EQ(video.width, 960);
    EXPECT_EQ(video.height, 720);
    const QImage frame = lastFrame(*result.video, folder.path());
    ASSERT_FALSE(frame.isNull());
    EXPECT_GT(frame.pixelColor(480, 360).blue(), 160) << "the window fills the picture";
}

TEST_F(RecorderOnTheDesktop, OutputDeviceGoingAwayEndsOnlyTheOthersTrack)
{
    DefaultSink headset("headset");
    ASSERT_TRUE(headset.loaded());
    PulseModule tone({"module-sine", "sink=headset", "frequency=1000"});
    ASSERT_TRUE(tone.loaded());
    record(1000); // the new sink's first monitor reader gets going
    const QString startError = QCoro::waitFor(startRecording(recorder, CaptureTarget::audioOnly()));
    ASSERT_TRUE(startError.isEmpty()) << startError.toStdString();
    record(2500);
    headset.module().unload();
    waitUntil([&] { return recorder.systemAudioFailure().has_value(); }, 5000);
    ASSERT_TRUE(recorder.systemAudioFailure());
    const QString failure = *recorder.systemAudioFailure();
    EXPECT_TRUE(failure.startsWith("Звук собеседников прервался: ")) << failure.toStdString();
    EXPECT_GT(failure.size(), QStringLiteral("Звук собеседников прервался: ").size()) << "the cause is given";
    EXPECT_TRUE(recorder.isRecording());
    record(1500);
    const Recorder::Result result = stop(recorder);

    const ProbedAudio microphone = probeAudio(result.microphone);
    const ProbedAudio system = probeAudio(result.system);
    ASSERT_TRUE(microphone.opened);
    ASSERT_TRUE(system.opened) << "what was recorded before the device left is kept";
    EXPECT_GT(double(microphone.samples.size()) / 44100, result.duration - 0.3) << "the microphone went on";
    const double systemSeconds = double(system.samples.size()) / 44100;
    EXPECT_GT(systemSeconds, 1.0);
    EXPECT_LT(systemSeconds, result.duration - 1.0) << "nothing was recorded from another source after it";
    EXPECT_GT(toneAmplitude(system.samples, 44100, 1000), 0.05);
    EXPECT_LT(toneAmplitude(system.samples, 44100, 440), 0.01) << "the microphone never took its place";
}

TEST_F(RecorderOnTheDesktop, ClosedWindowEndsThePictureAndTheSoundGoesOn)
{
    TestWindows windows({"Уходит|#20a040|100|100|800|600"});
    ASSERT_NE(windows.id(0), 0u);
    letTheWindowManagerPlaceThem();
    const QString startError = QCoro::waitFor(startRecording(recorder, CaptureTarget::window(windows.id(0))));
    ASSERT_TRUE(startError.isEmpty()) << startError.toStdString();
    record(1500);
    windows.close();
    waitUntil([&] { return !journal->messages(errorPriority).isEmpty(); }, 3000);
    EXPECT_EQ(journal->messages(errorPriority),
              QStringList {"запись изображения остановилась, звук пишется дальше: записываемое окно закрыто"});
    EXPECT_TRUE(recorder.isRecording());
    record(1500);
    const Recorder::Result result = stop(recorder);
    EXPECT_FALSE(recorder.systemAudioFailure());

    ASSERT_TRUE(result.video);
    const ProbedVideo video = probeVideo(*result.video);
    ASSERT_TRUE(video.opened);
    EXPECT_EQ(video.codec, "h264");
    EXPECT_GE(video.frameTimes.size(), 8u) << "the frames from before the window closed are kept";
    const ProbedAudio microphone = probeAudio(result.microphone);
    const ProbedAudio system = probeAudio(result.system);
    EXPECT_GT(double(microphone.samples.size()) / 44100, result.duration - 0.3);
    EXPECT_NEAR(double(system.samples.size()) / 44100, result.duration, 0.3);
}

TEST_F(RecorderOnTheDesktop, RemovedMonitorEndsThePictureAndTheSoundGoesOn)
{
    // A second monitor on the left half of the screen, as a projector or a
    // docked laptop's display would be, removed mid-recording.
    run("xrandr", {"--setmonitor", "korvala-half", "960/254x1080/286+0+0", "none"});
    struct Removal {
        ~Removal() { run("xrandr", {"--delmonitor", "korvala-half"}); }
    } removal;
    const auto content = QCoro::waitFor(capture->shareableContent());
    ASSERT_TRUE(content);
    const auto half = std::find_if(content->displays.begin(), content->displays.end(),
                                   [](const ShareableDisplay& display) { return display.width == 960; });
    ASSERT_NE(half, content->displays.end()) << "the added monitor is listed";

    const QString startError = QCoro::waitFor(startRecording(recorder, CaptureTarget::display(half->displayID)));
    ASSERT_TRUE(startError.isEmpty()) << startError.toStdString();
    record(1500);
    run("xrandr", {"--delmonitor", "korvala-half"});
    waitUntil([&] { return !journal->messages(errorPriority).isEmpty(); }, 3000);
    EXPECT_EQ(journal->messages(errorPriority),
              QStringList {"запись изображения остановилась, звук пишется дальше: записываемый экран отключён"});
    EXPECT_TRUE(recorder.isRecording());
    record(1000);
    const Recorder::Result result = stop(recorder);

    ASSERT_TRUE(result.video);
    const ProbedVideo video = probeVideo(*result.video);
    ASSERT_TRUE(video.opened);
    EXPECT_EQ(video.width, 960);
    EXPECT_EQ(video.height, 1080);
    EXPECT_GE(video.frameTimes.size(), 8u);
    EXPECT_NEAR(double(probeAudio(result.system).samples.size()) / 44100, result.duration, 0.3);
}

} // namespace

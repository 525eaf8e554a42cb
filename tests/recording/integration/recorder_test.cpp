#include "app/described_error.h"
#include "recording/recorder.h"

#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "tests/support/task_outcome.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// A module of the sound server for the length of a test.
class PulseModule {
public:
    explicit PulseModule(const QStringList& arguments)
        : index_(run("pactl", QStringList {"load-module"} + arguments))
    {
    }
    ~PulseModule()
    {
        if (!index_.isEmpty())
            run("pactl", {"unload-module", index_});
    }
    bool loaded() const { return !index_.isEmpty(); }

private:
    QString index_;
};

// Windows of another program, "title|#rrggbb|x|y|width|height" each.
class TestWindows {
public:
    explicit TestWindows(const QStringList& descriptions)
    {
        process_.start(QStringLiteral(CAPTURE_TEST_WINDOWS), descriptions);
        waitUntil([&] {
            process_.waitForReadyRead(50);
            while (process_.canReadLine()) {
                const QStringList words = QString::fromUtf8(process_.readLine()).split(u' ');
                if (words.size() == 3)
                    ids_.push_back(words[2].trimmed().toUInt());
            }
            return ids_.size() == size_t(descriptions.size());
        }, 10000);
        // Let the window manager place and map them.
        waitUntil([] { return false; }, 700);
    }
    ~TestWindows()
    {
        process_.kill();
        process_.waitForFinished();
    }
    uint32_t id(size_t index) const { return index < ids_.size() ? ids_[index] : 0; }

private:
    QProcess process_;
    std::vector<uint32_t> ids_;
};

// Real time passing in the event loop, so that posted work runs meanwhile.
void record(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

Recorder::Result stop(Recorder& recorder)
{
    auto outcome = runTask<RecorderFailure>(recorder.stop());
    if (outcome.error)
        throw *outcome.error;
    if (outcome.other)
        std::rethrow_exception(outcome.other);
    return *outcome.value;
}

// The last frame of a video as a picture, decoded by ffmpeg.
QImage lastFrame(const QString& video, const QString& folder)
{
    const QString png = folder + "/last.png";
    run("ffmpeg", {"-v", "error", "-y", "-ss", "1", "-i", video, "-frames:v", "1", "-update", "1", png});
    return QImage(png);
}

class RecorderOnTheDesktop : public ::testing::Test {
protected:
    QTemporaryDir folder;
    Recorder recorder {folder.filePath("records")};
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
    const auto content = QCoro::waitFor(ScreenCapture::shared()->shareableContent());
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
                ScreenCapture::shared()->captureImage(ContentFilter::ofDisplay(display, {}), still));
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

} // namespace

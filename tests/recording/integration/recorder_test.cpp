#include "core/log.h"
#include "core/clock.h"
#include "recording/recorder.h"

#include "tests/capture/integration/test_windows.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "tests/support/recording_journal.h"
#include "tests/support/task_outcome.h"
#include "platform/linux/linux_platform.h"

#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <qcoro/qcorotask.h>

namespace {

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

double seconds(const ProbedAudio& track)
{
    return double(track.samples.size()) / 44100;
}

// Another sink for the length of a test, made the default output by
// makeDefault(); the test desktop's "speakers" are the default afterwards.
class OtherSink {
public:
    explicit OtherSink(const QString& name)
        : name_(name)
        , module_({"module-null-sink", "sink_name=" + name})
    {
        if (!module_.loaded())
            return;
        // As the test desktop does for its speakers: an idle null sink's
        // monitor may hand a new reader nothing for seconds, a low-latency
        // reader kept open makes it deliver at once.
        reader_.setStandardOutputFile(QProcess::nullDevice());
        reader_.start("parec", {"--latency-msec=10", "-d", name + ".monitor"});
    }
    ~OtherSink()
    {
        run("pactl", {"set-default-sink", "speakers"});
        reader_.kill();
        reader_.waitForFinished();
    }
    bool loaded() const { return module_.loaded(); }
    void makeDefault() { run("pactl", {"set-default-sink", name_}); }
    PulseModule& module() { return module_; }

private:
    QString name_;
    PulseModule module_;
    QProcess reader_;
};

// The last `seconds` of a decoded track.
std::vector<float> tail(const ProbedAudio& track, double seconds)
{
    const size_t count = std::min(track.samples.size(), size_t(seconds * 44100));
    return {track.samples.end() - long(count), track.samples.end()};
}

// The test desktop's sound server, started again with its own devices
// (after it was killed) by the script that started it first; its
// microphone sounds at `microphoneFrequency` from then on.
void startSoundServer(int microphoneFrequency = 440)
{
    QProcess script;
    script.start(QStringLiteral(TESTENV_SCRIPTS "/pulse-up.sh"),
                 {qEnvironmentVariable("KORVALA_TESTENV"), QString::number(microphoneFrequency)});
    script.waitForFinished(30000);
}

void killSoundServer()
{
    QFile pid(qEnvironmentVariable("KORVALA_TESTENV") + "/pulse.pid");
    if (pid.open(QIODevice::ReadOnly))
        run("kill", {"-KILL", QString::fromUtf8(pid.readAll()).trimmed()});
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

    // What the start failed with; empty when it did not.
    QString start(CaptureTarget target)
    {
        const auto outcome = runTask<RecorderFailure>(recorder.start(target));
        return outcome.error ? outcome.error->description() : outcome.other ? "another error" : "";
    }

    // The first display listed; of width 0 when none is.
    ShareableDisplay firstDisplay()
    {
        const auto content = QCoro::waitFor(capture->shareableContent());
        return content && !content->displays.empty() ? content->displays.front() : ShareableDisplay {};
    }

    // Waits for a still image of `display` that `shows` accepts.
    bool screenShows(const ShareableDisplay& display, const std::function<bool(const QImage&)>& shows)
    {
        StreamConfiguration still;
        still.width = display.width;
        still.height = display.height;
        return waitUntil(
            [&] {
                const auto shot = QCoro::waitFor(capture->captureImage(ContentFilter::ofDisplay(display, {}), still));
                return shot && shows(*shot);
            },
            10000);
    }

    // Once the recorded window or screen is gone: one line is logged, the
    // sound records on, and the video of `size` keeps the frames from before.
    void expectThePictureEndsAndTheSoundGoesOn(QSize size)
    {
        EXPECT_TRUE(waitUntil([&] { return !journal->messages(errorPriority).isEmpty(); }, 3000));
        EXPECT_TRUE(recorder.isRecording());
        record(1500);
        EXPECT_EQ(journal->messages(errorPriority).size(), 1) << journal->messages(errorPriority).join('\n').toStdString();
        const Recorder::Result result = stop(recorder);
        EXPECT_FALSE(recorder.systemAudioFailure());
        ASSERT_TRUE(result.video);
        const ProbedVideo video = probeVideo(*result.video);
        ASSERT_TRUE(video.opened);
        EXPECT_EQ(video.codec, "h264");
        EXPECT_EQ(QSize(video.width, video.height), size);
        EXPECT_GE(video.frameTimes.size(), 8u);
        EXPECT_GT(seconds(probeAudio(result.microphone)), result.duration - 0.3);
        EXPECT_NEAR(seconds(probeAudio(result.system)), result.duration, 0.3);
    }

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

TEST_F(RecorderOnTheDesktop, DisplayRecordingShowsAWindowAtItsPlaceAndLeavesOutAnAlertOverIt)
{
    TestWindows windows({"Проба|#d02020|400|300|640|400"});
    ASSERT_NE(windows.id(0), 0u);
    record(700); // the window manager places it
    const ShareableDisplay display = firstDisplay();
    ASSERT_GT(display.width, 0);
    // The window is painted before the recording starts: on a busy machine
    // that can take longer than the wait for it to be mapped.
    ASSERT_TRUE(screenShows(display, [](const QImage& shot) { return QColor(shot.pixel(720, 500)).red() > 160; }));
    ASSERT_EQ(start(CaptureTarget::display(display.displayID)), "");
    EXPECT_FALSE(recorder.systemAudioFailure()) << recorder.systemAudioFailure().value_or("").toStdString();

    // Opened during the recording, as the program's alerts are.
    QMessageBox alert(QMessageBox::Warning, "Не получилось", "Сообщение поверх записи", QMessageBox::Ok);
    alert.setStyleSheet("QMessageBox { background: #20c040; }");
    alert.move(560, 420);
    alert.show();
    // The alert's own pixels, inside its frame scaled to `image`.
    const auto alertPixels = [&](const QImage& image, QRect frame) {
        const double scale = double(image.width()) / display.width;
        int count = 0;
        for (int y = int(frame.top() * scale) + 2; y < int(frame.bottom() * scale) - 2; ++y) {
            for (int x = int(frame.left() * scale) + 2; x < int(frame.right() * scale) - 2; ++x) {
                const QColor c = image.pixelColor(x, y);
                count += c.green() > 150 && c.red() < 90 && c.blue() < 110;
            }
        }
        return count;
    };
    QRect shown;
    ASSERT_TRUE(screenShows(display, [&](const QImage& shot) {
        shown = alert.frameGeometry();
        return alertPixels(shot, shown) > shown.width() * shown.height() / 4;
    })) << "the alert is on the screen";
    record(2500);
    const Recorder::Result result = stop(recorder);
    ASSERT_TRUE(result.video);
    EXPECT_TRUE(QFileInfo::exists(result.microphone) && QFileInfo::exists(result.system));

    const ProbedVideo video = probeVideo(*result.video);
    ASSERT_TRUE(video.opened);
    EXPECT_EQ(video.codec, "h264");
    EXPECT_EQ(video.width, 960);
    EXPECT_EQ(video.height, 960 * display.height / display.width / 2 * 2);
    EXPECT_GE(video.frameTimes.size(), 10u) << "about ten frames a second";

    const QImage frame = lastFrame(*result.video, folder.path());
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(alertPixels(frame, shown), 0);
    const double scale = 960.0 / display.width;
    const QColor beneath = frame.pixelColor(shown.center() * scale);
    EXPECT_GT(beneath.red(), 160) << "the window beneath: " << beneath.name().toStdString();
    EXPECT_LT(beneath.green(), 80) << beneath.name().toStdString();
    EXPECT_LT(frame.pixelColor(int(100 * scale), int(900 * scale)).red(), 100) << "the desktop around it is not the window";
}

TEST_F(RecorderOnTheDesktop, TracksFollowTheDefaultDevicesAndTheOthersNeverTheMicrophone)
{
    // Each sink plays a tone of its own (the server moves tones that were
    // not routed by the user along with the default, so only the one of the
    // device switched to tells where the recording went). Recording starts
    // on a headset; it is then unplugged and the speakers become the default
    // again, and later a second headset is plugged in and made the default.
    PulseModule speakersTone({"module-sine", "sink=speakers", "frequency=1500"});
    OtherSink headset("headset");
    OtherSink second("headset2");
    ASSERT_TRUE(speakersTone.loaded() && headset.loaded() && second.loaded());
    PulseModule headsetTone({"module-sine", "sink=headset", "frequency=1000"});
    PulseModule secondTone({"module-sine", "sink=headset2", "frequency=2500"});
    ASSERT_TRUE(headsetTone.loaded() && secondTone.loaded());
    headset.makeDefault();
    record(1000); // the new sink's first monitor reader gets going
    ASSERT_EQ(start(CaptureTarget::audioOnly()), "");
    record(3000);
    headset.module().unload();
    record(3000);
    EXPECT_FALSE(recorder.systemAudioFailure()) << recorder.systemAudioFailure().value_or("").toStdString();
    const Recorder::Result unplugged = stop(recorder);
    const ProbedAudio afterUnplug = probeAudio(unplugged.system);
    ASSERT_TRUE(afterUnplug.opened);
    EXPECT_GT(toneAmplitude(afterUnplug.samples, 44100, 1000), 0.05) << "the headset before";
    EXPECT_GT(toneAmplitude(tail(afterUnplug, 2.0), 44100, 1500), 0.05) << "the track went on with the speakers";
    EXPECT_LT(toneAmplitude(afterUnplug.samples, 44100, 440), 0.01) << "the microphone never took its place";
    EXPECT_GT(toneAmplitude(tail(probeAudio(unplugged.microphone), 2.0), 44100, 440), 0.1) << "the microphone went on";

    ASSERT_EQ(start(CaptureTarget::audioOnly()), "");
    // The headset has a microphone of its own, made the default input too.
    PulseModule headsetMicrophone({"module-sine-source", "source_name=headsetmic", "frequency=660"});
    ASSERT_TRUE(headsetMicrophone.loaded());
    record(3000);
    second.makeDefault();
    run("pactl", {"set-default-source", "headsetmic"});
    record(4000);
    const Recorder::Result switched = stop(recorder);
    run("pactl", {"set-default-source", "microphone"});
    const ProbedAudio afterSwitch = probeAudio(switched.system);
    EXPECT_GT(toneAmplitude(tail(afterSwitch, 2.0), 44100, 2500), 0.05) << "the new default after the switch";
    // A new source's first delivery may come late: what follows the switch
    // is looked at as a whole.
    EXPECT_GT(toneAmplitude(tail(probeAudio(switched.microphone), 3.5), 44100, 660), 0.05) << "the new microphone";
    EXPECT_LT(toneAmplitude(afterSwitch.samples, 44100, 440), 0.01);
}

TEST_F(RecorderOnTheDesktop, SoundServerRestartIsToldAndBothTracksGoOn)
{
    // Later tests need the server back as it was, even when this one fails.
    struct Revival {
        ~Revival() { startSoundServer(); }
    } revival;
    ASSERT_EQ(start(CaptureTarget::audioOnly()), "");
    record(5000);
    killSoundServer();
    EXPECT_TRUE(waitUntil([&] { return recorder.audioTrouble().has_value(); }, 5000)) << "the user is told";
    EXPECT_TRUE(recorder.isRecording());

    // Both come back with another tone: what they hold at the end was
    // recorded after the restart.
    startSoundServer(880);
    ASSERT_FALSE(run("pactl", {"info"}).isEmpty()) << "the sound server answers";
    PulseModule tone({"module-sine", "sink=speakers", "frequency=1000"});
    ASSERT_TRUE(tone.loaded());
    EXPECT_TRUE(waitUntil([&] { return !recorder.audioTrouble(); }, 10000)) << "the warning goes once both record";
    record(4000);
    const Recorder::Result result = stop(recorder);

    const ProbedAudio microphone = probeAudio(result.microphone);
    const ProbedAudio system = probeAudio(result.system);
    ASSERT_TRUE(microphone.opened && system.opened);
    EXPECT_GT(toneAmplitude(microphone.samples, 44100, 440), 0.1) << "before";
    // The test's sine source delivers in bursts of about two seconds: the
    // last second of a track may be the silence that keeps it on the clock.
    EXPECT_GT(toneAmplitude(tail(microphone, 3.0), 44100, 880), 0.1) << "the microphone went on";
    EXPECT_GT(toneAmplitude(tail(system, 3.0), 44100, 1000), 0.05) << "the others' track went on";
    EXPECT_LT(toneAmplitude(system.samples, 44100, 440), 0.01);
    EXPECT_LT(toneAmplitude(system.samples, 44100, 880), 0.01);

    // Stopping does not wait for a server that is gone.
    ASSERT_EQ(start(CaptureTarget::audioOnly()), "");
    killSoundServer();
    ASSERT_TRUE(waitUntil([&] { return recorder.audioTrouble().has_value(); }, 5000));
    EXPECT_TRUE(QFileInfo::exists(stop(recorder).microphone));
}

TEST_F(RecorderOnTheDesktop, OnlyAMonitorToRecordIsNoAudioDevice)
{
    // A machine without a microphone: the server's default source is then
    // the speakers' monitor.
    run("pactl", {"unload-module", "module-sine-source"});
    struct Replug {
        ~Replug()
        {
            run("pactl", {"load-module", "module-sine-source", "source_name=microphone", "rate=48000", "frequency=440"});
            run("pactl", {"set-default-source", "microphone"});
        }
    } replug;
    ASSERT_TRUE(run("pactl", {"get-default-source"}).endsWith(".monitor"));
    EXPECT_EQ(start(CaptureTarget::audioOnly()), RecorderFailure::noAudioDevice().description());
    EXPECT_FALSE(recorder.isRecording());
    if (recorder.isRecording())
        stop(recorder);
}

TEST_F(RecorderOnTheDesktop, ClosedWindowEndsThePictureAndTheSoundGoesOn)
{
    TestWindows windows({"Уходит|#20a040|100|100|800|600"});
    ASSERT_NE(windows.id(0), 0u);
    record(700); // the window manager places it
    ASSERT_EQ(start(CaptureTarget::window(windows.id(0))), "");
    record(1500);
    windows.close();
    expectThePictureEndsAndTheSoundGoesOn(QSize(960, 720));
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
    ASSERT_EQ(start(CaptureTarget::display(half->displayID)), "");
    record(1500);
    run("xrandr", {"--delmonitor", "korvala-half"});
    expectThePictureEndsAndTheSoundGoesOn(QSize(960, 1080));
}

// A disk of a few megabytes over the recordings folder for the length of a
// test; needs the right to mount (root, or a user namespace that allows it).
class SmallDisk {
public:
    explicit SmallDisk(const QString& folder)
        : folder_(folder)
    {
        QDir().mkpath(folder);
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", "size=4m", "tmpfs", folder});
        mount.waitForFinished(10000);
        mounted_ = mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
        refusal_ = QString::fromUtf8(mount.readAllStandardError()).trimmed();
    }
    ~SmallDisk()
    {
        if (mounted_)
            run("umount", {"-l", folder_});
    }
    bool mounted() const { return mounted_; }
    const QString& refusal() const { return refusal_; }
    // Another program takes all the room that is left.
    void fill() const { run("dd", {"if=/dev/zero", "of=" + folder_ + "/filler", "bs=64k"}); }

private:
    QString folder_;
    bool mounted_ = false;
    QString refusal_;
};

TEST_F(RecorderOnTheDesktop, AFullDiskIsToldAtOnceFailsTheStopAndKeepsWhatWasRecorded)
{
    SmallDisk disk(recorder.directory());
    if (!disk.mounted())
        GTEST_SKIP() << "a small disk cannot be mounted here: " << disk.refusal().toStdString();
    const ShareableDisplay display = firstDisplay();
    ASSERT_GT(display.width, 0);
    ASSERT_EQ(start(CaptureTarget::display(display.displayID)), "");
    record(5000);
    EXPECT_FALSE(recorder.writeFailure());
    disk.fill();
    EXPECT_TRUE(waitUntil([&] { return recorder.writeFailure().has_value(); }, 3000))
        << "the failure is known within a few seconds";
    record(2000);
    EXPECT_LE(journal->messages(errorPriority).size(), 3) << journal->messages(errorPriority).join("\n").toStdString()
                                                          << "\none line for each file, not one a write";

    auto outcome = runTask<RecorderFailure>(recorder.stop());
    ASSERT_TRUE(outcome.error) << "a stop after lost writes is no success";
    EXPECT_EQ(outcome.error->kind(), RecorderFailure::Case::writerFailed);
    EXPECT_FALSE(recorder.isRecording());

    const QStringList kept = QDir(recorder.directory()).entryList({"*-ekran.mp4", "*.m4a"}, QDir::Files);
    ASSERT_EQ(kept.size(), 3) << kept.join(", ").toStdString();
    for (const QString& name : kept) {
        const QString path = recorder.directory() + "/" + name;
        if (name.endsWith(".mp4")) {
            const ProbedVideo video = probeVideo(path);
            ASSERT_TRUE(video.opened) << name.toStdString();
            ASSERT_FALSE(video.frameTimes.empty());
            EXPECT_GT(video.frameTimes.back(), 3.5) << "the seconds before the disk filled play";
        } else {
            const ProbedAudio track = probeAudio(path);
            ASSERT_TRUE(track.opened) << name.toStdString();
            // Less than the picture: a track reaches the disk a fragment and
            // its source's delivery later, and a silent one may never fail.
            EXPECT_GT(seconds(track), 2.0) << name.toStdString();
        }
    }
}

// Where the 1000 Hz tone of `track` first reaches half its later level, in
// seconds; -1 when it never does.
double toneOnset(const std::vector<float>& samples)
{
    const size_t window = 441;
    const std::vector<float> tail(samples.end() - 5 * 44100, samples.end());
    const double level = toneAmplitude(tail, 44100, 1000);
    for (size_t start = 0; start + window <= samples.size(); start += window) {
        const std::vector<float> part(samples.begin() + ptrdiff_t(start), samples.begin() + ptrdiff_t(start + window));
        if (toneAmplitude(part, 44100, 1000) > level / 2)
            return double(start) / 44100;
    }
    return -1;
}

TEST_F(RecorderOnTheDesktop, AMinuteOfAudioGivesEachVoiceATrackOfOneLengthWithTheToneWhereItWasPlayed)
{
    // A new output device that nobody reads yet: its monitor hands the
    // recording nothing for its first seconds, as a real one may.
    PulseModule meeting({"module-null-sink", "sink_name=meeting"});
    ASSERT_TRUE(meeting.loaded());
    run("pactl", {"set-default-sink", "meeting"});
    struct Restore {
        ~Restore() { run("pactl", {"set-default-sink", "speakers"}); }
    } restore;

    const double beforeStart = clock.uptime();
    ASSERT_EQ(start(CaptureTarget::audioOnly()), "");
    const double afterStart = clock.uptime();
    record(10000);
    // The device sleeps for three seconds: its monitor delivers nothing.
    run("pactl", {"suspend-sink", "meeting", "1"});
    record(3000);
    run("pactl", {"suspend-sink", "meeting", "0"});
    record(17000);
    const double played = clock.uptime();
    PulseModule tone({"module-sine", "sink=meeting", "frequency=1000"});
    ASSERT_TRUE(tone.loaded());
    record(30000);
    const Recorder::Result result = stop(recorder);
    EXPECT_FALSE(result.video);
    EXPECT_GE(result.duration, 60.0);
    EXPECT_LE(result.duration, clock.uptime() - beforeStart);

    const ProbedAudio microphone = probeAudio(result.microphone);
    const ProbedAudio system = probeAudio(result.system);
    ASSERT_TRUE(microphone.opened && system.opened);
    // Measured between the sink's sleep and the tone: a jump in the sine's
    // phase lowers what a measure over the whole minute finds.
    ASSERT_GT(seconds(microphone), 30.0);
    const std::vector<float> settled(microphone.samples.begin() + 20 * 44100, microphone.samples.begin() + 30 * 44100);
    EXPECT_GT(toneAmplitude(settled, 44100, 440), 0.1);
    EXPECT_LT(toneAmplitude(microphone.samples, 44100, 1000), 0.01) << "the others do not leak into the microphone";
    EXPECT_GT(toneAmplitude(tail(system, 20), 44100, 1000), 0.05);
    EXPECT_LT(toneAmplitude(system.samples, 44100, 440), 0.01) << "the microphone does not leak into the others' track";
    EXPECT_NEAR(seconds(microphone), seconds(system), 0.05);
    EXPECT_NEAR(seconds(microphone), result.duration, 0.05);
    EXPECT_NEAR(microphone.duration, system.duration, 0.05);
    // The recording's clock starts within start(); the tone is loaded a few
    // milliseconds after `played` and takes a buffer to reach the monitor.
    const double onset = toneOnset(system.samples);
    EXPECT_GT(onset, played - afterStart - 0.05);
    EXPECT_LT(onset, played - beforeStart + 0.3);
}

} // namespace

#include "recording/recorder.h"

#include "core/log.h"
#include "tests/recording/audio_test_signals.h"
#include "tests/support/fake_audio_input.h"
#include "tests/support/fault_injecting_audio_media.h"
#include "tests/support/fake_screen_capture.h"
#include "tests/support/manual_clock.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "tests/support/recording_journal.h"
#include "tests/support/task_outcome.h"
#include "platform/linux/linux_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include <qcoro/qcorotask.h>

namespace {

const AudioFormat stereo48k {48000, 2, AudioFormat::SampleType::float32};

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        journal = std::make_shared<RecordingJournal>();
        previousJournal = Log::setJournal(journal);
        capture->content = ShareableContent {{fakeDisplay(1, 1920, 1080), fakeDisplay(2, 1440, 900, 1920)}, {}, {}};
        recorder = make();
    }

    void TearDown() override
    {
        recorder.reset();
        Log::setJournal(previousJournal);
    }

    std::unique_ptr<Recorder> make(std::shared_ptr<AudioMedia> media = LinuxPlatform::audioMedia())
    {
        auto input = std::make_unique<FakeAudioInput>();
        mic = input.get();
        return std::make_unique<Recorder>(folder.filePath("records"),
                                          Recorder::Dependencies {std::move(input), capture, media, LinuxPlatform::videoMedia()}, clock);
    }

    void start(CaptureTarget target) { QCoro::waitFor(recorder->start(target)); }
    // Throws what stop() threw.
    Recorder::Result stop()
    {
        auto outcome = runTask<RecorderFailure>(recorder->stop());
        if (outcome.error)
            throw *outcome.error;
        if (outcome.other)
            std::rethrow_exception(outcome.other);
        return *outcome.value;
    }

    QStringList files() const { return QDir(folder.filePath("records")).entryList(QDir::Files, QDir::Name); }

    // Warnings logged so far, after the posted ones have arrived.
    QStringList warnings()
    {
        QCoreApplication::processEvents();
        return journal->messages(errorPriority);
    }

    QTemporaryDir folder;
    ManualClock clock {QDateTime(QDate(2026, 12, 4), QTime(9, 5, 30))};
    std::shared_ptr<RecordingJournal> journal;
    std::shared_ptr<Journal> previousJournal;
    std::shared_ptr<FakeScreenCapture> capture = std::make_shared<FakeScreenCapture>();
    FakeAudioInput* mic = nullptr;
    std::unique_ptr<Recorder> recorder;
    ToneSource micTone {{48000, 1, AudioFormat::SampleType::float32}, 440, 0.5};
    ToneSource systemTone {stereo48k, 660, 0.5};
};

TEST_F(RecorderTest, AudioRecordingStartsSourcesInOrderAndStopsThemBeforeTheFiles)
{
    bool micRanAtStreamStart = false;
    QStringList filesAtStreamStart;
    capture->onStreamStart = [&] {
        micRanAtStreamStart = mic->running;
        filesAtStreamStart = files();
    };
    bool micRanAtStreamStop = true;
    capture->onStreamStop = [&] { micRanAtStreamStop = mic->running; };

    start(CaptureTarget::audioOnly());
    EXPECT_TRUE(micRanAtStreamStart) << "the microphone runs before the stream is asked for";
    EXPECT_EQ(filesAtStreamStart, QStringList({"vstrecha-2026-12-04-0905-mikrofon.m4a", "vstrecha-2026-12-04-0905-sistema.m4a"}))
        << "both track files exist before any source runs";
    ASSERT_EQ(capture->streams.size(), 1u);
    EXPECT_TRUE(capture->streams.front()->configuration.excludesCurrentProcessAudio);
    EXPECT_EQ(capture->streams.front()->outputs.size(), 1u) << "no frame output for an audio recording";
    EXPECT_EQ(capture->listings, 0) << "an audio recording does not list the screen";

    for (int i = 0; i < 20; ++i) {
        mic->deliver(micTone.next(4800));
        capture->deliverAudio(systemTone.next(4800));
    }

    // A second start while recording changes nothing.
    start(CaptureTarget::display(2));
    EXPECT_EQ(recorder->target(), CaptureTarget::audioOnly());
    EXPECT_EQ(capture->streams.size(), 1u);

    clock.advance(2);
    const Recorder::Result result = stop();
    EXPECT_FALSE(micRanAtStreamStop) << "the microphone stops before the stream";
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(capture->streamsStopped, 1);
    EXPECT_EQ(QStringList({QFileInfo(result.microphone).fileName(), QFileInfo(result.system).fileName()}),
              filesAtStreamStart);
    EXPECT_FALSE(result.video);
    EXPECT_DOUBLE_EQ(result.duration, 2.0);
    EXPECT_GT(QFileInfo(result.microphone).size(), 1000);
    EXPECT_GT(QFileInfo(result.system).size(), 1000);
    EXPECT_EQ(files().size(), 2);
}

TEST_F(RecorderTest, AQuitWhileTheDesktopAsksEndsTheStreamWhoseSoundAlreadyFlows)
{
    capture->startWaits = [this] { return clock.sleep(3600); };
    // As at a real quit the start never ends: what it holds stays behind on
    // purpose, and is no leak to report.
    std::optional<QCoro::Task<void>> starting;
    {
#ifdef __SANITIZE_ADDRESS__
        __lsan::ScopedDisabler leftBehind;
#endif
        starting.emplace(recorder->start(CaptureTarget::display(1)));
    }
    ASSERT_TRUE(waitUntil([&] { return !capture->streams.empty() && capture->streams.back()->running; }));
    const auto stream = capture->streams.back();
    recorder.reset();
    EXPECT_FALSE(stream->running) << "its sound would go on into a recorder and a clock that are gone";
}

TEST_F(RecorderTest, StopWithoutARecordingIsAWriterFailure)
{
    for (int round = 0; round < 2; ++round) {
        const auto outcome = runTask<RecorderFailure>(recorder->stop());
        ASSERT_TRUE(outcome.error) << "round " << round;
        EXPECT_EQ(outcome.error->kind(), RecorderFailure::Case::writerFailed);
        start(CaptureTarget::audioOnly());
        stop();
    }
}

TEST_F(RecorderTest, TakenNamesMoveARecordingOnAndLeaveTheOtherFilesAlone)
{
    auto media = std::make_shared<FaultInjectingAudioMedia>();
    recorder = make(media);
    // The microphone track's name goes to another program between the
    // check and the creation.
    media->takeFirst = 1;
    start(CaptureTarget::audioOnly());
    for (int i = 0; i < 10; ++i)
        mic->deliver(micTone.next(4800));
    const Recorder::Result first = stop();
    EXPECT_EQ(QFileInfo(first.microphone).fileName(), "vstrecha-2026-12-04-0905-2-mikrofon.m4a");
    EXPECT_EQ(QFileInfo(first.system).fileName(), "vstrecha-2026-12-04-0905-2-sistema.m4a");
    const qint64 firstSize = QFileInfo(first.microphone).size();

    // A second recording in the same minute.
    clock.advance(20);
    start(CaptureTarget::audioOnly());
    EXPECT_EQ(QFileInfo(stop().microphone).fileName(), "vstrecha-2026-12-04-0905-3-mikrofon.m4a");
    EXPECT_EQ(QFileInfo(first.microphone).size(), firstSize) << "the earlier track is untouched";
    QFile taken(folder.filePath("records/vstrecha-2026-12-04-0905-mikrofon.m4a"));
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readAll(), "taken");
    EXPECT_EQ(files().size(), 5);
}

TEST_F(RecorderTest, ContentFilterFollowsTheTargetAndFallsBackToTheFirstDisplay)
{
    using Kind = ContentFilter::Kind;
    const ShareableDisplay first = fakeDisplay(1, 1920, 1080);
    const auto self = fakeApplication("korvala", QCoreApplication::applicationPid());
    const auto editor = fakeApplication("editor", 4242, "org.example.Editor");
    const auto hidden = fakeApplication("daemon", 4343, "org.example.Daemon");
    const ShareableContent content {{first, fakeDisplay(2, 1440, 900, 1920)},
                                    {fakeWindow(7, QString("Korvala"), self),
                                     fakeWindow(10, QString("Скрытое"), hidden, QRectF(2000, 0, 0, 0)),
                                     fakeWindow(9, QString("Текст"), editor, QRectF(2000, 100, 800, 600))},
                                    {self, editor, hidden}};
    // An application goes with the display of its first window wider than 0;
    // what is gone is logged and gives the whole first display.
    const struct {
        CaptureTarget target;
        Kind kind;
        uint32_t display;
        bool logged;
    } cases[] = {
        {CaptureTarget::display(2), Kind::Display, 2, false},
        {CaptureTarget::display(5), Kind::Display, 1, false},
        {CaptureTarget::audioOnly(), Kind::Display, 1, false},
        {CaptureTarget::application("org.example.Editor"), Kind::Applications, 2, false},
        {CaptureTarget::application("org.example.Daemon"), Kind::Applications, 1, false},
        {CaptureTarget::window(9), Kind::Window, 0, false},
        {CaptureTarget::application("org.example.Gone"), Kind::Display, 1, true},
        {CaptureTarget::window(4000000000u), Kind::Display, 1, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& c = cases[i];
        const qsizetype logged = warnings().size();
        const ContentFilter filter = Recorder::filter(c.target, content, first);
        EXPECT_EQ(filter.kind, c.kind);
        EXPECT_EQ(warnings().size(), logged + c.logged);
        if (c.kind == Kind::Window)
            EXPECT_EQ(filter.window.windowID, 9u);
        else
            EXPECT_EQ(filter.display.displayID, c.display);
        if (c.kind == Kind::Applications) {
            ASSERT_EQ(filter.includedApplications.size(), 1u);
            EXPECT_EQ(filter.includedApplications.front().bundleIdentifier, c.target.bundleID());
        }
        if (c.kind == Kind::Display) {
            // Our own windows stay out of a display, also those opened later.
            ASSERT_EQ(filter.excludedWindows.size(), 1u);
            EXPECT_EQ(filter.excludedWindows.front().windowID, 7u);
            EXPECT_TRUE(filter.excludesCurrentProcessWindows);
        }
    }
}

TEST_F(RecorderTest, WatchdogReportsOnlyAStreamThatNeverDeliveredSound)
{
    start(CaptureTarget::audioOnly());
    clock.advance(4.9);
    EXPECT_FALSE(recorder->systemAudioFailure());
    clock.advance(0.2);
    EXPECT_TRUE(recorder->systemAudioFailure());
    clock.advance(60);
    EXPECT_EQ(warnings().size(), 1) << "logged once";
    stop();

    start(CaptureTarget::audioOnly());
    EXPECT_FALSE(recorder->systemAudioFailure()) << "a new start clears the old reason";
    capture->deliverAudio(systemTone.next(1024));
    clock.advance(6);
    EXPECT_FALSE(recorder->systemAudioFailure()) << "one buffer is enough";
    stop();

    start(CaptureTarget::audioOnly());
    stop();
    clock.advance(6);
    EXPECT_FALSE(recorder->systemAudioFailure()) << "a stopped recording is not judged";
    EXPECT_EQ(warnings().size(), 1);
}

TEST_F(RecorderTest, AudioTroubleOfEitherSourceIsToldWhileItLastsAndTheMicrophoneGoesOn)
{
    const QString serverGone = "звуковой сервер недоступен";
    start(CaptureTarget::audioOnly());
    EXPECT_FALSE(recorder->audioTrouble());
    const auto delegate = capture->streams.back()->delegate;
    mic->trouble(serverGone);
    delegate->didChangeAudioTrouble(serverGone);
    EXPECT_TRUE(waitUntil([&] { return recorder->audioTrouble() == serverGone; }));
    mic->trouble(std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->audioTrouble(), serverGone) << "the others' track still waits";
    delegate->didChangeAudioTrouble(std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return !recorder->audioTrouble(); }));
    EXPECT_TRUE(recorder->isRecording());
    stop();

    // News of a recording that has ended does not reach the next one.
    start(CaptureTarget::audioOnly());
    delegate->didChangeAudioTrouble(serverGone);
    QCoreApplication::processEvents();
    EXPECT_FALSE(recorder->audioTrouble());
    // The computer's sound ending for good is told too, not only at the start.
    const QString unplugged = "устройство вывода звука отключено";
    capture->stopBySelf(unplugged);
    EXPECT_TRUE(waitUntil([&] { return recorder->audioTrouble() && recorder->systemAudioFailure(); }));
    EXPECT_TRUE(recorder->systemAudioFailure().value_or("").contains(unplugged));
    EXPECT_TRUE(warnings().join('\n').contains(unplugged));
    EXPECT_TRUE(mic->running);
    stop();
    EXPECT_FALSE(recorder->audioTrouble()) << "nothing while idle";

    // A report arriving after the recorder is gone is only logged.
    start(CaptureTarget::audioOnly());
    const auto last = capture->streams.back()->delegate;
    recorder.reset();
    last->didStopWithError(serverGone);
    EXPECT_TRUE(waitUntil([&] { return warnings().join('\n').contains(serverGone); }));
}

TEST_F(RecorderTest, AScreenRefusedOrUnlistableCostsTheVideoButNotTheOthersSound)
{
    for (const bool unlistable : {false, true}) {
        SCOPED_TRACE(unlistable ? "no screen to list" : "the desktop's chooser cancelled");
        if (unlistable)
            capture->content.reset();
        capture->refusesPictures = !unlistable;
        capture->streams.clear();
        start(CaptureTarget::display(1));
        EXPECT_TRUE(recorder->isRecording());
        EXPECT_EQ(recorder->pictureRefusal(), RecorderFailure::screenRecordingDenied().description());
        EXPECT_FALSE(recorder->systemAudioFailure());
        EXPECT_EQ(recorder->target(), CaptureTarget::audioOnly());
        ASSERT_FALSE(capture->streams.empty());
        EXPECT_TRUE(capture->streams.back()->running);
        EXPECT_EQ(capture->streams.back()->outputs.size(), 1u) << "the sound alone";
        clock.advance(1);
        capture->deliverAudio(systemTone.next(48000));
        clock.advance(5);
        EXPECT_FALSE(recorder->systemAudioFailure()) << "the watchdog saw the others' sound";
        const Recorder::Result result = stop();
        EXPECT_FALSE(result.video);
        EXPECT_TRUE(files().filter(".mp4").isEmpty());
        EXPECT_GT(toneAmplitude(probeAudio(result.system).samples, 44100, 660), 0.05) << "the others are in their track";
    }
    capture->refusesPictures = false;
    capture->streams.clear();

    start(CaptureTarget::audioOnly());
    EXPECT_FALSE(recorder->systemAudioFailure()) << "an audio recording needs no listing";
    ASSERT_EQ(capture->streams.size(), 1u);
    EXPECT_TRUE(capture->streams.back()->running);
    stop();

    capture->content = ShareableContent {};
    capture->streamStarts = false;
    start(CaptureTarget::audioOnly());
    EXPECT_EQ(recorder->systemAudioFailure(), "не запустился") << "the stream's own reason";
    stop();
}

TEST_F(RecorderTest, MicrophoneIsTooQuietOnlyAfterTenMinutesOfAWhisper)
{
    EXPECT_FALSE(recorder->microphoneTooQuiet());
    for (const float peak : {0.03f, 0.0f, 0.05f, 0.2f}) {
        recorder = make();
        start(CaptureTarget::audioOnly());
        if (peak > 0) {
            ToneSource tone({48000, 1, AudioFormat::SampleType::float32}, 440, peak);
            mic->deliver(tone.next(4800));
        }
        clock.advance(599);
        EXPECT_FALSE(recorder->microphoneTooQuiet()) << peak;
        clock.advance(2);
        EXPECT_EQ(recorder->microphoneTooQuiet(), peak == 0.03f) << peak;
        stop();
        EXPECT_FALSE(recorder->microphoneTooQuiet());
    }
}

TEST_F(RecorderTest, DurationEndsWhenCaptureStopsNotWhenTheFilesAreDone)
{
    start(CaptureTarget::audioOnly());
    clock.advance(90);
    auto stopping = recorder->stop();
    // The writers are still finishing on their queues.
    clock.advance(30);
    const Recorder::Result result = QCoro::waitFor(std::move(stopping));
    EXPECT_DOUBLE_EQ(result.duration, 90.0);
}

TEST_F(RecorderTest, AVideoRecordingKeepsItsFramesAndLeavesNoVideoWithoutThem)
{
    QImage frame(1920, 1080, QImage::Format_RGB32);
    frame.fill(Qt::darkCyan);
    capture->streamFrames = {frame, frame, frame};
    start(CaptureTarget::display(1));
    EXPECT_TRUE(capture->streams.back()->configuration.showsCursor);
    const Recorder::Result result = stop();
    ASSERT_TRUE(result.video);
    const ProbedVideo video = probeVideo(*result.video);
    EXPECT_EQ(QSize(video.width, video.height), QSize(960, 540));
    EXPECT_FALSE(video.frameTimes.empty());

    capture->streamFrames.clear();
    start(CaptureTarget::display(1));
    EXPECT_FALSE(stop().video) << "no frame, no video";
}

} // namespace

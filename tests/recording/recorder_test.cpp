#include "recording/recorder.h"

#include "core/log.h"
#include "tests/recording/audio_test_signals.h"
#include "tests/support/fake_audio_input.h"
#include "tests/support/fault_injecting_audio_media.h"
#include "tests/support/fake_screen_capture.h"
#include "tests/support/manual_clock.h"
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

    std::unique_ptr<Recorder> make()
    {
        auto input = std::make_unique<FakeAudioInput>();
        mic = input.get();
        return std::make_unique<Recorder>(folder.filePath("records"),
                                          Recorder::Dependencies {std::move(input), capture, LinuxPlatform::audioMedia(), LinuxPlatform::videoMedia()}, clock);
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
    ASSERT_TRUE(recorder->isRecording());
    EXPECT_TRUE(micRanAtStreamStart) << "the microphone runs before the stream is asked for";
    EXPECT_EQ(filesAtStreamStart, QStringList({"vstrecha-2026-12-04-0905-mikrofon.m4a", "vstrecha-2026-12-04-0905-sistema.m4a"}))
        << "both track files exist before any source runs";
    EXPECT_FALSE(recorder->systemAudioFailure());

    ASSERT_EQ(capture->streams.size(), 1u);
    const auto& stream = *capture->streams.front();
    EXPECT_EQ(stream.configuration.width, 2);
    EXPECT_EQ(stream.configuration.height, 2);
    EXPECT_EQ(stream.configuration.minimumFrameInterval, 1.0);
    EXPECT_TRUE(stream.configuration.capturesAudio);
    EXPECT_TRUE(stream.configuration.excludesCurrentProcessAudio);
    EXPECT_FALSE(stream.configuration.showsCursor);
    ASSERT_EQ(stream.outputs.size(), 1u) << "no frame output for an audio recording";
    EXPECT_EQ(stream.outputs.front().first, StreamOutputType::Audio);
    EXPECT_EQ(stream.filter.kind, ContentFilter::Kind::Display);
    EXPECT_EQ(capture->listings, 0) << "an audio recording does not list the screen";

    for (int i = 0; i < 20; ++i) {
        mic->deliver(micTone.next(4800));
        capture->deliverAudio(systemTone.next(4800));
    }

    // A second start while recording changes nothing.
    start(CaptureTarget::display(2));
    EXPECT_EQ(recorder->target(), CaptureTarget::audioOnly());
    EXPECT_EQ(capture->streams.size(), 1u);
    EXPECT_EQ(capture->listings, 0);

    clock.advance(2);
    const Recorder::Result result = stop();
    EXPECT_FALSE(micRanAtStreamStop) << "the microphone stops before the stream";
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(capture->streamsStopped, 1);
    EXPECT_EQ(QFileInfo(result.microphone).fileName(), "vstrecha-2026-12-04-0905-mikrofon.m4a");
    EXPECT_EQ(QFileInfo(result.system).fileName(), "vstrecha-2026-12-04-0905-sistema.m4a");
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
    const auto expectNotStarted = [&] {
        try {
            stop();
            ADD_FAILURE() << "stop() returned";
        } catch (const RecorderFailure& failure) {
            EXPECT_EQ(failure.kind(), RecorderFailure::Case::writerFailed);
            EXPECT_EQ(failure.description(), "Не удалось записать файл: запись не была начата");
        }
    };
    expectNotStarted();
    start(CaptureTarget::audioOnly());
    stop();
    expectNotStarted();
}

TEST_F(RecorderTest, TwoRecordingsInOneMinuteKeepBothSetsOfFiles)
{
    start(CaptureTarget::audioOnly());
    for (int i = 0; i < 10; ++i)
        mic->deliver(micTone.next(4800));
    const Recorder::Result first = stop();
    const qint64 firstSize = QFileInfo(first.microphone).size();

    clock.advance(20);
    start(CaptureTarget::audioOnly());
    const Recorder::Result second = stop();
    EXPECT_EQ(QFileInfo(second.microphone).fileName(), "vstrecha-2026-12-04-0905-2-mikrofon.m4a");
    EXPECT_EQ(QFileInfo(second.system).fileName(), "vstrecha-2026-12-04-0905-2-sistema.m4a");
    EXPECT_EQ(QFileInfo(first.microphone).size(), firstSize) << "the earlier track is untouched";
    EXPECT_EQ(files().size(), 4);
}

TEST_F(RecorderTest, ANameTakenWhileStartingMovesTheRecordingOnAndLeavesTheOtherFileAlone)
{
    auto media = std::make_shared<FaultInjectingAudioMedia>();
    auto input = std::make_unique<FakeAudioInput>();
    mic = input.get();
    recorder = std::make_unique<Recorder>(folder.filePath("records"),
                                          Recorder::Dependencies {std::move(input), capture, media, nullptr}, clock);
    // The microphone track's name goes to another program between the
    // check and the creation.
    media->takeFirst = 1;
    start(CaptureTarget::audioOnly());
    const Recorder::Result result = stop();
    EXPECT_EQ(QFileInfo(result.microphone).fileName(), "vstrecha-2026-12-04-0905-2-mikrofon.m4a");
    EXPECT_EQ(QFileInfo(result.system).fileName(), "vstrecha-2026-12-04-0905-2-sistema.m4a");
    QFile taken(folder.filePath("records/vstrecha-2026-12-04-0905-mikrofon.m4a"));
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readAll(), "taken");
    EXPECT_EQ(files().size(), 3);
}

TEST_F(RecorderTest, ContentFilterFollowsTheTargetAndFallsBackToTheFirstDisplay)
{
    const ShareableDisplay first = fakeDisplay(1, 1920, 1080);
    const ShareableDisplay second = fakeDisplay(2, 1440, 900, 1920);
    const auto self = fakeApplication("korvala", QCoreApplication::applicationPid());
    const auto editor = fakeApplication("editor", 4242, "org.example.Editor");
    const auto hidden = fakeApplication("daemon", 4343, "org.example.Daemon");
    const ShareableWindow ownWindow = fakeWindow(7, QString("Korvala"), self);
    const ShareableWindow editorWindow = fakeWindow(9, QString("Текст"), editor, QRectF(2000, 100, 800, 600));
    const ShareableWindow zeroWidth = fakeWindow(10, QString("Скрытое"), hidden, QRectF(2000, 0, 0, 0));
    const ShareableContent content {{first, second}, {ownWindow, zeroWidth, editorWindow}, {self, editor, hidden}};

    const ContentFilter display = Recorder::filter(CaptureTarget::display(2), content, first);
    EXPECT_EQ(display.kind, ContentFilter::Kind::Display);
    EXPECT_EQ(display.display.displayID, 2u);
    ASSERT_EQ(display.excludedWindows.size(), 1u);
    EXPECT_EQ(display.excludedWindows.front().windowID, 7u) << "our own windows stay out of a display";
    EXPECT_TRUE(display.excludesCurrentProcessWindows) << "also those opened later";

    const ContentFilter unplugged = Recorder::filter(CaptureTarget::display(5), content, first);
    EXPECT_EQ(unplugged.display.displayID, 1u);

    const ContentFilter application = Recorder::filter(CaptureTarget::application("org.example.Editor"), content, first);
    EXPECT_EQ(application.kind, ContentFilter::Kind::Applications);
    EXPECT_EQ(application.display.displayID, 2u) << "the display of the application's first visible window";
    ASSERT_EQ(application.includedApplications.size(), 1u);
    EXPECT_EQ(application.includedApplications.front().bundleIdentifier, "org.example.Editor");

    const ContentFilter invisible = Recorder::filter(CaptureTarget::application("org.example.Daemon"), content, first);
    EXPECT_EQ(invisible.kind, ContentFilter::Kind::Applications);
    EXPECT_EQ(invisible.display.displayID, 1u) << "no window wider than 0: the first display";

    const ContentFilter window = Recorder::filter(CaptureTarget::window(9), content, first);
    EXPECT_EQ(window.kind, ContentFilter::Kind::Window);
    EXPECT_EQ(window.window.windowID, 9u);

    const ContentFilter audio = Recorder::filter(CaptureTarget::audioOnly(), content, first);
    EXPECT_EQ(audio.kind, ContentFilter::Kind::Display);
    EXPECT_EQ(audio.display.displayID, 1u);
    EXPECT_EQ(audio.excludedWindows.size(), 1u);
    EXPECT_TRUE(warnings().isEmpty()) << "found targets and a missing display log nothing";

    const ContentFilter quit = Recorder::filter(CaptureTarget::application("org.example.Gone"), content, first);
    const ContentFilter closed = Recorder::filter(CaptureTarget::window(4000000000u), content, first);
    for (const ContentFilter& fallback : {quit, closed}) {
        EXPECT_EQ(fallback.kind, ContentFilter::Kind::Display);
        EXPECT_EQ(fallback.display.displayID, 1u);
        EXPECT_EQ(fallback.excludedWindows.size(), 1u);
        EXPECT_TRUE(fallback.excludesCurrentProcessWindows);
    }
    EXPECT_EQ(warnings(), QStringList({"приложение org.example.Gone больше не запущено — пишем весь экран",
                                       "окно 4000000000 закрыто — пишем весь экран"}));
}

TEST_F(RecorderTest, WatchdogReportsOnlyAStreamThatNeverDeliveredSound)
{
    const QString silent = "Собеседников не слышно: система не отдаёт звук. Остановите и начните запись заново.";
    start(CaptureTarget::audioOnly());
    clock.advance(4.9);
    EXPECT_FALSE(recorder->systemAudioFailure());
    clock.advance(0.2);
    EXPECT_EQ(recorder->systemAudioFailure(), silent);
    clock.advance(60);
    EXPECT_EQ(warnings().count("звук системы не идёт: за 5 секунд не пришло ни одного буфера"), 1);
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
    EXPECT_EQ(warnings().count("звук системы не идёт: за 5 секунд не пришло ни одного буфера"), 1);
}

TEST_F(RecorderTest, StreamStoppingByItselfIsReportedWhileTheMicrophoneGoesOn)
{
    start(CaptureTarget::audioOnly());
    capture->deliverAudio(systemTone.next(1024));
    capture->stopBySelf("звуковой сервер завершил работу");
    EXPECT_TRUE(waitUntil([&] { return recorder->systemAudioFailure().has_value(); }));
    EXPECT_EQ(recorder->systemAudioFailure(), "Звук собеседников прервался: звуковой сервер завершил работу");
    EXPECT_TRUE(warnings().contains("поток системного звука остановлен: звуковой сервер завершил работу"));
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(mic->running);
    stop();

    // The report arriving after the recorder is gone is only logged.
    start(CaptureTarget::audioOnly());
    const auto delegate = capture->streams.back()->delegate;
    recorder.reset();
    delegate->didStopWithError("устройство вывода звука отключено");
    EXPECT_TRUE(waitUntil([&] {
        return warnings().contains("поток системного звука остановлен: устройство вывода звука отключено");
    }));
}

TEST_F(RecorderTest, AudioTroubleOfEitherSourceIsToldWhileItLasts)
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
    capture->stopBySelf("устройство вывода звука отключено");
    EXPECT_TRUE(waitUntil([&] { return recorder->audioTrouble().has_value(); }));
    stop();
    EXPECT_FALSE(recorder->audioTrouble()) << "nothing while idle";
}

TEST_F(RecorderTest, UnlistableScreenCostsTheVideoButNotTheSoundOfAnAudioRecording)
{
    capture->content.reset();
    start(CaptureTarget::display(1));
    const QString denied = RecorderFailure::screenRecordingDenied().description();
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(recorder->systemAudioFailure(), denied);
    EXPECT_TRUE(warnings().contains("звук системы недоступен: " + denied));
    EXPECT_TRUE(capture->streams.empty());
    clock.advance(6);
    EXPECT_EQ(recorder->systemAudioFailure(), denied) << "no watchdog without a stream";
    const Recorder::Result result = stop();
    EXPECT_TRUE(QFileInfo::exists(result.system));
    EXPECT_FALSE(result.video);

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

TEST_F(RecorderTest, VideoRecordingsSizeTheStreamToTheContentAndKeepTheFrames)
{
    QImage frame(1920, 1080, QImage::Format_RGB32);
    frame.fill(Qt::darkCyan);
    capture->streamFrames = {frame, frame, frame};
    start(CaptureTarget::display(1));
    ASSERT_EQ(capture->streams.size(), 1u);
    const auto& display = *capture->streams.back();
    EXPECT_EQ(display.configuration.width, 960);
    EXPECT_EQ(display.configuration.height, 540);
    EXPECT_DOUBLE_EQ(display.configuration.minimumFrameInterval, 0.1);
    EXPECT_TRUE(display.configuration.showsCursor);
    ASSERT_EQ(display.outputs.size(), 2u);
    EXPECT_EQ(display.outputs[0].first, StreamOutputType::Audio) << "sound first, then frames";
    EXPECT_EQ(display.outputs[1].first, StreamOutputType::Screen);
    const Recorder::Result result = stop();
    ASSERT_TRUE(result.video);
    EXPECT_EQ(QFileInfo(*result.video).fileName(), "vstrecha-2026-12-04-0905-ekran.mp4");
    EXPECT_GT(QFileInfo(*result.video).size(), 0);

    capture->content->windows = {fakeWindow(31, QString("Окно"), fakeApplication("editor", 4242), QRectF(100, 100, 800, 600))};
    capture->streamFrames.clear();
    start(CaptureTarget::window(31));
    EXPECT_EQ(capture->streams.back()->configuration.width, 960);
    EXPECT_EQ(capture->streams.back()->configuration.height, 720);
    const Recorder::Result frameless = stop();
    EXPECT_FALSE(frameless.video) << "no frame, no video";
}

} // namespace

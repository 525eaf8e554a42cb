#include "app/recording_flow.h"

#include "capture/capture_picker_window.h"
#include "tests/recording/audio_test_signals.h"
#include "tests/support/controller_fixture.h"

namespace {

const QString consentMessage = "Предупредите участников встречи";

// The recording flow of the controller over the real recorder with a fake
// microphone, a fake screen capture and the manual clock.
class RecordingFlowTest : public ControllerTest {
protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        capture->content = ShareableContent {{fakeDisplay(1, 1920, 1080)}, {}, {}};
        // Nothing answers here: the upload after a stop fails at once.
        make("secret", QUrl("http://127.0.0.1:9/"));
    }

    RecordingFlow& flow() { return controller->recording(); }
    bool recording() { return flow().recorder().isRecording(); }
    int consentAlerts() const
    {
        return int(std::count_if(alerts->shown.begin(), alerts->shown.end(),
                                 [](const Alerts::Alert& alert) { return alert.message == consentMessage; }));
    }
    void stopAndWaitForSending()
    {
        flow().stop();
        // The tracks last as long as the manual clock ran (silence where no
        // buffer came): a hundred minutes of them take seconds to finish.
        ASSERT_TRUE(waitUntil([&] { return !recording() && statusLines.contains("Отправляем…"); }, 60000));
    }
};

} // namespace

TEST_F(RecordingFlowTest, ConsentDeclinedIsAskedAgainAndAcceptedIsNeverAskedAgain)
{
    alerts->answerNext(Alerts::secondButton);
    flow().recordAudio();
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].message, consentMessage);
    EXPECT_FALSE(recording());
    EXPECT_FALSE(store().warnedAboutConsent());
    EXPECT_FALSE(flow().clockTimer());

    alerts->answerNext(Alerts::firstButton);
    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    EXPECT_EQ(consentAlerts(), 2);
    EXPECT_TRUE(Store(*Store::openAt(settings->fileName())).warnedAboutConsent()) << "kept in the settings file";
    stopAndWaitForSending();

    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    EXPECT_EQ(consentAlerts(), 2);
    // A second stop while the first finishes the files finishes nothing twice.
    flow().stop();
    stopAndWaitForSending();
    EXPECT_EQ(int(alerts->shown.size()), 2) << "no failure of a second stop";
}

TEST_F(RecordingFlowTest, TheClockIsDerivedFromTheStartEverySecond)
{
    store().setWarnedAboutConsent(true);
    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    EXPECT_EQ(controller->statusLine(), "Идёт аудиозапись — 00:00");
    capture->deliverAudio(ToneSource({48000, 2, AudioFormat::SampleType::float32}, 660, 0.5).next(1024));
    ASSERT_TRUE(flow().clockTimer());
    EXPECT_TRUE(flow().clockTimer()->isActive());

    // Ticks that come late or are skipped do not drift the clock.
    for (const auto& [seconds, text] : std::vector<std::pair<double, QString>>{
             {59.5, "00:59"}, {0.5, "01:00"}, {5940, "100:00"}}) {
        clock.advance(seconds);
        flow().tick();
        EXPECT_EQ(controller->statusLine(), "Идёт аудиозапись — " + text);
    }
    stopAndWaitForSending();
}

TEST_F(RecordingFlowTest, TheQuietWarningComesAndGoesWithTheMicrophone)
{
    store().setWarnedAboutConsent(true);
    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    capture->deliverAudio(ToneSource({48000, 2, AudioFormat::SampleType::float32}, 660, 0.5).next(1024));
    ToneSource whisper({48000, 1, AudioFormat::SampleType::float32}, 440, 0.03);
    mic->deliver(whisper.next(4800));
    clock.advance(601);
    flow().tick();
    EXPECT_EQ(controller->statusLine(), "⚠️ Вас почти не слышно — 10:01");

    ToneSource voice({48000, 1, AudioFormat::SampleType::float32}, 440, 0.4);
    mic->deliver(voice.next(4800));
    clock.advance(1);
    flow().tick();
    EXPECT_EQ(controller->statusLine(), "Идёт аудиозапись — 10:02");

    // A track not being recorded is told by the next tick, and untold once
    // it records again.
    mic->trouble(QStringLiteral("нет связи"));
    QCoreApplication::processEvents();
    flow().tick();
    EXPECT_EQ(controller->statusLine(), "⚠️ нет связи — 10:02");
    mic->trouble(std::nullopt);
    QCoreApplication::processEvents();
    flow().tick();
    EXPECT_EQ(controller->statusLine(), "Идёт аудиозапись — 10:02");
    stopAndWaitForSending();
}

TEST_F(RecordingFlowTest, AVideoRecordingFromThePickerKeepsTheVideoWording)
{
    store().setWarnedAboutConsent(true);
    capture->content->windows = {fakeWindow(7, QString("Созвон"), fakeApplication("Звонилка", 4242))};
    flow().pickCapture();
    CapturePickerWindow& picker = flow().capturePicker();
    ASSERT_TRUE(picker.window());
    EXPECT_TRUE(picker.window()->isVisible());

    picker.pick(CaptureTarget::window(7));
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    EXPECT_FALSE(picker.window()->isVisible());
    EXPECT_EQ(flow().recorder().target(), CaptureTarget::window(7));
    EXPECT_EQ(controller->statusLine(), "Идёт видеозапись — 00:00");
    clock.advance(3);
    flow().tick();
    EXPECT_EQ(controller->statusLine(), "Идёт видеозапись — 00:03");

    // A second pick while this recording runs changes nothing.
    const auto startedAt = flow().startedAt();
    flow().pickCapture();
    picker.pick(CaptureTarget::display(1));
    EXPECT_EQ(flow().recorder().target(), CaptureTarget::window(7));
    EXPECT_EQ(flow().startedAt(), startedAt);
    EXPECT_EQ(controller->statusLine(), "Идёт видеозапись — 00:03");
    stopAndWaitForSending();
}

TEST_F(RecordingFlowTest, WhereTheDesktopPicksTheVideoStartsWithoutOurGridAndAsksTheDesktop)
{
    store().setWarnedAboutConsent(true);
    capture->desktopPicks = true;
    capture->content->displays.push_back(fakeDisplay(2, 1440, 900, 1920));
    flow().pickCapture();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    EXPECT_EQ(flow().recorder().target(), CaptureTarget::desktopChoice());
    EXPECT_FALSE(flow().capturePicker().window()) << "the grid is never built";
    ASSERT_EQ(capture->streams.size(), 1u);
    const ContentFilter& filter = capture->streams[0]->filter;
    EXPECT_EQ(filter.kind, ContentFilter::Kind::DesktopChoice);
    // The video takes the first display's shape; what the user picks is fitted into it.
    EXPECT_EQ(filter.display.displayID, 1u);
    EXPECT_EQ(capture->streams[0]->configuration.width, 960);
    EXPECT_EQ(capture->streams[0]->configuration.height, 540);
    EXPECT_EQ(controller->statusLine(), "Идёт видеозапись — 00:00");
    stopAndWaitForSending();
}

TEST_F(RecordingFlowTest, APickWhileTheDesktopStillAsksStartsNoSecondRecording)
{
    store().setWarnedAboutConsent(true);
    capture->desktopPicks = true;
    // The user clicks again while the desktop's dialog of the first start is up.
    int picksDuringStart = 0;
    capture->onStreamStart = [&] {
        if (picksDuringStart++ == 0) {
            flow().pickCapture();
            flow().recordAudio();
        }
    };
    flow().pickCapture();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    EXPECT_EQ(capture->streams.size(), 1u);
    EXPECT_EQ(capture->streamsStarted, 1);
    EXPECT_EQ(flow().recorder().target(), CaptureTarget::desktopChoice());
    stopAndWaitForSending();

    // Once the start is over, the next pick starts again.
    capture->onStreamStart = nullptr;
    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    stopAndWaitForSending();
}

TEST_F(RecordingFlowTest, OnlyYourVoiceIsToldOnceAndOffersTheSettings)
{
    store().setWarnedAboutConsent(true);
    capture->streamStarts = false;
    alerts->answerNext(Alerts::secondButton);
    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return alerts->shown.size() == 1; }));
    EXPECT_TRUE(recording());
    const Alerts::Alert& alert = alerts->shown[0];
    const QString reason = *flow().recorder().systemAudioFailure();
    EXPECT_TRUE(alert.informativeText.startsWith(reason + "\n\n")) << alert.informativeText.toStdString();
    EXPECT_EQ(workspace->openedSettings, std::vector<Workspace::SettingsPane>{Workspace::SettingsPane::soundOutput})
        << "the sound settings, not the screen's";
    EXPECT_EQ(controller->statusLine(), "Идёт аудиозапись — 00:00");
    stopAndWaitForSending();
}

TEST_F(RecordingFlowTest, AVideoWhoseScreenIsRefusedGoesOnAsAnAudioRecordingAndSaysSo)
{
    store().setWarnedAboutConsent(true);
    capture->refusesPictures = true;
    flow().record(CaptureTarget::display(1));
    ASSERT_TRUE(waitUntil([&] { return alerts->shown.size() == 1; }));
    EXPECT_TRUE(recording());
    const Alerts::Alert& alert = alerts->shown[0];
    EXPECT_TRUE(alert.informativeText.startsWith(*flow().recorder().pictureRefusal() + "\n\n"));
    EXPECT_EQ(alert.buttons.size(), 1) << "no settings grant what the desktop asks for at the start";
    EXPECT_EQ(controller->statusLine(), "Идёт аудиозапись — 00:00");
    stopAndWaitForSending();
}

TEST_F(RecordingFlowTest, StoppingEndsTheClockAtOnceAndWarnsOfAQuietMicrophoneBeforeSending)
{
    store().setWarnedAboutConsent(true);
    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    ToneSource whisper({48000, 1, AudioFormat::SampleType::float32}, 440, 0.02);
    mic->deliver(whisper.next(4800));
    clock.advance(700);
    flow().tick();

    alerts->answerNext(Alerts::secondButton);
    const QString beforeStop = controller->statusLine();
    flow().stop();
    EXPECT_FALSE(flow().clockTimer());
    EXPECT_FALSE(flow().startedAt());
    EXPECT_EQ(controller->statusLine(), beforeStop);
    ASSERT_TRUE(waitUntil([&] { return statusLines.contains("Отправляем…"); }));
    ASSERT_FALSE(alerts->shown.empty());
    const Alerts::Alert& quiet = alerts->shown[0];
    EXPECT_EQ(quiet.message, "Вас было почти не слышно");
    EXPECT_EQ(workspace->openedSettings, std::vector<Workspace::SettingsPane>{Workspace::SettingsPane::soundInput});
    EXPECT_EQ(alertsAtLine[statusLines.indexOf("Отправляем…")], 1u) << "the alert comes before sending";

    // No tick after the stop brings a clock back.
    clock.advance(5);
    for (const QString& line : statusLines.mid(statusLines.indexOf("Отправляем…")))
        EXPECT_FALSE(line.startsWith("Идёт") || line.startsWith("⚠️")) << line.toStdString();
    EXPECT_EQ(controller->menuLines().value(2), "Начать аудиозапись");
}

TEST_F(RecordingFlowTest, AFailedStartIsReportedAndLeavesNoClock)
{
    store().setWarnedAboutConsent(true);
    mic->status = AudioInput::Permission::denied;
    flow().recordAudio();
    ASSERT_TRUE(waitUntil([&] { return !alerts->shown.empty(); }));
    EXPECT_EQ(alerts->shown[0].buttons.size(), 2) << "a denied microphone offers the settings";
    EXPECT_FALSE(recording());
    EXPECT_FALSE(flow().clockTimer());
    EXPECT_FALSE(flow().startedAt());
    EXPECT_EQ(controller->statusLine(), alerts->shown[0].informativeText);
}

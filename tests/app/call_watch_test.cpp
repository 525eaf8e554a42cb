#include "app/call_watch.h"

#include "app/recording_flow.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/fake_shell.h"
#include "tests/support/manual_clock.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class FakeCallStreams final : public CallStreams {
public:
    void watch(Events heard) override { events = std::move(heard); }
    void unwatch() override { events.reset(); }

    void open(uint32_t id, const QString& application, const QString& binary = {}, bool monitor = false, bool own = false)
    {
        if (events)
            events->opened({id, application, binary, monitor, own});
    }
    void close(uint32_t id)
    {
        if (events)
            events->closed(id);
    }

    std::optional<Events> events;
};

class FakeNotifications final : public DesktopNotifications {
public:
    QCoro::Task<bool> show(Notification notification, Chosen chosen) override
    {
        if (server)
            shown.push_back({std::move(notification), std::move(chosen)});
        co_return server;
    }

    bool server = true;
    std::vector<std::pair<Notification, Chosen>> shown;
};

class CallWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        store.setToken("secret");
        watch.start();
    }

    // Past the point where a held microphone counts as a call.
    void holdMicrophone() { clock.advance(CallWatch::offerAfterSeconds + 0.01); }
    void waitForTheEnd() { clock.advance(CallWatch::endAfterSeconds + 0.01); }
    void choose(size_t notification, int action) { notifications.shown.at(notification).second(action); }

    QTemporaryDir folder;
    std::unique_ptr<QSettings> settings = Store::openAt(folder.filePath("korvala.conf"));
    Store store {*settings};
    FakeCallStreams streams;
    FakeNotifications notifications;
    FakeShell shell;
    ManualClock clock;
    int recordCommands = 0;
    int stopCommands = 0;
    CallWatch watch {store, streams, notifications, shell, clock,
                     {[this] { ++recordCommands; }, [this] { ++stopCommands; }}};
};

} // namespace

TEST_F(CallWatchTest, AMicrophoneHeldFiveSecondsIsOfferedOnceAndAShortOneNever)
{
    streams.open(7, "Zoom");
    clock.advance(CallWatch::offerAfterSeconds - 0.1);
    streams.close(7);
    clock.advance(60);
    EXPECT_TRUE(notifications.shown.empty()) << "a short sound is no call";

    streams.open(8, "", "telegram-desktop");
    holdMicrophone();
    ASSERT_EQ(notifications.shown.size(), 1u);
    const auto& offer = notifications.shown[0].first;
    EXPECT_TRUE(offer.text.contains("telegram-desktop")) << "named by its binary when it has no name";
    EXPECT_EQ(offer.actions.size(), 3);

    // The same stream changing device, and the same program opening a
    // second stream in the same call, are asked about no more.
    streams.open(8, "", "telegram-desktop");
    streams.open(9, "", "telegram-desktop");
    clock.advance(60);
    EXPECT_EQ(notifications.shown.size(), 1u);

    // Another program's call is a call of its own.
    streams.open(10, "Firefox", "firefox-esr");
    holdMicrophone();
    ASSERT_EQ(notifications.shown.size(), 2u);
    EXPECT_TRUE(notifications.shown[1].first.text.contains("Firefox"));
    EXPECT_FALSE(notifications.shown[1].first.text.contains("firefox-esr"));
    EXPECT_EQ(recordCommands, 0) << "nothing records without the user";
}

TEST_F(CallWatchTest, NoOfferWhileRecordingSignedOutForMonitorsOrOurOwnStreams)
{
    streams.open(1, "OBS", "obs", true);
    streams.open(2, "Korvala", "korvala", false, true);
    holdMicrophone();
    watch.recordingStarted();
    streams.open(3, "Zoom");
    holdMicrophone();
    watch.recordingStopped();
    settings->remove("token");
    streams.open(4, "Skype");
    holdMicrophone();
    EXPECT_TRUE(notifications.shown.empty());

    // A stream that moves onto a monitor stops being a call.
    store.setToken("secret");
    streams.open(5, "Zoom");
    streams.open(5, "Zoom", {}, true);
    holdMicrophone();
    EXPECT_TRUE(notifications.shown.empty());
}

TEST_F(CallWatchTest, TheOffersButtonsRecordOrTurnTheOffersOff)
{
    streams.open(1, "Zoom");
    holdMicrophone();
    choose(0, 1);
    EXPECT_EQ(recordCommands, 0) << "not now";
    streams.open(2, "Skype");
    holdMicrophone();
    choose(1, 0);
    EXPECT_EQ(recordCommands, 1);

    streams.open(3, "Teams");
    holdMicrophone();
    choose(2, 2);
    EXPECT_FALSE(store.callWatch());
    EXPECT_FALSE(streams.events) << "nothing is watched any more";
    watch.setEnabled(true);
    EXPECT_TRUE(Store(*Store::openAt(settings->fileName())).callWatch());
    streams.open(4, "Zoom");
    holdMicrophone();
    EXPECT_EQ(notifications.shown.size(), 4u);

    // Without a notification server the offer waits in the status line.
    notifications.server = false;
    shell.statusLines.clear();
    streams.open(5, "Jitsi");
    holdMicrophone();
    ASSERT_EQ(shell.statusLines.size(), 1);
    EXPECT_TRUE(shell.statusLines[0].contains("Jitsi"));
}

TEST_F(CallWatchTest, TheEndOfTheRecordedCallIsOfferedAfterItsMicrophoneStayedClosed)
{
    streams.open(1, "Zoom");
    streams.open(2, "Dictation");
    holdMicrophone();
    choose(0, 0);
    watch.recordingStarted();

    streams.close(1);
    clock.advance(CallWatch::endAfterSeconds - 1);
    // The program opens the microphone again (a headset plugged in).
    streams.open(3, "Zoom");
    waitForTheEnd();
    EXPECT_EQ(notifications.shown.size(), 2u) << "the call came back";

    streams.close(3);
    waitForTheEnd();
    ASSERT_EQ(notifications.shown.size(), 3u) << "another program's microphone is not this call";
    EXPECT_TRUE(notifications.shown[2].first.text.contains("Zoom"));
    waitForTheEnd();
    EXPECT_EQ(notifications.shown.size(), 3u) << "offered once";
    EXPECT_EQ(stopCommands, 0) << "ignored, it changes nothing";
    choose(2, 0);
    EXPECT_EQ(stopCommands, 1);
    watch.recordingStopped();
}

TEST_F(CallWatchTest, ARecordingStartedByHandEndsWithEveryCallButNeedsOne)
{
    watch.recordingStarted();
    clock.advance(600);
    EXPECT_TRUE(notifications.shown.empty()) << "a meeting in the room has no call to end";

    streams.open(1, "Zoom");
    streams.open(2, "Skype");
    streams.close(1);
    waitForTheEnd();
    EXPECT_TRUE(notifications.shown.empty());
    streams.close(2);
    waitForTheEnd();
    ASSERT_EQ(notifications.shown.size(), 1u);

    // A button left from a finished recording stops no other.
    watch.recordingStopped();
    watch.recordingStarted();
    choose(0, 0);
    EXPECT_EQ(stopCommands, 0);
}

namespace {

// The offers in the controller: their buttons run the menu's commands.
class CallWatchInTheControllerTest : public ControllerTest {
protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        capture->content = ShareableContent {{fakeDisplay(1, 1920, 1080)}, {}, {}};
        moreDependencies = [this](MenuBarController::Dependencies& dependencies) {
            auto fakeStreams = std::make_unique<FakeCallStreams>();
            streams = fakeStreams.get();
            dependencies.callStreams = std::move(fakeStreams);
            auto fakeNotifications = std::make_unique<FakeNotifications>();
            notifications = fakeNotifications.get();
            dependencies.notifications = std::move(fakeNotifications);
        };
        make("secret", QUrl("http://127.0.0.1:9/"));
        controller->callWatch()->start();
    }

    bool recording() { return controller->recording().recorder().isRecording(); }

    FakeCallStreams* streams = nullptr;
    FakeNotifications* notifications = nullptr;
};

} // namespace

TEST_F(CallWatchInTheControllerTest, RecordAsksForConsentAndTheEndOfferStops)
{
    streams->open(1, "Zoom");
    clock.advance(CallWatch::offerAfterSeconds + 0.01);
    ASSERT_EQ(notifications->shown.size(), 1u);
    alerts->answerNext(Alerts::firstButton);
    notifications->shown[0].second(0);
    ASSERT_TRUE(waitUntil([&] { return recording(); }));
    EXPECT_EQ(alerts->shown.size(), 1u) << "the consent warning comes first";

    streams->close(1);
    clock.advance(CallWatch::endAfterSeconds + 0.01);
    ASSERT_EQ(notifications->shown.size(), 2u);
    notifications->shown[1].second(0);
    EXPECT_TRUE(waitUntil([&] { return !recording(); }, 60000));
}

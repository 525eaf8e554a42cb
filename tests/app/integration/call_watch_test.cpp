// A call noticed on the whole test desktop: another program holds the
// microphone, the program offers to record through the desktop's
// notification server (the test's own), and offers to stop once the call
// has let the microphone go.

#include "tests/app/integration/korvala_session.h"
#include "tests/support/dev_service.h"
#include "tests/support/notification_server.h"

#include <QElapsedTimer>

#include <optional>

namespace {

class CallWatchTest : public KorvalaSessionTest {
protected:
    void SetUp() override
    {
        KorvalaSessionTest::SetUp();
        ASSERT_TRUE(service.started());
        ASSERT_TRUE(notifications.registerOn(QDBusConnection::sessionBus()));
        settings->setValue("token", service.demoToken());
        settings->setValue("baseURL", service.baseURL().toString());
        settings->setValue("warnedAboutConsent", true);
        startKorvala();
    }

    void TearDown() override
    {
        end(caller);
        KorvalaSessionTest::TearDown();
        QDBusConnection::sessionBus().unregisterService("org.freedesktop.Notifications");
        QDBusConnection::sessionBus().unregisterObject("/org/freedesktop/Notifications");
    }

    // The notification about the test's caller that has a button `button`.
    // Other programs of the shared test desktop may hold the microphone too,
    // and are offered for themselves.
    std::optional<NotificationServer::Shown> shownWith(const QString& button)
    {
        for (const NotificationServer::Shown& shown : notifications.shown) {
            if (shown.text.contains("Созвон") && !shown.key(button).isEmpty())
                return shown;
        }
        return std::nullopt;
    }

    DevServiceProcess service {{"--polls", "1"}};
    NotificationServer notifications;
    QProcess caller;
};

} // namespace

TEST_F(CallWatchTest, ACallIsOfferedForRecordingAndItsEndForStopping)
{
    // A calling program: it records the microphone under a name of its own.
    QElapsedTimer held;
    caller.setStandardOutputFile(QProcess::nullDevice());
    caller.start("parec", {"--client-name=Созвон", "--raw"});
    ASSERT_TRUE(caller.waitForStarted());
    held.start();
    ASSERT_TRUE(waitUntil([&] { return shownWith("Записать").has_value(); }, 30000)) << "no offer to record";
    const NotificationServer::Shown offer = *shownWith("Записать");
    EXPECT_EQ(offer.application, "Korvala");
    EXPECT_FALSE(offer.icon.isEmpty());
    EXPECT_EQ(offer.buttons().size(), 3);
    EXPECT_FALSE(offer.key("Не сейчас").isEmpty());
    EXPECT_FALSE(status().startsWith("Идёт")) << "nothing records by itself";

    notifications.press(offer.id, offer.key("Записать"));
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Идёт аудиозапись"); }, 20000)) << status().toStdString();

    // The call goes on for 8 s, then the program lets the microphone go.
    waitUntil([&] { return held.elapsed() >= 8000; }, 10000);
    caller.terminate();
    ASSERT_TRUE(caller.waitForFinished(5000));
    ASSERT_TRUE(waitUntil([&] { return shownWith("Остановить и отправить").has_value(); }, 40000))
        << "no offer to stop";
    const NotificationServer::Shown end = *shownWith("Остановить и отправить");
    EXPECT_TRUE(status().startsWith("Идёт аудиозапись")) << "an offer unanswered stops nothing";

    // What the tracks hold once sent is checked in recording_end_to_end_test.
    notifications.press(end.id, end.key("Остановить и отправить"));
    QString last;
    ASSERT_TRUE(waitUntil([&] { return (last = status()).startsWith("Осталось"); }, 60000)) << last.toStdString();

    // The choice, from the command line, reaches the settings file.
    EXPECT_EQ(korvala({"call-watch", "off"}).exitCode, 0);
    EXPECT_FALSE(Store(*Store::openAt(settingsFile())).callWatch());
    EXPECT_EQ(korvala({"call-watch", "maybe"}).exitCode, 2);
}

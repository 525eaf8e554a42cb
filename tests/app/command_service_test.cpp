#include "app/command_service.h"

#include "app/menu_bar_controller.h"
#include "app/recording_flow.h"
#include "service/sign_in_flow.h"
#include "service/sign_in_window.h"
#include "tests/support/controller_fixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusServer>

namespace {

// The service over a private peer-to-peer connection: the same marshalling
// and error replies a client gets from the session bus, without a bus.
class CommandServiceTest : public ControllerTest {
protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        capture->desktopPicks = desktopPicks();
        if (hasPicker()) {
            captureLines = [this]() -> QCoro::Task<std::vector<MenuBarController::CaptureLine>> {
                co_return lines;
            };
        }
        make();
        service = std::make_unique<CommandService>(*controller);

        server = std::make_unique<QDBusServer>("unix:tmpdir=" + folder.path());
        ASSERT_TRUE(server->isConnected());
        QObject::connect(server.get(), &QDBusServer::newConnection, [this](const QDBusConnection& connection) {
            QDBusConnection(connection).registerObject(CommandService::objectPath, service.get(),
                                                       QDBusConnection::ExportScriptableSlots);
            served = true;
        });
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToPeer(server->address(), "korvala-test-peer"));
        ASSERT_TRUE(client->isConnected());
        ASSERT_TRUE(waitUntil([this] { return served; }));
    }
    void TearDown() override
    {
        client.reset();
        QDBusConnection::disconnectFromPeer("korvala-test-peer");
        ControllerTest::TearDown();
    }

    virtual bool hasPicker() const { return true; }
    virtual bool desktopPicks() const { return false; }

    QDBusMessage call(const QString& method, const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(QString(), CommandService::objectPath,
                                                              CommandService::interfaceName, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = client->asyncCall(message);
        waitUntil([&] { return pending.isFinished(); });
        return pending.reply();
    }

    std::vector<MenuBarController::CaptureLine> lines;
    std::unique_ptr<CommandService> service;
    std::unique_ptr<QDBusServer> server;
    std::unique_ptr<QDBusConnection> client;
    bool served = false;
};

TEST_F(CommandServiceTest, ControlCharactersFromOutsideAreEscapedSoEachTargetIsOneLine)
{
    // A window title may forge a second target or talk to the terminal.
    const QString title = "Отчёт\nwindow-1\tзахват\x1b[2J\\";
    lines = {{"window-7", title, "xterm\r"}};
    const QStringList targets = call("Targets").arguments().value(0).toStringList();
    ASSERT_EQ(targets.size(), 1);
    EXPECT_EQ(targets[0].toStdString(), "window-7\tОтчёт\\nwindow-1\\tзахват\\x1b[2J\\\\\txterm\\r");

    controller->showStatus(title);
    const QString status = call("Status").arguments().value(0).toString();
    EXPECT_FALSE(status.contains('\n') || status.contains('\t') || status.contains(QChar(0x1b))) << status.toStdString();
    EXPECT_EQ(call("Menu").arguments().value(0).toStringList().value(0), status);
}

TEST_F(CommandServiceTest, RunRefusesWhatTheMenuDoesNotOffer)
{
    const QDBusMessage refused = call("Run", {QString("stop")});
    EXPECT_EQ(refused.errorName(), CommandService::notOfferedError);
    EXPECT_EQ(refused.errorMessage(), "Сейчас в меню нет пункта «Остановить и отправить»");

    EXPECT_EQ(call("Run", {QString("rm-rf")}).type(), QDBusMessage::ErrorMessage);

    const QDBusMessage accepted = call("Run", {QString("sign-in")});
    EXPECT_EQ(accepted.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(waitUntil([&] {
        const QWidget* window = controller->signIn().window().window();
        return window && window->isVisible();
    }));
}

TEST_F(CommandServiceTest, RecordVideoTakesOnlyADisplayOrAWindowAndOnlyWhenVideoIsOffered)
{
    for (const QString id : {"audio", "window-", "window-x", "application-org.example", " display-1"}) {
        const QDBusMessage refused = call("RecordVideo", {id});
        EXPECT_EQ(refused.type(), QDBusMessage::ErrorMessage) << id.toStdString();
        EXPECT_NE(refused.errorName(), CommandService::notOfferedError) << id.toStdString();
    }
    // Signed out: the menu offers no recording.
    const QDBusMessage notNow = call("RecordVideo", {QString("window-4194312")});
    EXPECT_EQ(notNow.errorName(), CommandService::notOfferedError);
    EXPECT_FALSE(controller->recording().recorder().isRecording());
}

class CommandServiceWithoutPickerTest : public CommandServiceTest {
protected:
    bool hasPicker() const override { return false; }
};

TEST_F(CommandServiceWithoutPickerTest, TargetsSayWhyNothingIsListed)
{
    const QDBusMessage targets = call("Targets");
    EXPECT_EQ(targets.errorName(), CommandService::notAvailableError);
    EXPECT_FALSE(targets.errorMessage().isEmpty());
}

class CommandServiceWhereTheDesktopPicksTest : public CommandServiceTest {
protected:
    bool desktopPicks() const override { return true; }
};

TEST_F(CommandServiceWhereTheDesktopPicksTest, TargetsAndRecordVideoWithAnIdTellHowToRecordThere)
{
    lines = {{"display-1", "Экран 1", "1920 × 1080"}};
    for (const QDBusMessage& answer : {call("Targets"), call("RecordVideo", {QString("display-1")})}) {
        EXPECT_EQ(answer.errorName(), CommandService::notAvailableError);
        EXPECT_EQ(answer.errorMessage(), CommandService::desktopPicksMessage);
    }
    EXPECT_FALSE(controller->recording().recorder().isRecording());
}

} // namespace

// The sign-in window on a real X server, typed into with xdotool the way a
// user types, against the stand-in service.

#include "core/log.h"
#include "service/limit_flow.h"
#include "service/sign_in_flow.h"
#include "service/sign_in_window.h"
#include "tests/support/dev_service.h"
#include "tests/support/event_loop_process.h"
#include "tests/support/fake_shell.h"
#include "tests/support/fake_workspace.h"
#include "tests/support/qt_wait.h"
#include "tests/support/recording_journal.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Lets the X server and our window catch up with what was sent.
void settle(int ms = 300)
{
    waitUntil([] { return false; }, ms);
}

class SignInWindowOnX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.started());
        previousJournal = Log::setJournal(std::make_shared<RecordingJournal>());
        settings->setValue("baseURL", service.baseURL().toString());
    }

    void TearDown() override { Log::setJournal(previousJournal); }

    SignInWindow& window() { return flow.window(); }

    // Opens the window from the menu action and gives it the keyboard.
    QString openWindow()
    {
        flow.signIn();
        EXPECT_TRUE(waitUntil([&] { return window().window() && window().window()->isActiveWindow(); }, 10000))
            << "the window did not come up with the keyboard";
        const QString id = QString::number(window().window()->winId());
        runWithEventLoop("xdotool", {"windowactivate", "--sync", id});
        settle();
        return id;
    }

    void type(const QString& text) { runWithEventLoop("xdotool", {"type", "--delay", "20", text}); }
    void key(const QString& keys) { runWithEventLoop("xdotool", {"key", "--delay", "40", keys}); }

    QTemporaryDir folder;
    DevServiceProcess service;
    std::shared_ptr<Journal> previousJournal;
    std::unique_ptr<QSettings> settings = Store::openAt(folder.filePath("korvala.conf"));
    Store store {*settings};
    FakeShell shell;
    LimitFlow limit {store, [this] { return Api::from(store); }, shell};
    FakeWorkspace workspace;
    SignInFlow flow {store, [this] { return Api::from(store); }, shell, limit, workspace};
};

TEST_F(SignInWindowOnX11Test, TypedWrongThenRightWithReturn)
{
    service.script("POST", "/api/v1/login",
                   {{.status = 401, .body = R"({"message":"нет такого"})"}, {.body = R"({"token":"from-x11"})"}});
    service.script("GET", "/api/v1/subscription", 200, R"({"limits":{"speech":{"used":1,"limit":10,"left":9}}})");
    openWindow();
    ASSERT_TRUE(window().email().hasFocus()) << "the e-mail field takes the first keys";

    type("  anya@example.test\t");
    ASSERT_TRUE(window().password().hasFocus()) << "Tab goes on to the password";
    type(" wrong pass");
    key("Return");
    ASSERT_TRUE(waitUntil([&] { return window().error().isVisible(); }, 10000)) << "no error shown";
    EXPECT_EQ(window().error().text(), "Не подошли почта или пароль.");
    EXPECT_TRUE(window().window()->isVisible());
    EXPECT_TRUE(window().button().isEnabled());
    settle();

    // What the user sees, kept beside the test environment's logs.
    const QString picture =
        QDir(qEnvironmentVariable("KORVALA_TESTENV", QDir::tempPath())).filePath("sign-in-error.png");
    runWithEventLoop("import", {"-window", "root", picture});
    const QImage screen = QImage(picture).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(screen.isNull());
    const QRect errorArea(window().error().mapToGlobal(QPoint(0, 0)), window().error().size());
    int red = 0;
    for (int y = errorArea.top(); y <= errorArea.bottom(); ++y) {
        for (int x = errorArea.left(); x <= errorArea.right(); ++x) {
            const QColor c = screen.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 140 && c.blue() < 140)
                ++red;
        }
    }
    EXPECT_GT(red, 40) << "the error is drawn in red on the screen";

    auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(QJsonDocument::fromJson(requests[0].body).object(),
              QJsonObject({{"email", "anya@example.test"}, {"password", " wrong pass"}, {"device", "mac"}}));

    // Paste the right password over the wrong one.
    QGuiApplication::clipboard()->setText("right pass");
    window().password().setFocus();
    key("ctrl+a");
    key("ctrl+v");
    ASSERT_TRUE(waitUntil([&] { return window().password().text() == "right pass"; }, 5000))
        << window().password().text().toStdString();
    key("Return");
    ASSERT_TRUE(waitUntil([&] { return !window().window()->isVisible(); }, 10000)) << "the window did not close";
    EXPECT_TRUE(waitUntil([&] { return shell.statusLines.contains("Осталось 9 ч из 10"); }, 10000));
    EXPECT_EQ(store.token(), "from-x11");
    EXPECT_TRUE(window().password().text().isEmpty());
    requests = service.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(QJsonDocument::fromJson(requests[1].body).object().value("password"), "right pass");
}

TEST_F(SignInWindowOnX11Test, ClipboardOfAnotherProgramPastesIntoTheEmail)
{
    openWindow();
    // xclip owns the selection: the text comes through the X server.
    QProcess owner;
    owner.start("xclip", {"-quiet", "-selection", "clipboard"});
    ASSERT_TRUE(owner.waitForStarted());
    owner.write("  pasted@example.test");
    owner.closeWriteChannel();
    settle(500);
    window().email().setFocus();
    key("ctrl+v");
    EXPECT_TRUE(waitUntil([&] { return window().email().text() == "  pasted@example.test"; }, 5000))
        << window().email().text().toStdString();
    owner.kill();
    owner.waitForFinished(3000);
}

} // namespace

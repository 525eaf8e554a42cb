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

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
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
    openWindow();
    ASSERT_TRUE(window().email().hasFocus()) << "the e-mail field takes the first keys";

    type("  anya@example.test\t");
    ASSERT_TRUE(window().password().hasFocus()) << "Tab goes on to the password";
    type(" wrong pass");
    key("Return");
    // What the window makes of the answer is the flow's tests'; here, that it is drawn.
    ASSERT_TRUE(waitUntil([&] { return window().error().isVisible(); }, 10000)) << "no error shown";
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

    // The right password over the wrong one.
    window().password().setFocus();
    key("ctrl+a");
    type("right pass");
    key("Return");
    ASSERT_TRUE(waitUntil([&] { return !window().window()->isVisible(); }, 10000)) << "the window did not close";
    requests = service.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(QJsonDocument::fromJson(requests[1].body).object().value("password"), "right pass");
}

} // namespace

// The sign-in window on a real X server, typed into with xdotool the way a
// user types, against the stand-in service.

#include "service/sign_in_flow.h"
#include "service/sign_in_window.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/event_loop_process.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Lets the X server and our window catch up with what was sent.
void settle()
{
    waitUntil([] { return false; }, 300);
}

class SignInWindowOnX11Test : public ServiceControllerTest {
protected:
    SignInWindow& window() { return controller->signIn().window(); }

    // Opens the window from the menu action and gives it the keyboard.
    void openWindow()
    {
        make();
        controller->signIn().signIn();
        ASSERT_TRUE(waitUntil([&] { return window().window() && window().window()->isActiveWindow(); }, 10000))
            << "the window did not come up with the keyboard";
        runWithEventLoop("xdotool", {"windowactivate", "--sync", QString::number(window().window()->winId())});
        settle();
    }

    void type(const QString& text) { runWithEventLoop("xdotool", {"type", "--delay", "20", text}); }
    void key(const QString& keys) { runWithEventLoop("xdotool", {"key", "--delay", "40", keys}); }
};

TEST_F(SignInWindowOnX11Test, TypedWrongThenRightWithReturn)
{
    service.script("POST", "/api/v1/login",
                   {{.status = 401, .body = R"({"message":"нет такого"})"}, {.body = R"({"token":"from-x11"})"}});
    ASSERT_NO_FATAL_FAILURE(openWindow());
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

#include "service/sign_in_window.h"

#include "service/busy_spinner.h"
#include "tests/support/fake_workspace.h"
#include "tests/support/manual_clock.h"
#include "tests/support/qt_wait.h"
#include "tests/support/shown_text.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

// A window whose callback records each call and answers `reply` after
// `clock` has moved on by a second.
class SignInWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(&window, &SignInWindow::submitFinished, [this] { ++finished; });
    }

    void open()
    {
        window.show([this](QString, QString) {
            ++calls;
            return answerLater(&clock, reply);
        });
    }

    static QCoro::Task<std::optional<QString>> answerLater(ManualClock* clock, std::optional<QString> reply)
    {
        co_await clock->sleep(1);
        co_return reply;
    }

    // Submits what the fields hold with Return in the password field and lets the callback answer.
    void submit()
    {
        const int before = finished;
        QTest::keyClick(&window.password(), Qt::Key_Return);
        clock.advance(1);
        EXPECT_TRUE(waitUntil([&] { return finished > before; }));
    }

    ManualClock clock;
    FakeWorkspace workspace;
    SignInWindow window {workspace};
    int calls = 0;
    std::optional<QString> reply;
    int finished = 0;
};

TEST_F(SignInWindowTest, BuiltOnceAndReusedWithTheEmailFocused)
{
    EXPECT_EQ(window.window(), nullptr) << "no window before the first show";
    open();
    QWidget* built = window.window();
    ASSERT_NE(built, nullptr);
    EXPECT_TRUE(built->isVisible());
    EXPECT_EQ(window.password().echoMode(), QLineEdit::Password);
    EXPECT_FALSE(window.error().isVisible());
    EXPECT_FALSE(window.spinner().isVisible());
    EXPECT_TRUE(window.email().hasFocus() || built->focusWidget() == &window.email());
    EXPECT_TRUE(workspace.movedToActiveSpace.empty());
    // "Войти…" again while the window is up, maybe on another desktop.
    open();
    ASSERT_EQ(workspace.movedToActiveSpace.size(), 1u);
    EXPECT_EQ(workspace.movedToActiveSpace[0], built->windowHandle());
    built->close();
    open();
    EXPECT_EQ(window.window(), built) << "a later show reuses the window";
    EXPECT_TRUE(built->isVisible());
}

TEST_F(SignInWindowTest, EmptyFieldsAskForBothWithoutCallingBack)
{
    open();
    for (const auto& [email, password] : std::vector<std::pair<QString, QString>>{
             {"", "secret"}, {" \t  ", "secret"}, {"me@example.test", ""}}) {
        window.email().setText(email);
        window.password().setText(password);
        window.button().click();
        EXPECT_TRUE(window.error().isVisible());
        EXPECT_EQ(window.error().text(), "Заполните почту и пароль.");
        EXPECT_TRUE(window.button().isEnabled()) << "not busy";
    }
    EXPECT_EQ(calls, 0);
}

TEST_F(SignInWindowTest, OnlyBlanksAndTabsAroundTheEmailAreTrimmed)
{
    EXPECT_EQ(SignInWindow::trimmedEmail(" \t me@example.test \t"), "me@example.test");
    EXPECT_EQ(SignInWindow::trimmedEmail(QString::fromUtf8("\u00a0me@example.test\u2003")), "me@example.test");
    EXPECT_EQ(SignInWindow::trimmedEmail("me@example.test\n"), "me@example.test\n") << "line breaks stay";
    EXPECT_EQ(SignInWindow::trimmedEmail("me @example.test"), "me @example.test");
}

TEST_F(SignInWindowTest, BusyWhileTheCallbackRunsThenShowsItsAnswer)
{
    open();
    window.button().click();
    ASSERT_TRUE(window.error().isVisible()) << "an earlier error";

    reply = "нет";
    window.email().setText("me@example.test");
    window.password().setText("wrong");
    QTest::keyClick(&window.email(), Qt::Key_Return);
    EXPECT_EQ(window.button().text(), "Входим…");
    EXPECT_FALSE(window.button().isEnabled());
    EXPECT_FALSE(window.email().isEnabled());
    EXPECT_FALSE(window.password().isEnabled());
    EXPECT_TRUE(window.spinner().isAnimating());
    EXPECT_TRUE(window.spinner().isVisible());
    EXPECT_FALSE(window.error().isVisible()) << "the earlier error goes while busy";

    QTest::keyClick(window.window(), Qt::Key_Return);
    window.button().click();
    EXPECT_EQ(calls, 1) << "no second submit while busy";

    clock.advance(1);
    ASSERT_TRUE(waitUntil([&] { return finished == 1; }));
    EXPECT_EQ(window.button().text(), "Войти");
    EXPECT_TRUE(window.button().isEnabled());
    EXPECT_TRUE(window.email().isEnabled());
    EXPECT_FALSE(window.spinner().isVisible());
    EXPECT_TRUE(window.error().isVisible());
    // What the window keeps after an answer is the flow's tests'.
    reply = markupText;
    submit();
    EXPECT_EQ(shownText(window.error()), markupText) << "the service's message shows as text";

    // A long answer wraps, and at most three lines of it are shown.
    reply = QString("Сервер отказал, потому что ").repeated(12);
    submit();
    const int lines = window.error().height() / window.error().fontMetrics().lineSpacing();
    EXPECT_GE(lines, 2);
    EXPECT_LE(lines, 3);
    EXPECT_LE(window.error().geometry().bottom(), window.button().geometry().top());
}

TEST_F(SignInWindowTest, ClosingWhileBusyLetsTheCallbackFinish)
{
    open();
    window.email().setText("me@example.test");
    window.password().setText("right");
    window.button().click();
    window.window()->close();
    clock.advance(1);
    ASSERT_TRUE(waitUntil([&] { return finished == 1; }));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(window.window()->isVisible());
    EXPECT_TRUE(window.password().text().isEmpty());
    EXPECT_TRUE(window.button().isEnabled()) << "ready for the next time";

    open();
    EXPECT_TRUE(window.window()->isVisible());
    EXPECT_EQ(window.email().text(), "me@example.test");
}

} // namespace

#include "service/sign_in_flow.h"
#include "service/sign_in_window.h"
#include "tests/support/controller_fixture.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString login = "/api/v1/login";

class SignInFlowTest : public ServiceControllerTest {
protected:
    // Opens the window from the menu action, types and submits, and waits
    // until the window shows the outcome.
    void signIn(const QString& email, const QString& password)
    {
        controller->signIn().signIn();
        SignInWindow& window = controller->signIn().window();
        ASSERT_TRUE(window.window() && window.window()->isVisible());
        window.email().setText(email);
        window.password().setText(password);
        bool finished = false;
        const auto connection = QObject::connect(&window, &SignInWindow::submitFinished, [&] { finished = true; });
        window.button().click();
        EXPECT_TRUE(waitUntil([&] { return finished; }, 15000));
        QObject::disconnect(connection);
    }

    SignInWindow& window() { return controller->signIn().window(); }
};

TEST_F(SignInFlowTest, SuccessStoresTheTokenAndShowsTheLimit)
{
    service.script("POST", login, 200, R"({"token":"tok-123","user":{"name":"Аня"}})");
    service.script("GET", "/api/v1/subscription", 200, R"({"limits":{"speech":{"used":4,"limit":10,"left":6}}})");
    make();

    signIn("  anya@example.test \t", " two words ");
    EXPECT_EQ(store().token(), "tok-123");
    EXPECT_EQ(statusLines, QStringList({"Вошли", "Осталось 6 ч из 10"}));
    EXPECT_EQ(controller->menuLines()[2], "Начать аудиозапись") << "the menu offers recording now";
    EXPECT_FALSE(window().window()->isVisible());

    const auto requests = requestsTo("login");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_FALSE(requests[0].header("Authorization")) << "nobody was signed in";
    const QJsonObject body = QJsonDocument::fromJson(requests[0].body).object();
    EXPECT_EQ(body, QJsonObject({{"email", "anya@example.test"}, {"password", " two words "}, {"device", "mac"}}));
    EXPECT_EQ(requestsTo("subscription").front().header("Authorization"), "Bearer tok-123");

    // The settings file holds it for the next start.
    QSettings reread(settings->fileName(), QSettings::IniFormat);
    EXPECT_EQ(reread.value("token").toString(), "tok-123");
}

TEST_F(SignInFlowTest, AnEmptyTokenIsAToken)
{
    service.script("POST", login, 200, R"({"token":""})");
    service.script("GET", "/api/v1/subscription", 200, R"({})");
    make();
    signIn("anya@example.test", "secret");
    EXPECT_EQ(store().token(), QString(""));
    EXPECT_EQ(controller->menuLines()[2], "Начать аудиозапись");
    ASSERT_EQ(requestsTo("subscription").size(), 1u);
    EXPECT_TRUE(requestsTo("subscription").front().header("Authorization")) << "sent as \"Bearer \"";
}

TEST_F(SignInFlowTest, FailuresStayInTheWindowAndInTheLog)
{
    struct Case {
        int status;
        const char* body;
        const char* shown;
    };
    const Case cases[] = {
        {401, R"({"message":"Пароль устарел"})", "Не подошли почта или пароль."},
        {200, R"({"token":42})", "Не подошли почта или пароль."},
        {200, R"({"token":null})", "Не подошли почта или пароль."},
        {200, R"({"session":"abc"})", "Не подошли почта или пароль."},
        {200, "<html>вход</html>", "Не подошли почта или пароль."},
        {429, R"({"message":"Слишком много попыток"})", "Слишком много попыток"},
        {503, "", "Сервер отказал (503)."},
    };
    make("old-token");
    for (const Case& c : cases) {
        service.script("POST", login, c.status, c.body);
        signIn("anya@example.test", "secret");
        EXPECT_TRUE(window().window()->isVisible()) << c.body;
        EXPECT_TRUE(window().error().isVisible()) << c.body;
        EXPECT_EQ(window().error().text(), QString::fromUtf8(c.shown)) << c.body;
        EXPECT_EQ(window().email().text(), "anya@example.test");
        EXPECT_EQ(window().password().text(), "secret");
        EXPECT_EQ(journal->messages(errorPriority).last(), "вход не удался: " + QString::fromUtf8(c.shown));
    }
    EXPECT_EQ(journal->messages(errorPriority).size(), qsizetype(std::size(cases)));
    EXPECT_EQ(store().token(), "old-token") << "a failed sign-in keeps the stored token";
    EXPECT_TRUE(alerts->shown.empty()) << "the window shows the failure, not an alert";
    EXPECT_EQ(controller->statusLine(), "Готов к записи");
    EXPECT_EQ(requestsTo("login").front().header("Authorization"), "Bearer old-token");
}

TEST_F(SignInFlowTest, AWindowLeftOpenAfterTheControllerIsGoneDoesNothing)
{
    service.script("POST", login, {{.body = R"({"token":"late"})", .delay = std::chrono::milliseconds(300)},
                                   {.body = R"({"token":"later"})", .delay = std::chrono::milliseconds(600)}});
    make();
    controller->signIn().signIn();
    SignInWindow& window = controller->signIn().window();
    window.email().setText("anya@example.test");
    window.password().setText("secret");
    window.button().click();
    ASSERT_TRUE(waitUntil([&] { return requestsTo("login").size() == 1; }));
    controller.reset();
    // The reply still arrives while a slower call of our own is answered;
    // nothing may touch the controller or its window.
    EXPECT_EQ(runTask<Api::Failure>(Api(service.baseURL(), std::nullopt).signIn("b@example.test", "x")).value, "later");
}

} // namespace

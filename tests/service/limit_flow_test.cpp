#include "service/limit_flow.h"
#include "tests/support/controller_fixture.h"

namespace {

using LimitFlowTest = ServiceControllerTest;

const QString subscription = "/api/v1/subscription";

TEST_F(LimitFlowTest, AnswersBecomeTheStatusLine)
{
    struct Case {
        const char* answer;
        const char* statusLine;
    };
    const Case cases[] = {
        {R"({"limits":{"speech":{"used":3,"limit":10,"left":7}}})", "Осталось 7 ч из 10"},
        {R"({"limits":{"speech":{"used":5,"limit":10,"left":5}},"plan":"pro"})", "Осталось 5 ч из 10"},
        {R"({"limits":{"speech":{"used":10,"limit":10,"left":0}}})", "Лимит расшифровки исчерпан"},
        {R"({"limits":{"speech":{"used":12,"limit":10,"left":-2}}})", "Лимит расшифровки исчерпан"},
        // Nothing to show: the status line keeps what it said.
        {R"({})", "Прежний текст"},
        {R"({"limits":null})", "Прежний текст"},
        {R"({"limits":{"screenshots":{"used":1,"limit":5,"left":4}}})", "Прежний текст"},
        {R"({"limits":{"speech":{"used":3,"limit":10,"left":7},"video":{"used":1,"limit":2}}})", "Прежний текст"},
        {R"({"limits":{"speech":{"used":3,"limit":10,"left":"7"}}})", "Прежний текст"},
        {R"({"limits":{"speech":{"used":3,"limit":10,"left":null}}})", "Прежний текст"},
        {R"({"limits":{"speech":{"used":3,"limit":10.5,"left":7}}})", "Прежний текст"},
        {R"({"limits":{"speech":7}})", "Прежний текст"},
        {R"({"limits":[]})", "Прежний текст"},
        {R"(not json)", "Прежний текст"},
    };
    make("secret");
    for (const Case& c : cases) {
        service.script("GET", subscription, 200, c.answer);
        controller->showStatus("Прежний текст");
        const auto outcome = drive(controller->limit().refreshLimit());
        EXPECT_TRUE(outcome.value) << c.answer;
        EXPECT_EQ(controller->statusLine(), QString::fromUtf8(c.statusLine)) << c.answer;
    }
    const auto requests = requestsTo("subscription");
    ASSERT_EQ(requests.size(), std::size(cases));
    EXPECT_EQ(requests.front().method, "GET");
    EXPECT_EQ(requests.front().header("Authorization"), "Bearer secret");
}

TEST_F(LimitFlowTest, FailuresAreSilentAndKeepTheToken)
{
    make("revoked");
    for (const int status : {401, 429, 500}) {
        service.script("GET", subscription, status, R"({"message":"нельзя"})");
        controller->showStatus("Прежний текст");
        const auto outcome = drive(controller->limit().refreshLimit());
        EXPECT_TRUE(outcome.value) << "the refresh never throws, status " << status;
        EXPECT_EQ(controller->statusLine(), "Прежний текст") << status;
        EXPECT_TRUE(alerts->shown.empty()) << status;
    }
    EXPECT_EQ(store().token(), "revoked") << "a 401 does not sign the user out";
    EXPECT_TRUE(journal->messages(errorPriority).isEmpty()) << "nothing is logged either";
}

TEST_F(LimitFlowTest, WithoutATokenNothingIsAsked)
{
    make();
    drive(controller->limit().refreshLimit());
    EXPECT_EQ(controller->statusLine(), "Нужен вход");
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(LimitFlowTest, LaunchRefreshesTheLimitAndChecksTheVersionTogether)
{
    service.script("GET", subscription, 200, R"({"limits":{"speech":{"used":1,"limit":10,"left":9}}})");
    service.script("GET", "/api/v1/versions/check", 200, R"({"status":"required","title":"Korvala 2.0"})");
    make(QString("secret"));
    controller->launch();
    EXPECT_TRUE(waitUntil([&] { return controller->statusLine() == "Осталось 9 ч из 10"; }));
    EXPECT_TRUE(waitUntil([&] { return alerts->shown.size() == 1; }));
    EXPECT_EQ(requestsTo("subscription").size(), 1u);
    EXPECT_EQ(requestsTo("versions/check").size(), 1u);
}

} // namespace

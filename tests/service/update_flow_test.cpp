#include "service/update_flow.h"
#include "tests/support/controller_fixture.h"

namespace {

class UpdateFlowTest : public ServiceControllerTest {
protected:
    void answer(const QByteArray& body, int status = 200) { service.script("GET", "/api/v1/versions/check", status, body); }

    // Runs the check as a launch does and reports whether it finished.
    void check() { EXPECT_TRUE(drive(controller->updates().checkVersion()).value) << "the check never throws"; }

    std::optional<QDateTime> remindAfter() { return store().updateRemindAfter(); }
    QStringList titles() { return controller->menuLines(); }
};

TEST_F(UpdateFlowTest, CurrentVersionOffersNothing)
{
    make();
    answer(R"({"status":"ok","title":"Не то","update_url":"https://example.test/x"})");
    check();
    EXPECT_FALSE(controller->updates().offer());
    EXPECT_TRUE(alerts->shown.empty());
    EXPECT_EQ(titles()[2], "Войти…") << "no update item";
    ASSERT_EQ(requestsTo("versions/check").size(), 1u);
    EXPECT_FALSE(requestsTo("versions/check").front().header("Authorization")) << "asked without a token too";
}

TEST_F(UpdateFlowTest, RequiredUpdateIsOfferedAtEveryLaunchWhateverTheSnooze)
{
    answer(R"({"status":"required","title":"Korvala 2.0","message":"Старая версия больше не работает.",
               "updateUrl":"https://example.test/korvala-2.0.deb","remindAfterDays":30})");
    for (int launch = 0; launch < 2; ++launch) {
        make("secret");
        store().setUpdateRemindAfter(clock.now().addDays(20));
        alerts->answerNext(Alerts::noButton);
        check();
        ASSERT_EQ(alerts->shown.size(), 1u) << "launch " << launch;
        EXPECT_EQ(alerts->shown[0].message, "Korvala 2.0");
        EXPECT_EQ(alerts->shown[0].informativeText, "Старая версия больше не работает.");
        EXPECT_EQ(alerts->shown[0].buttons, QStringList{"Скачать"}) << "a required update cannot be postponed";
        EXPECT_EQ(titles().mid(0, 5), QStringList({"Готов к записи", "---", "Korvala 2.0 — скачать…", "---",
                                                   "Начать аудиозапись"}));
        EXPECT_TRUE(workspace->openedUrls.empty()) << "the alert was closed without an answer";
    }

    alerts->answerNext(Alerts::firstButton);
    check();
    EXPECT_EQ(workspace->openedUrls, std::vector<QUrl>{QUrl("https://example.test/korvala-2.0.deb")});
    controller->updates().openUpdate();
    EXPECT_EQ(workspace->openedUrls.size(), 2u) << "the menu item stays and works again";
}

TEST_F(UpdateFlowTest, LaterPostponesAnOptionalOfferByCalendarDays)
{
    make();
    answer(R"({"status":"optional","message":"Быстрее отправляет записи.","update_url":"https://example.test/get",
               "remind_after_days":7})");
    alerts->answerNext(Alerts::secondButton);
    check();
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].message, "Есть обновление");
    EXPECT_EQ(alerts->shown[0].buttons, QStringList({"Скачать", "Потом"}));
    EXPECT_EQ(titles()[2], "Есть обновление — скачать…");
    EXPECT_EQ(remindAfter(), clock.now().addDays(7));
    EXPECT_TRUE(workspace->openedUrls.empty());

    // Until then the item is there but no alert; after it the alert returns.
    clock.setNow(clock.now().addDays(7).addSecs(-60));
    check();
    EXPECT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(titles()[2], "Есть обновление — скачать…");
    clock.setNow(clock.now().addSecs(60));
    check();
    EXPECT_EQ(alerts->shown.size(), 2u) << "a snooze that has just run out shows the offer again";
    EXPECT_EQ(workspace->openedUrls, std::vector<QUrl>{QUrl("https://example.test/get")}) << "answered Скачать";
}

TEST_F(UpdateFlowTest, SnoozeIsThreeDaysByDefaultAndAtLeastOne)
{
    struct Case {
        const char* days; // JSON for remindAfterDays, or nullptr for none
        int answer;
        std::optional<qint64> expected;
    };
    const Case cases[] = {
        {nullptr, Alerts::secondButton, 3},
        {"0", Alerts::secondButton, 1},
        {"-5", Alerts::secondButton, 1},
        {"2", Alerts::noButton, 2},
        // No calendar gives a date that far away; nothing is postponed.
        {"9223372036854775807", Alerts::secondButton, std::nullopt},
    };
    make();
    for (const Case& c : cases) {
        store().setUpdateRemindAfter(clock.now().addDays(-1));
        const QString days = c.days ? QStringLiteral(R"(,"remindAfterDays":%1)").arg(c.days) : QString();
        answer(QStringLiteral(R"({"status":"optional","title":"Korvala 1.5"%1})").arg(days).toUtf8());
        alerts->answerNext(c.answer);
        check();
        const std::optional<QDateTime> expected =
            c.expected ? std::optional<QDateTime>(clock.now().addDays(*c.expected)) : std::nullopt;
        EXPECT_EQ(remindAfter(), expected) << (c.days ? c.days : "absent");
    }
}

TEST_F(UpdateFlowTest, MalformedAnswersAndFailuresAreDroppedSilently)
{
    make();
    const QByteArray answers[] = {
        R"({"title":"Korvala 2.0","updateUrl":"https://example.test/get"})",
        R"({"status":"optional","remindAfterDays":"7"})",
        R"({"status":7})",
        R"([])",
    };
    for (const QByteArray& body : answers) {
        answer(body);
        check();
    }
    answer(R"({"message":"нет"})", 500);
    check();
    answer(R"({"status":"required"})", 401);
    check();
    EXPECT_FALSE(controller->updates().offer());
    EXPECT_TRUE(alerts->shown.empty());
    EXPECT_EQ(controller->statusLine(), "Готов к записи");
    EXPECT_TRUE(journal->messages(errorPriority).isEmpty());
    EXPECT_EQ(requestsTo("versions/check").size(), std::size(answers) + 2);
}

TEST_F(UpdateFlowTest, OnlyWebAddressesAreOpened)
{
    const char* refused[] = {
        "file:///etc/passwd", "korvala-helper://run?cmd=rm", "javascript:alert(1)", "http://", "::not a url::", "",
    };
    for (const char* address : refused) {
        make();
        answer(QStringLiteral(R"({"status":"required","updateUrl":"%1"})").arg(address).toUtf8());
        check();
        EXPECT_EQ(alerts->shown.size(), 1u) << address;
        EXPECT_EQ(titles()[2], "Есть обновление — скачать…") << "the offer itself stands: " << address;
        controller->updates().openUpdate();
        EXPECT_TRUE(workspace->openedUrls.empty()) << address;
    }
    EXPECT_EQ(journal->messages(errorPriority).size(), qsizetype(2 * std::size(refused))) << "each refusal is logged";

    make();
    answer(R"({"status":"optional","updateUrl":"HTTPS://example.test/Korvala%202.0.deb"})");
    check();
    EXPECT_EQ(workspace->openedUrls, std::vector<QUrl>{QUrl("https://example.test/Korvala%202.0.deb")});

    make();
    answer(R"({"status":"optional"})");
    check();
    controller->updates().openUpdate();
    EXPECT_TRUE(workspace->openedUrls.empty()) << "no address, nothing to open";
}

} // namespace

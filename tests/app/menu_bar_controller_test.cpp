#include "app/menu_bar_controller.h"

#include "app/recording_flow.h"
#include "app/tray_icon.h"
#include "core/described_error.h"
#include "platform/settings_places.h"
#include "service/sign_in_flow.h"
#include "service/sign_in_window.h"
#include "service/update_flow.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/killed_recording.h"
#include "tests/support/shown_text.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>

#include <stdexcept>

namespace {

class NamedFailure final : public DescribedError {
public:
    NamedFailure(QString name, QString text) : name_(std::move(name)), text_(std::move(text)) {}
    QString description() const override { return text_; }
    QString debugName() const override { return name_; }

private:
    QString name_;
    QString text_;
};

class MenuBarControllerTest : public ControllerTest {
protected:
    // Starts or stops an audio recording of the controller's recorder on its
    // fake microphone and fake sound.
    void setRecording(bool on)
    {
        Recorder& recorder = controller->recording().recorder();
        if (on && !recorder.isRecording())
            QCoro::waitFor(recorder.start(CaptureTarget::audioOnly()));
        if (!on && recorder.isRecording())
            QCoro::waitFor(recorder.stop());
        ASSERT_EQ(recorder.isRecording(), on);
    }

    QStringList titles() { return controller->menuLines(); }

    bool shot = false;
};

const QStringList tail = {"---", "Мои расшифровки…", "Папка с записями…", "---", "Выйти"};

TEST_F(MenuBarControllerTest, MenuLayoutFollowsSignInRecordingAndTheEditor)
{
    hasShot = [this] { return shot; };
    make();
    EXPECT_EQ(titles(), QStringList({"Готов к записи", "---", "Войти…"}) + tail) << "signed out";
    setRecording(true);
    EXPECT_EQ(titles(), QStringList({"Готов к записи", "---", "Войти…"}) + tail) << "signed out ignores the recorder";

    store().setToken(QString());
    EXPECT_EQ(titles(), QStringList({"Готов к записи", "---", "Остановить и отправить"}) + tail)
        << "an empty token counts as signed in";

    setRecording(false);
    store().setToken("secret");
    const QStringList idle = {"Готов к записи", "---", "Начать аудиозапись", "Начать видеозапись…", "---",
                              "Сделать снимок…"};
    EXPECT_EQ(titles(), idle + tail);

    shot = true;
    EXPECT_EQ(titles(), idle + QStringList{"Открыть снимок"} + tail);
}

// A menu shows "&&" as "&" and takes a lone "&" for the shortcut mark.
QString shownInMenu(const QAction* action)
{
    QString text = action->text();
    return text.replace("&&", QChar(0)).remove('&').replace(QChar(0), '&');
}

TEST_F(MenuBarControllerTest, OutsideTextShowsAsItselfInTheMenuAndTheTrayTooltip)
{
    make();
    controller->updates().setOffer(UpdateFlow::Offer{markupText, QString("https://example.test/get")});
    controller->showStatus(markupText);
    const QList<QAction*> actions = controller->menu().actions();
    ASSERT_GE(actions.size(), 3);
    EXPECT_EQ(shownInMenu(actions[0]), markupText);
    EXPECT_EQ(shownInMenu(actions[2]), markupText + " — скачать…");
    EXPECT_EQ(titles().mid(0, 3), QStringList({markupText, "---", markupText + " — скачать…"}));
    EXPECT_EQ(shownText(controller->toolTip()).remove(QChar(0x2060)), "Korvala — " + markupText);
}

TEST_F(MenuBarControllerTest, ShowRebuildsAClosedMenuButOnlyRetitlesAnOpenOne)
{
    make();
    store().setToken("secret");
    controller->showStatus("Вошли");
    EXPECT_EQ(titles().first(), "Вошли");
    EXPECT_EQ(titles()[2], "Начать аудиозапись") << "a closed menu is rebuilt from the new state";

    settings->remove("token");
    controller->menu().popup(QPoint(100, 100));
    ASSERT_TRUE(controller->isMenuOpen());
    const QList<QAction*> before = controller->menu().actions();
    EXPECT_EQ(titles()[2], "Войти…") << "opening rebuilds";

    store().setToken("secret");
    controller->showStatus("Осталось 120 минут");
    EXPECT_EQ(controller->menu().actions(), before) << "the items under the pointer stay";
    EXPECT_EQ(titles().first(), "Осталось 120 минут");
    EXPECT_EQ(titles()[2], "Войти…");

    controller->menu().hide();
    EXPECT_FALSE(controller->isMenuOpen());
    EXPECT_EQ(titles()[2], "Начать аудиозапись") << "closing rebuilds";
}

TEST_F(MenuBarControllerTest, AMenuWhoseCloseWasNeverReportedIsRebuiltAgainInTheEnd)
{
    make();
    // A host that shows the menu itself reports the open but, here, never the close.
    emit controller->menu().aboutToShow();
    ASSERT_TRUE(controller->isMenuOpen());

    store().setToken("secret");
    controller->showStatus("Вошли");
    EXPECT_EQ(titles()[2], "Войти…") << "a menu just opened keeps its items";
    // A command from outside goes by what the menu offers now (GNOME's host
    // draws the menu itself and never reports the close).
    EXPECT_EQ(controller->trigger("sign-in"), MenuBarController::CommandOutcome::notOffered);

    clock.advance(MenuBarController::lostCloseSeconds + 1);
    controller->showStatus("Осталось 120 минут");
    EXPECT_FALSE(controller->isMenuOpen());
    EXPECT_EQ(titles()[2], "Начать аудиозапись");
}

TEST_F(MenuBarControllerTest, ReportShowsOneAlertAndOffersSettingsOnlyForDeniedAccess)
{
    make();
    controller->report(std::runtime_error("сеть недоступна"));
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].informativeText, "сеть недоступна");
    EXPECT_EQ(alerts->shown[0].buttons.size(), 1);
    EXPECT_EQ(controller->statusLine(), "сеть недоступна");
    EXPECT_TRUE(journal->messages(errorPriority).last().startsWith("ошибка: "));

    controller->report(NamedFailure("Api.Failure.transport", "Нет связи с сервером"));
    EXPECT_EQ(alerts->shown.back().buttons.size(), 1);
    EXPECT_EQ(journal->messages(errorPriority).last(), "ошибка: Api.Failure.transport | Нет связи с сервером");

    const char* denied = "Recorder.Failure.microphoneDenied";
    alerts->answerNext(Alerts::firstButton);
    controller->report(NamedFailure(denied, "Нет доступа"));
    EXPECT_EQ(alerts->shown.back().buttons.size(), 2);
    EXPECT_TRUE(workspace->openedSettings.empty()) << "the first button opens nothing";

    alerts->answerNext(Alerts::secondButton);
    controller->report(NamedFailure(denied, "Нет доступа"));
    EXPECT_EQ(workspace->openedSettings, std::vector<Workspace::SettingsPane>{Workspace::SettingsPane::soundInput});
    EXPECT_EQ(controller->statusLine(), "Нет доступа");

    // A desktop without a settings program is told in an alert, which no
    // clock tick overwrites, with where to look.
    workspace->succeeds = false;
    alerts->answerNext(Alerts::secondButton);
    const size_t before = alerts->shown.size();
    controller->report(NamedFailure(denied, "Нет доступа к микрофону"));
    ASSERT_EQ(alerts->shown.size(), before + 2);
    EXPECT_EQ(alerts->shown.back().informativeText, settingsPlace(Workspace::SettingsPane::soundInput).byHand);
    EXPECT_EQ(controller->statusLine(), "Нет доступа к микрофону");
}

TEST_F(MenuBarControllerTest, CommandsRunOnlyWhatTheMenuOffersAndAfterTheCallerIsAnswered)
{
    make();
    EXPECT_EQ(controller->trigger("stop"), MenuBarController::CommandOutcome::notOffered);
    EXPECT_EQ(controller->trigger("reveal-shot"), MenuBarController::CommandOutcome::notOffered);
    EXPECT_EQ(controller->trigger("format-disk"), MenuBarController::CommandOutcome::unknown);

    EXPECT_EQ(controller->trigger("sign-in"), MenuBarController::CommandOutcome::started);
    EXPECT_EQ(controller->signIn().window().window(), nullptr) << "the item runs from the event loop, not inside the call";
    EXPECT_TRUE(waitUntil([&] { return controller->signIn().window().window() != nullptr; }));
    EXPECT_TRUE(controller->signIn().window().window()->isVisible());

    // The command sees the state of now, not of the last time the menu was built.
    store().setToken("secret");
    settings->setValue("baseURL", "http://127.0.0.1:9/");
    setRecording(true);
    EXPECT_EQ(controller->trigger("stop"), MenuBarController::CommandOutcome::started);
    EXPECT_EQ(controller->trigger("sign-in"), MenuBarController::CommandOutcome::notOffered);

    QDialog alert;
    alert.setModal(true);
    alert.show();
    EXPECT_EQ(controller->trigger("stop"), MenuBarController::CommandOutcome::waitingForAnswer)
        << "no second flow starts under an alert that waits for its answer";
    alert.hide();

    EXPECT_EQ(controller->trigger("open-folder"), MenuBarController::CommandOutcome::started);
    EXPECT_TRUE(waitUntil([&] { return !workspace->openedFolders.isEmpty(); }));
    EXPECT_EQ(workspace->openedFolders, QStringList{store().recordingsDirectory()});

    // The stop ran for real: its silent tracks are finished and skipped
    // before the controller goes.
    EXPECT_TRUE(waitUntil([&] { return controller->statusLine().startsWith("Готово"); }));
}

TEST_F(MenuBarControllerTest, AClickOnAnItemSurvivesTheRebuildOfTheClosingMenu)
{
    make("secret");
    controller->menu().popup(QPoint(100, 100));
    QAction* folderItem = nullptr;
    for (QAction* action : controller->menu().actions()) {
        if (action->text() == "Папка с записями…")
            folderItem = action;
    }
    ASSERT_NE(folderItem, nullptr);
    // A click closes the menu first (which rebuilds it) and triggers the item after.
    controller->menu().hide();
    folderItem->trigger();
    EXPECT_TRUE(waitUntil([&] { return !workspace->openedFolders.isEmpty(); }));
}

TEST_F(MenuBarControllerTest, TrayShowsOurImageOrTheCircleDrawnInItsPlace)
{
    make();
    ASSERT_TRUE(QFile::exists(":/tray.png")) << "the image is linked into the program";
    const QImage expected = QImage(":/tray.png").convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(trayIcon(":/tray.png").pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32), expected);

    const QImage circle = trayIcon("/nonexistent/tray.png").pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(circle.isNull());
    const QColor middle = circle.pixelColor(32, 32);
    EXPECT_EQ(middle.alpha(), 255);
    EXPECT_LT(middle.lightness(), 80) << "a dark disc";
    EXPECT_EQ(circle.pixelColor(1, 1).alpha(), 0) << "corners stay clear";
    int light = 0;
    for (int x = 0; x < 64; ++x) {
        if (circle.pixelColor(x, 32).alpha() > 200 && circle.pixelColor(x, 32).lightness() > 200)
            ++light;
    }
    EXPECT_GT(light, 2) << "a light rim so that it reads on a dark panel";
}

using LaunchRecoveryTest = ServiceControllerTest;

// The panel of a session often brings its tray up a moment after the
// programs it starts: the user hears of a missing tray only when none came.
TEST_F(LaunchRecoveryTest, AMissingTrayIsToldOnlyWhenNoneCameAfterAFewSeconds)
{
    for (const bool trayComes : {true, false}) {
        SCOPED_TRACE(trayComes);
        bool tray = false;
        trayAvailable = [&tray] { return tray; };
        make();
        const QStringList before = journal->messages(3);
        controller->launch();
        EXPECT_EQ(journal->messages(3), before) << "nothing is told at once";
        clock.advance(MenuBarController::trayWaitSeconds - 0.5);
        tray = trayComes;
        clock.advance(1);
        const QStringList told = journal->messages(3).mid(before.size());
        EXPECT_EQ(told.size(), trayComes ? 0 : 1) << told.join('\n').toStdString();
    }
}

// A recording killed in an earlier run is finished at the launch and named
// once in an alert; only a signed-in user is offered the sending, which goes
// as after a stop.
TEST_F(LaunchRecoveryTest, AKilledRecordingIsNamedOnceAtLaunchAndSentOnlyWhenSignedIn)
{
    for (const bool signedIn : {false, true}) {
        SCOPED_TRACE(signedIn);
        make(signedIn ? std::optional<QString>("tok") : std::nullopt);
        const QDir folder(store().recordingsDirectory());
        ASSERT_TRUE(folder.mkpath("."));
        const QString base = signedIn ? "vstrecha-2026-12-05-1415" : "vstrecha-2026-12-04-0930";
        ASSERT_TRUE(killRecordingAfter(folder.filePath(base + "-mikrofon.m4a"), folder.filePath(base + "-ekran.mp4"), 2));
        controller->launch();
        const auto named = [&](const QString& text) {
            return std::count_if(alerts->shown.begin(), alerts->shown.end(),
                                 [&](const Alerts::Alert& alert) { return alert.informativeText.contains(text); });
        };
        ASSERT_TRUE(waitUntil([&] { return named(base) == 1; }, 30000));
        EXPECT_EQ(named("vstrecha-"), 1) << "the recording of the earlier launch is not named again";
        if (signedIn)
            EXPECT_TRUE(waitUntil([&] { return requestsTo("rasshifrovka").size() == 1; })) << "the microphone track";
        else
            EXPECT_TRUE(requestsTo("rasshifrovka").empty());
    }
}

} // namespace

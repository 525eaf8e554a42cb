#include "shots/screenshot_flow.h"

#include "app/toast.h"
#include "shots/area_selector.h"
#include "shots/selection_view.h"
#include "shots/shot_canvas.h"
#include "shots/shot_preview_parts.h"
#include "shots/shot_preview_window.h"
#include "shots/share_flow.h"

#include "tests/shots/pictures.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/dev_service.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

namespace {

// The text of the notice on screen now, if any.
QString noticeText()
{
    QWidget* panel = Toast::panel();
    if (!panel || !panel->isVisible())
        return {};
    const auto* label = panel->findChild<QLabel*>();
    return label ? label->text() : QString();
}

class ScreenshotFlowTest : public ControllerTest {
protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        QGuiApplication::clipboard()->setText("было до снимка");
        // The area cut from the display at twice its size in points, as the
        // capture gives it.
        captureArea = [this](const SelectedArea& area) -> QCoro::Task<std::optional<QImage>> {
            ++captures;
            const QImage display = pictures::gradient(3840, 2160);
            const auto part = Screenshot::crop(display.size(), area);
            if (captureFails || !part)
                co_return std::nullopt;
            co_return display.copy(*part);
        };
    }

    ScreenshotFlow& flow() { return controller->screenshots(); }

    // Drags out an area on a screen (the first one unless told), in its points.
    void select(QRect area, int screen = 0)
    {
        const auto windows = flow().areaSelector().windows();
        ASSERT_GT(windows.size(), screen);
        SelectionView* view = windows[screen];
        QTest::mousePress(view, Qt::LeftButton, {}, area.topLeft());
        QTest::mouseMove(view, area.center());
        QTest::mouseMove(view, area.bottomRight());
        QTest::mouseRelease(view, Qt::LeftButton, {}, area.bottomRight());
    }

    // From the menu command to the editor on screen.
    ShotPreviewWindow& openEditor(QRect area = QRect(100, 100, 101, 51), int screen = 0)
    {
        flow().takeScreenshot();
        select(area, screen);
        clock.advance(0.12);
        clock.advance(ShotPreviewWindow::buildDelay);
        return flow().shotPreview();
    }

    QString recordings() { return store().recordingsDirectory(); }

    int captures = 0;
    bool captureFails = false;
};

} // namespace

TEST_F(ScreenshotFlowTest, ACancelledSelectionChangesNothing)
{
    make("token");
    const QString status = controller->statusLine();
    flow().takeScreenshot();
    const auto windows = flow().areaSelector().windows();
    ASSERT_FALSE(windows.isEmpty());
    QTest::keyClick(windows.first(), Qt::Key_Escape);
    clock.advance(1);
    EXPECT_EQ(captures, 0);
    EXPECT_EQ(controller->statusLine(), status);
    EXPECT_TRUE(alerts->shown.empty());
    EXPECT_FALSE(controller->menuLines().contains("Открыть снимок"));
}

TEST_F(ScreenshotFlowTest, TheSelectedAreaReachesTheEditorAtTwiceItsSize)
{
    make("token");
    ShotPreviewWindow& preview = openEditor(QRect(100, 100, 101, 51));
    // A 100 × 50-point drag (the release pixel included) is 200 × 100 pixels,
    // starting at pixel (200, 200) of the display.
    ASSERT_NE(preview.canvas(), nullptr);
    const QImage& shot = preview.canvas()->bitmap();
    EXPECT_EQ(shot.size(), QSize(200, 100));
    EXPECT_EQ(shot.pixel(0, 0), pictures::gradient(3840, 2160).pixel(200, 200));
    EXPECT_TRUE(controller->menuLines().contains("Открыть снимок"));

    // Hidden behind other windows, "Открыть снимок" brings it back.
    preview.window()->hide();
    EXPECT_EQ(controller->trigger("reveal-shot"), MenuBarController::CommandOutcome::started);
    QCoreApplication::processEvents();
    EXPECT_TRUE(preview.window()->isVisible());
    EXPECT_EQ(workspace->activationPolicy(), Workspace::ActivationPolicy::regular);
}

TEST_F(ScreenshotFlowTest, TheEditorOpensOnTheScreenOfTheShotAndFitsItsUsableArea)
{
    make("token");
    // Nearly the whole height of the lower second screen.
    const QWidget* editor = openEditor(QRect(20, 5, 700, 890), 1).window();
    ASSERT_NE(editor, nullptr);
    const QScreen* second = QGuiApplication::screens().at(1);
    EXPECT_EQ(editor->screen(), second);
    EXPECT_TRUE(second->availableGeometry().contains(editor->frameGeometry()))
        << editor->frameGeometry().height() << " high on a screen of " << second->availableGeometry().height();
}

TEST_F(ScreenshotFlowTest, ClipboardDeliveryLeavesTheFolderAloneAndFileDeliveryCreatesItAndRevealsTheFile)
{
    make("token");
    openEditor().finish(Screenshot::Destination::clipboard);
    EXPECT_EQ(controller->statusLine(), "Снимок в буфере — вставляйте");
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(200, 100));
    EXPECT_FALSE(QFileInfo::exists(recordings()));
    EXPECT_TRUE(workspace->revealedFiles.isEmpty());
    EXPECT_FALSE(controller->menuLines().contains("Открыть снимок"));

    openEditor().finish(Screenshot::Destination::file);
    ASSERT_EQ(workspace->revealedFiles.size(), 1);
    const QString path = workspace->revealedFiles.first();
    EXPECT_EQ(QFileInfo(path).absolutePath(), recordings());
    EXPECT_EQ(QImage(path).size(), QSize(200, 100));
    EXPECT_EQ(controller->statusLine(), "Снимок сохранён: " + QFileInfo(path).fileName());
}

TEST_F(ScreenshotFlowTest, FailuresAreReported)
{
    // The capture gives nothing, on its retry too.
    make("token");
    captureFails = true;
    openEditor();
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(controller->statusLine(), "Не удалось снять экран. Проверьте доступ к записи экрана в настройках.");
    EXPECT_FALSE(flow().shotPreview().holdsPicture());

    // The folder cannot be made: a file stands where it should be.
    captureFails = false;
    QDir().mkpath(folder.filePath("Documents"));
    QFile blocker(recordings());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    openEditor().finish(Screenshot::Destination::file);
    ASSERT_EQ(alerts->shown.size(), 2u);
    EXPECT_TRUE(controller->statusLine().startsWith("Снимок сделан, но не сохранился: "));
    EXPECT_TRUE(workspace->revealedFiles.isEmpty());
}

TEST_F(ScreenshotFlowTest, ThePillStartsANewSelection)
{
    make("token");
    ShotPreviewWindow& preview = openEditor();
    QTest::mouseClick(preview.retakeButton(), Qt::LeftButton);
    EXPECT_FALSE(preview.holdsPicture());
    select(QRect(300, 300, 51, 51));
    clock.advance(0.12);
    clock.advance(ShotPreviewWindow::buildDelay);
    ASSERT_TRUE(preview.holdsPicture());
    EXPECT_EQ(preview.canvas()->bitmap().size(), QSize(100, 100));
}

TEST_F(ScreenshotFlowTest, SharingWithoutSigningInSendsNothing)
{
    make(std::nullopt);
    controller->sharing().share(pictures::plain(20, 10, Qt::red));
    ASSERT_EQ(alerts->shown.size(), 1u);
    const QString refusal = "Чтобы делиться ссылкой, войдите в аккаунт — пункт «Войти…» в меню.";
    EXPECT_EQ(alerts->shown[0].informativeText, refusal);
    EXPECT_EQ(controller->statusLine(), refusal);
    EXPECT_NE(noticeText(), "Отправляем снимок…");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "было до снимка");
}

TEST_F(ScreenshotFlowTest, SharingPutsTheLinkOnTheClipboardAndOpensOnlyWebAddresses)
{
    DevServiceProcess service;
    ASSERT_TRUE(service.started());
    make("secret", service.baseURL());

    service.script("POST", "/api/v1/snimki", 200,
                   R"({"data":{"link":"https://korvala.example/s/abc","image":"https://korvala.example/i/abc.png","days":"7 дней"}})");
    controller->sharing().share(pictures::plain(20, 10, Qt::red));
    EXPECT_EQ(noticeText(), "Отправляем снимок…");
    ASSERT_TRUE(waitUntil([&] { return controller->statusLine() == "Ссылка на снимок в буфере — вставляйте"; }, 10000));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://korvala.example/s/abc");
    EXPECT_EQ(noticeText(), "Ссылка скопирована · действует 7 дней");
    ASSERT_EQ(workspace->openedUrls.size(), 1u);
    EXPECT_EQ(workspace->openedUrls[0], QUrl("https://korvala.example/s/abc"));
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Authorization").value_or(""), "Bearer secret");
    EXPECT_TRUE(requests[0].body.contains("filename=\"shot.png\"\r\nContent-Type: image/png\r\n\r\n\x89PNG"));

    // A link that is no web address is copied but never opened.
    for (const char* odd : {"file:///etc/passwd", "javascript:alert(1)", "не ссылка"}) {
        controller->showStatus("—");
        service.script("POST", "/api/v1/snimki", 200,
                       QByteArray(R"({"data":{"link":")") + odd + R"(","image":"i","days":"3 дня"}})");
        controller->sharing().share(pictures::plain(20, 10, Qt::red));
        ASSERT_TRUE(waitUntil([&] { return controller->statusLine() == "Ссылка на снимок в буфере — вставляйте"; }, 10000));
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8(odd));
        EXPECT_EQ(noticeText(), "Ссылка скопирована · действует 3 дня");
    }
    EXPECT_EQ(workspace->openedUrls.size(), 1u);
    EXPECT_TRUE(alerts->shown.empty());
}

TEST_F(ScreenshotFlowTest, AnUndecodableAnswerIsReportedAndLeavesTheClipboard)
{
    DevServiceProcess service;
    ASSERT_TRUE(service.started());
    make("secret", service.baseURL());
    // "days" as a number does not decode.
    service.script("POST", "/api/v1/snimki", 200, R"({"data":{"link":"https://x.example/s","image":"i","days":7}})");
    controller->sharing().share(pictures::plain(20, 10, Qt::red));
    ASSERT_TRUE(waitUntil([&] { return !alerts->shown.empty(); }, 10000));
    EXPECT_EQ(alerts->shown[0].informativeText, "сервер ответил неожиданным образом");
    EXPECT_EQ(noticeText(), "Не удалось поделиться");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "было до снимка");
    EXPECT_TRUE(workspace->openedUrls.empty());
}

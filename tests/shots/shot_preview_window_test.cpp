#include "shots/shot_canvas.h"
#include "shots/shot_preview_layout.h"
#include "shots/shot_preview_parts.h"
#include "shots/shot_preview_window.h"

#include "tests/shots/canvas_driver.h"
#include "tests/shots/pictures.h"
#include "tests/support/fake_workspace.h"
#include "tests/support/manual_clock.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace Layout = ShotPreviewLayout;

TEST(ShotPreviewLayout, SizesFollowTheScreenAndThePicturesShape)
{
    // A Retina-sized shot on an 875-point screen: shown at half width.
    const Layout::Sizes wide = Layout::sizes(QSize(2880, 1800), 875);
    EXPECT_DOUBLE_EQ(wide.maxH, 755);
    EXPECT_DOUBLE_EQ(wide.imageWidth, 960);
    EXPECT_DOUBLE_EQ(wide.imageHeight, 600);
    EXPECT_DOUBLE_EQ(wide.shownHeight, 600);
    EXPECT_DOUBLE_EQ(wide.contentWidth, 1012);
    EXPECT_DOUBLE_EQ(wide.contentHeight(), 664);
    EXPECT_FALSE(wide.scrolls);

    // A tall strip keeps half its width and scrolls.
    const Layout::Sizes tall = Layout::sizes(QSize(400, 3000), 875);
    EXPECT_DOUBLE_EQ(tall.imageWidth, 200);
    EXPECT_DOUBLE_EQ(tall.imageHeight, 1500);
    EXPECT_DOUBLE_EQ(tall.shownHeight, 755);
    EXPECT_DOUBLE_EQ(tall.contentWidth, 720);
    EXPECT_TRUE(tall.scrolls);
    EXPECT_EQ(Layout::scrollFrame(tall), QRectF(52 + (720 - 52 - 200) / 2, 64, 200, 755));

    // A shot too high for the screen is fitted to the height budget.
    const Layout::Sizes fitted = Layout::sizes(QSize(2000, 1800), 875);
    EXPECT_NEAR(fitted.imageHeight, 755, 1e-9);
    EXPECT_NEAR(fitted.imageWidth, 755 / 0.9, 1e-9);

    // No screen: 680 points; a tiny screen still gets 360.
    EXPECT_DOUBLE_EQ(Layout::sizes(QSize(100, 100), std::nullopt).maxH, 680);
    EXPECT_DOUBLE_EQ(Layout::sizes(QSize(100, 100), 200).maxH, 360);
    // A small shot still gets a usable window, centred in it.
    const Layout::Sizes small = Layout::sizes(QSize(100, 40), 875);
    EXPECT_DOUBLE_EQ(small.shown, 480);
    EXPECT_EQ(Layout::scrollFrame(small), QRectF(52 + (720 - 52 - 50) / 2, 64 + (480 - 20) / 2, 50, 20));
    // An empty picture neither divides by zero nor scrolls.
    const Layout::Sizes empty = Layout::sizes(QSize(0, 0), 875);
    EXPECT_DOUBLE_EQ(empty.imageWidth, 0);
    EXPECT_FALSE(empty.scrolls);
}

TEST(ShotPreviewLayout, SizeLabelShowsTheZoomOnlyAwayFromHalfWidth)
{
    EXPECT_EQ(Layout::sizeLabel(QSize(3024, 1964), 1000), QString::fromUtf8("3024 × 1964  ·  66%"));
    EXPECT_EQ(Layout::sizeLabel(QSize(2880, 1800), 1440), QString::fromUtf8("2880 × 1800"));
    EXPECT_EQ(Layout::sizeLabel(QSize(1000, 500), 495), QString::fromUtf8("1000 × 500")) << "one percent off";
    EXPECT_EQ(Layout::sizeLabel(QSize(1000, 500), 490), QString::fromUtf8("1000 × 500  ·  98%"));
}

TEST(ShotPreviewLayout, StripPopoversAndBarHaveTheirPlaces)
{
    const Layout::Strip strip = Layout::strip(600);
    // y0 = (600 + 348) / 2 − 42 = 432, then 40 lower each.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(strip.tools[i], QRectF(8, 432 - 40 * i, 36, 36));
    EXPECT_EQ(strip.firstSeparator, QRectF(8, 262, 36, 1));
    EXPECT_EQ(strip.colorWell, QRectF(8, 220, 36, 36));
    EXPECT_EQ(strip.weightWell, QRectF(8, 180, 36, 36));
    EXPECT_EQ(strip.secondSeparator, QRectF(8, 170, 36, 1));
    EXPECT_EQ(strip.undo, QRectF(8, 128, 36, 36));

    EXPECT_EQ(Layout::colorChoiceFrame(0), QRectF(6, 40, 34, 34));
    EXPECT_EQ(Layout::colorChoiceFrame(7), QRectF(108, 6, 34, 34));
    EXPECT_EQ(Layout::weightChoiceFrame(0), QRectF(6, 142, 34, 34));
    EXPECT_EQ(Layout::weightChoiceFrame(4), QRectF(6, 6, 34, 34));

    EXPECT_EQ(Layout::flipped(QRectF(8, 432, 36, 36), 600), QRectF(8, 132, 36, 36));
}

namespace {

class ShotPreviewWindowTest : public ::testing::Test {
protected:
    struct Delivery {
        QImage picture;
        Screenshot::Destination destination;
    };

    // Shows `bitmap` and builds its window; deliveries land in `delivered`.
    QWidget* open(const QImage& bitmap)
    {
        preview.show(bitmap, [this](QImage picture, Screenshot::Destination destination) {
            delivered.push_back({picture, destination});
        });
        clock.advance(ShotPreviewWindow::buildDelay);
        return preview.window();
    }

    template <typename T>
    QList<T*> all(QWidget* root)
    {
        return root->findChildren<T*>();
    }

    QPushButton* delivery(const QString& title)
    {
        for (QPushButton* button : all<QPushButton>(preview.window()))
            if (button->text() == title)
                return button;
        return nullptr;
    }

    ManualClock clock;
    FakeWorkspace workspace;
    ShotPreviewWindow preview{workspace, clock, [] { return std::optional<double>(875); }};
    std::vector<Delivery> delivered;
};

} // namespace

TEST_F(ShotPreviewWindowTest, BuildsAfterTheDelayWithTheLaidOutParts)
{
    preview.show(pictures::gradient(2880, 1800), [](QImage, Screenshot::Destination) {});
    EXPECT_EQ(workspace.activationPolicy(), Workspace::ActivationPolicy::regular);
    EXPECT_EQ(preview.window(), nullptr) << "nothing is built before 0.15 s";
    clock.advance(0.1);
    EXPECT_EQ(preview.window(), nullptr);
    clock.advance(0.05);
    QWidget* window = preview.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Korvala");
    EXPECT_EQ(window->size(), QSize(1012, 664 + int(Layout::headerHeight)));

    const int header = int(Layout::headerHeight);
    // The bar's buttons, in window coordinates: y = header + 600 + (64 − 16 − 32).
    struct Expected {
        QString title, tip;
        QRect frame;
    } expected[] = {
        {"Сохранить в файл", "Сохранить в папку с записями (Ctrl+S)", QRect(492, header + 616, 156, 32)},
        {"Копировать", "Положить снимок в буфер обмена (Ctrl+C)", QRect(656, header + 616, 140, 32)},
        {"Поделиться ссылкой", "Отправить на сервер, ссылку — в буфер и в браузер (⏎)",
         QRect(804, header + 616, 192, 32)},
    };
    for (const Expected& e : expected) {
        QPushButton* button = delivery(e.title);
        ASSERT_NE(button, nullptr) << e.title.toStdString();
        EXPECT_EQ(QRect(button->mapTo(window, QPoint(0, 0)), button->size()), e.frame) << e.title.toStdString();
        EXPECT_EQ(button->toolTip(), e.tip);
    }

    auto* label = window->findChild<QLabel*>("sizeLabel");
    ASSERT_NE(label, nullptr);
    // Shown 960 wide, not 1440.
    EXPECT_EQ(label->text(), QString::fromUtf8("2880 × 1800  ·  67%"));

    // The canvas at its shown size in a scroll view right of the strip.
    ShotCanvas* canvas = preview.canvas();
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->size(), QSize(960, 600));
    auto* scroll = window->findChild<QScrollArea*>();
    EXPECT_EQ(QRect(scroll->mapTo(window, QPoint(0, 0)), scroll->size()), QRect(52, header, 960, 600));

    // Tool buttons top to bottom, then the wells and undo.
    ASSERT_EQ(preview.toolButtons().size(), 5);
    const QStringList tips{"Стрелка", "Карандаш", "Рамка", "Замазка", "Текст"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(preview.toolButtons()[i]->toolTip(), tips[i]);
        EXPECT_EQ(preview.toolButtons()[i]->mapTo(window, QPoint(0, 0)), QPoint(8, header + 132 + 40 * i));
    }
    EXPECT_EQ(preview.colorWell()->toolTip(), "Цвет пометок");
    EXPECT_EQ(preview.weightWell()->toolTip(), "Толщина линий");
    EXPECT_EQ(preview.undoButton()->toolTip(), "Убрать последнюю пометку (Ctrl+Z)");
    EXPECT_EQ(preview.retakeButton()->title(), "Снимок экрана");
    EXPECT_EQ(preview.retakeButton()->size(), QSize(200, 30));
    EXPECT_EQ(preview.retakeButton()->mapTo(window, QPoint(0, 0)).x(), (1012 - 200) / 2);
}

TEST_F(ShotPreviewWindowTest, ATallShotScrollsFromItsTop)
{
    QWidget* window = open(pictures::gradient(400, 3000));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->width(), 720);
    auto* scroll = window->findChild<QScrollArea*>();
    EXPECT_EQ(scroll->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(scroll->verticalScrollBar()->value(), 0);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(preview.canvas()->size(), QSize(200, 1500));
}

TEST_F(ShotPreviewWindowTest, ANewerShotCancelsTheOlderPendingBuild)
{
    QWidget* first = open(pictures::plain(200, 100, Qt::red));
    ASSERT_NE(first, nullptr);
    preview.show(pictures::plain(300, 100, Qt::green), [](QImage, Screenshot::Destination) {});
    preview.show(pictures::plain(400, 100, Qt::blue), [](QImage, Screenshot::Destination) {});
    EXPECT_EQ(preview.window(), nullptr);
    clock.advance(ShotPreviewWindow::buildDelay);
    ASSERT_NE(preview.window(), nullptr);
    EXPECT_EQ(preview.canvas()->bitmap().width(), 400);
    int shown = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->windowTitle() == "Korvala")
            ++shown;
    EXPECT_EQ(shown, 1) << "the older windows are out";

    // Closing an older window while a newer shot waits leaves the newer one alone.
    QWidget* second = preview.window();
    preview.show(pictures::plain(500, 100, Qt::blue), [](QImage, Screenshot::Destination) {});
    second->close();
    EXPECT_TRUE(preview.bitmap());
    clock.advance(ShotPreviewWindow::buildDelay);
    EXPECT_TRUE(preview.holdsPicture());
}

TEST_F(ShotPreviewWindowTest, ToolButtonsShowTheSelectedToolAndIgnoreUnknownTags)
{
    open(pictures::plain(800, 600, Qt::white));
    EXPECT_TRUE(preview.toolButtons()[0]->selected());
    QTest::mouseClick(preview.toolButtons()[2], Qt::LeftButton);
    EXPECT_EQ(preview.canvas()->tool(), ShotTool::box);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(preview.toolButtons()[i]->selected(), i == 2);

    preview.pickTool(5);
    preview.pickTool(-1);
    EXPECT_EQ(preview.canvas()->tool(), ShotTool::box);
    EXPECT_TRUE(preview.toolButtons()[2]->selected());

    // The selected one is drawn on grey 111.
    const QImage picture = preview.toolButtons()[2]->grab().toImage();
    EXPECT_EQ(QColor(picture.pixel(18, 2)), QColor(111, 111, 111));
}

TEST_F(ShotPreviewWindowTest, PopoverChoicesSetTheCanvasAndTheWellsAndOutliveTheShot)
{
    open(pictures::plain(800, 600, Qt::white));
    const QImage redWell = preview.colorWell()->picture();

    QTest::mouseClick(preview.colorWell(), Qt::LeftButton);
    QWidget* popover = preview.popover();
    ASSERT_NE(popover, nullptr);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(popover->size(), QSize(148, 80));
    auto* purple = popover->findChild<StripButton*>("color5");
    ASSERT_NE(purple, nullptr);
    EXPECT_EQ(purple->toolTip(), "Фиолетовый");
    EXPECT_EQ(purple->geometry(), QRect(40, 40, 34, 34));
    QTest::mouseClick(purple, Qt::LeftButton);
    EXPECT_EQ(preview.canvas()->color(), ShotColor::purple);
    EXPECT_EQ(preview.canvasColor(), ShotColor::purple);
    EXPECT_NE(preview.colorWell()->picture(), redWell);
    EXPECT_TRUE(!preview.popover() || !preview.popover()->isVisible());

    QTest::mouseClick(preview.weightWell(), Qt::LeftButton);
    ASSERT_NE(preview.popover(), nullptr);
    EXPECT_EQ(preview.popover()->size(), QSize(46, 182));
    auto* heavy = preview.popover()->findChild<StripButton*>("weight4");
    EXPECT_EQ(heavy->toolTip(), "Очень толсто");
    QTest::mouseClick(heavy, Qt::LeftButton);
    EXPECT_EQ(preview.canvas()->weight(), ShotWeight::heavy);

    preview.chooseColor(8);
    preview.chooseWeight(5);
    EXPECT_EQ(preview.canvasColor(), ShotColor::purple);
    EXPECT_EQ(preview.canvasWeight(), ShotWeight::heavy);

    // The next shot's canvas starts where the wells are.
    open(pictures::plain(800, 600, Qt::white));
    EXPECT_EQ(preview.canvas()->color(), ShotColor::purple);
    EXPECT_EQ(preview.canvas()->weight(), ShotWeight::heavy);
}

TEST_F(ShotPreviewWindowTest, ThePillRetakesOnlyWhenReleasedOverIt)
{
    int retakes = 0;
    preview.setOnRetake([&] { ++retakes; });
    open(pictures::plain(800, 600, Qt::white));
    ShotButton* pill = preview.retakeButton();

    QTest::mousePress(pill, Qt::LeftButton, {}, QPoint(100, 15));
    EXPECT_TRUE(pill->pressed());
    QTest::mouseRelease(pill, Qt::LeftButton, {}, QPoint(260, 15));
    EXPECT_FALSE(pill->pressed());
    EXPECT_EQ(retakes, 0);
    EXPECT_TRUE(preview.bitmap());

    QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(100, 15));
    EXPECT_EQ(retakes, 1);
    EXPECT_FALSE(preview.bitmap()) << "the shot is dropped";
    EXPECT_FALSE(preview.window()->isVisible());
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(workspace.activationPolicy(), Workspace::ActivationPolicy::accessory);
}

TEST_F(ShotPreviewWindowTest, ClosingTheWindowDeliversNothing)
{
    QWidget* window = open(pictures::plain(800, 600, Qt::white));
    ASSERT_TRUE(preview.holdsPicture());
    window->close();
    EXPECT_FALSE(preview.holdsPicture());
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(workspace.activationPolicy(), Workspace::ActivationPolicy::accessory);
    // Keys reach the closed editor no more.
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(delivered.empty());
}

TEST_F(ShotPreviewWindowTest, KeysDeliverAndReturnFirstCommitsAnOpenTextField)
{
    // Ctrl+S with a text field open commits the text into the saved picture.
    open(pictures::plain(800, 600, Qt::white));
    ShotCanvas& canvas = *preview.canvas();
    preview.pickTool(int(ShotTool::text));
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, driver::at(canvas, QPointF(50, 250)));
    ASSERT_NE(canvas.editor(), nullptr);
    driver::typeText(canvas.editor(), "Привет");
    // Return while typing belongs to the field, not to sharing.
    QTest::keyClick(canvas.editor(), Qt::Key_Return);
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(canvas.marks().size(), 1);

    QTest::mouseClick(&canvas, Qt::LeftButton, {}, driver::at(canvas, QPointF(50, 150)));
    driver::typeText(canvas.editor(), "мир");
    QTest::keyClick(canvas.editor(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].destination, Screenshot::Destination::file);
    EXPECT_EQ(delivered[0].picture.size(), QSize(800, 600));
    EXPECT_EQ(canvas.marks().size(), 2) << "the open field was committed";
    EXPECT_NE(delivered[0].picture.convertToFormat(QImage::Format_RGB32), pictures::plain(800, 600, Qt::white));
    EXPECT_FALSE(preview.window()->isVisible());
    EXPECT_FALSE(preview.bitmap());

    // Ctrl+Z undoes, Ctrl+C copies, Return shares.
    open(pictures::plain(400, 300, Qt::white));
    driver::drag(*preview.canvas(), ShotTool::box, {20, 20}, {100, 100});
    ASSERT_EQ(preview.canvas()->marks().size(), 1);
    QTest::keyClick(preview.canvas(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(preview.canvas()->marks().isEmpty());
    QTest::keyClick(preview.canvas(), Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].destination, Screenshot::Destination::clipboard);
    EXPECT_EQ(delivered[1].picture.size(), QSize(400, 300));

    open(pictures::plain(400, 300, Qt::white));
    QTest::keyClick(preview.canvas(), Qt::Key_Return);
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[2].destination, Screenshot::Destination::link);

    // A delivery button does the same as its key.
    open(pictures::plain(400, 300, Qt::white));
    QTest::mouseClick(delivery("Сохранить в файл"), Qt::LeftButton);
    ASSERT_EQ(delivered.size(), 4u);
    EXPECT_EQ(delivered[3].destination, Screenshot::Destination::file);
    // Nothing is left to deliver twice.
    preview.finish(Screenshot::Destination::clipboard);
    EXPECT_EQ(delivered.size(), 4u);
}

TEST(ShotPreviewParts, PaletteChoosesTheTonesAndWellsAreDrawnAsSpecified)
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QPalette light;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    light.setColor(QPalette::WindowText, QColor(10, 10, 10));
    EXPECT_TRUE(ShotAppearance::of(dark).dark);
    EXPECT_FALSE(ShotAppearance::of(light).dark);

    TonedView field(TonedView::Tone::field);
    field.resize(10, 10);
    field.setPalette(dark);
    EXPECT_EQ(QColor(field.grab().toImage().pixel(5, 5)), QColor(30, 30, 30));
    field.setPalette(light);
    EXPECT_EQ(QColor(field.grab().toImage().pixel(5, 5)), QColor(255, 255, 255));
    TonedView chrome(TonedView::Tone::chrome);
    chrome.resize(10, 10);
    chrome.setPalette(dark);
    EXPECT_EQ(QColor(chrome.grab().toImage().pixel(5, 5)), QColor(38, 38, 38));

    // The colour well: filled circle, grey outline, corner mark; at 1 pixel a point.
    const QImage well = wellImage(36, QColor(255, 0, 0), std::nullopt, true, ShotAppearance{false}, 1);
    EXPECT_EQ(well.size(), QSize(36, 36));
    EXPECT_EQ(QColor(well.pixel(18, 18)), QColor(255, 0, 0));
    EXPECT_EQ(qAlpha(well.pixel(2, 2)), 0);
    EXPECT_GT(qAlpha(well.pixel(33, 33)), 0) << "the corner mark";
    const QImage plainWell = wellImage(36, QColor(255, 0, 0), std::nullopt, false, ShotAppearance{false}, 1);
    EXPECT_EQ(qAlpha(plainWell.pixel(33, 33)), 0);
    // The weight well: white with a grey diagonal through the middle.
    const QImage weight = wellImage(36, Qt::white, 4, false, ShotAppearance{false}, 1);
    EXPECT_EQ(QColor(weight.pixel(18, 18)), QColor(125, 125, 125));
    EXPECT_LT(QColor(weight.pixel(13, 23)).red(), 180) << "rising to the right";
    EXPECT_LT(QColor(weight.pixel(23, 13)).red(), 180);
    EXPECT_EQ(QColor(weight.pixel(12, 12)), QColor(255, 255, 255));
}

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

TEST(ShotPreviewLayout, PicturesAreShownAtHalfWidthWithinTheHeightBudgetAndLabelledWithTheirZoom)
{
    struct Case {
        QSize pixels;
        double imageWidth, imageHeight;
        bool scrolls;
    } cases[] = {
        {{2880, 1800}, 960, 600, false},       // half width
        {{400, 3000}, 200, 1500, true},        // a tall strip keeps half its width and scrolls
        {{2000, 1800}, 755 / 0.9, 755, false}, // too high: fitted to the budget of an 875-point screen
        {{0, 0}, 0, 0, false},                 // no division by zero
    };
    for (const Case& c : cases) {
        const Layout::Sizes sizes = Layout::sizes(c.pixels, 875);
        EXPECT_NEAR(sizes.imageWidth, c.imageWidth, 1e-9) << c.pixels.width();
        EXPECT_NEAR(sizes.imageHeight, c.imageHeight, 1e-9) << c.pixels.width();
        EXPECT_EQ(sizes.scrolls, c.scrolls) << c.pixels.width();
        EXPECT_LE(Layout::scrollFrame(sizes).height(), sizes.shown);
    }
    EXPECT_GT(Layout::sizes(QSize(100, 100), 200).maxH, 200 - Layout::barHeight) << "a tiny screen keeps a usable budget";
    // The zoom shows only away from half width.
    EXPECT_EQ(Layout::sizeLabel(QSize(1000, 500), 495), QString::fromUtf8("1000 × 500")) << "one percent off";
    EXPECT_EQ(Layout::sizeLabel(QSize(1000, 500), 490), QString::fromUtf8("1000 × 500  ·  98%"));
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

    ManualClock clock;
    FakeWorkspace workspace;
    ShotPreviewWindow preview{workspace, clock, [](const QScreen*) { return std::optional<double>(875); }};
    std::vector<Delivery> delivered;
};

} // namespace

TEST_F(ShotPreviewWindowTest, BuildsAfterTheDelayWithTheCanvasAtItsShownSize)
{
    preview.show(pictures::gradient(2880, 1800), [](QImage, Screenshot::Destination) {});
    EXPECT_EQ(workspace.activationPolicy(), Workspace::ActivationPolicy::regular);
    clock.advance(ShotPreviewWindow::buildDelay - 0.01);
    EXPECT_EQ(preview.window(), nullptr) << "nothing is built before the delay";
    clock.advance(0.01);
    ASSERT_NE(preview.window(), nullptr);
    EXPECT_TRUE(preview.window()->isVisible());
    // Shown 960 wide, not 1440.
    EXPECT_EQ(preview.window()->findChild<QLabel*>("sizeLabel")->text(), QString::fromUtf8("2880 × 1800  ·  67%"));
    EXPECT_EQ(preview.canvas()->size(), QSize(960, 600));
}

TEST_F(ShotPreviewWindowTest, ANewerShotCancelsTheOlderPendingBuild)
{
    open(pictures::plain(200, 100, Qt::red));
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
    QTest::mouseClick(preview.toolButtons()[2], Qt::LeftButton);
    EXPECT_EQ(preview.canvas()->tool(), ShotTool::box);
    preview.pickTool(5);
    preview.pickTool(-1);
    EXPECT_EQ(preview.canvas()->tool(), ShotTool::box);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(preview.toolButtons()[i]->selected(), i == 2);
}

TEST_F(ShotPreviewWindowTest, PopoverChoicesSetTheCanvasAndTheWellsAndOutliveTheShot)
{
    open(pictures::plain(800, 600, Qt::white));
    const QImage redWell = preview.colorWell()->picture();

    QTest::mouseClick(preview.colorWell(), Qt::LeftButton);
    ASSERT_NE(preview.popover(), nullptr);
    QTest::mouseClick(preview.popover()->findChild<StripButton*>("color5"), Qt::LeftButton);
    EXPECT_EQ(preview.canvas()->color(), ShotColor::purple);
    EXPECT_NE(preview.colorWell()->picture(), redWell);
    EXPECT_TRUE(!preview.popover() || !preview.popover()->isVisible());

    QTest::mouseClick(preview.weightWell(), Qt::LeftButton);
    ASSERT_NE(preview.popover(), nullptr);
    QTest::mouseClick(preview.popover()->findChild<StripButton*>("weight4"), Qt::LeftButton);
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

TEST_F(ShotPreviewWindowTest, AScrollingShotKeepsItsScrollBarInsideAndTextsKeepToTheirFrames)
{
    // Too tall to fit, and wide enough to leave no room beside the picture.
    QWidget* window = open(pictures::gradient(1900, 3200));
    const auto* scroll = window->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    const QScrollBar* bar = scroll->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_TRUE(window->rect().contains(QRect(bar->mapTo(window, QPoint(0, 0)), bar->size())))
        << "the scroll bar ends at " << bar->mapTo(window, QPoint(bar->width(), 0)).x() << " of " << window->width();

    const QLabel* size = window->findChild<QLabel*>("sizeLabel");
    EXPECT_LE(QFontMetricsF(size->font()).height(), size->height()) << "the size label's text fits its frame";

    // The pill's title, from its capitals to its descenders, is no taller
    // than the 14-point icon beside it.
    const QImage pill = preview.retakeButton()->grab().toImage();
    int top = pill.height(), bottom = -1;
    for (int y = 0; y < pill.height(); ++y)
        for (int x = 34; x < pill.width() - 4; ++x)
            if (qGray(pill.pixel(x, y)) < 170) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(bottom, top) << "no title drawn";
    EXPECT_LE(bottom - top + 1, 14);
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
    for (QPushButton* button : preview.window()->findChildren<QPushButton*>())
        if (button->text() == "Сохранить в файл")
            QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(delivered.size(), 4u);
    EXPECT_EQ(delivered[3].destination, Screenshot::Destination::file);
    // Nothing is left to deliver twice.
    preview.finish(Screenshot::Destination::clipboard);
    EXPECT_EQ(delivered.size(), 4u);
}

// Following desktop switches while up is checked on a real window manager.
TEST_F(ShotPreviewWindowTest, RevealBringsItToTheDesktopInUseAndAFinishedEditorFollowsNoMore)
{
    QWidget* window = open(pictures::plain(400, 300, Qt::white));
    preview.reveal();
    EXPECT_EQ(workspace.movedToActiveSpace, std::vector{window->windowHandle()});
    preview.finish(Screenshot::Destination::clipboard);
    EXPECT_EQ(workspace.spaceObservers(), 0);
    EXPECT_EQ(workspace.schemeObservers(), 0);
}

TEST_F(ShotPreviewWindowTest, TakesTheDesktopsLookAndFollowsItWhileOpen)
{
    // Header, field beside the picture, bottom bar.
    const auto tones = [](QWidget* window) {
        const QImage shown = window->grab().toImage();
        return std::vector<int>{qGray(shown.pixel(2, 2)), qGray(shown.pixel(Layout::stripWidth + 8, Layout::headerHeight + 4)),
                                qGray(shown.pixel(2, shown.height() - 2))};
    };
    const auto expected = [](bool dark) {
        const ShotAppearance look{dark};
        return std::vector<int>{qGray(look.window().rgb()), qGray(look.field().rgb()), qGray(look.window().rgb())};
    };
    workspace.scheme = Workspace::ColorScheme::dark;
    QWidget* window = open(pictures::plain(200, 100, Qt::white));
    EXPECT_EQ(tones(window), expected(true));
    const QImage darkWell = preview.colorWell()->picture();
    const QColor darkLabel = window->findChild<QLabel*>("sizeLabel")->palette().color(QPalette::WindowText);

    workspace.changeColorScheme(Workspace::ColorScheme::light);
    EXPECT_EQ(tones(window), expected(false));
    EXPECT_NE(preview.colorWell()->picture(), darkWell);
    EXPECT_NE(window->findChild<QLabel*>("sizeLabel")->palette().color(QPalette::WindowText), darkLabel);

    // Without a word from the desktop the application's palette decides.
    workspace.changeColorScheme(Workspace::ColorScheme::dark);
    workspace.changeColorScheme(Workspace::ColorScheme::unknown);
    EXPECT_EQ(tones(window)[0], qGray(ShotAppearance::of(QApplication::palette()).window().rgb()));
}

TEST(ShotPreviewParts, TheAppearanceFollowsThePaletteAndTheColourWellCarriesItsMark)
{
    EXPECT_TRUE(ShotAppearance::of(QPalette(QColor(40, 40, 40))).dark);
    EXPECT_FALSE(ShotAppearance::of(QPalette(Qt::white)).dark);

    const auto well = [](bool mark) { return wellImage(36, Qt::red, std::nullopt, mark, ShotAppearance{false}, 1); };
    EXPECT_EQ(QColor(well(true).pixel(18, 18)), QColor(Qt::red));
    EXPECT_GT(qAlpha(well(true).pixel(33, 33)), 0) << "the corner mark";
    EXPECT_EQ(qAlpha(well(false).pixel(33, 33)), 0);
}

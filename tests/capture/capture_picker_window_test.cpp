#include "capture/capture_picker_window.h"
#include "core/flipped.h"

#include "tests/shots/pictures.h"
#include "tests/support/fake_workspace.h"
#include "tests/support/manual_clock.h"
#include "tests/support/shown_text.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

CaptureChoices::Item windowItem(uint32_t id, const QString& title, const QString& subtitle = QStringLiteral("Редактор"))
{
    return {QStringLiteral("window-%1").arg(id), title, subtitle, CaptureTarget::window(id), std::nullopt, std::nullopt};
}

// Windows with the given titles, numbered on from `first`.
CaptureChoices windows(const QStringList& titles, uint32_t first = 1)
{
    CaptureChoices choices;
    for (const QString& title : titles)
        choices.windows.push_back(windowItem(first++, title));
    return choices;
}

QStringList numbered(int count)
{
    QStringList titles;
    for (int i = 1; i <= count; ++i)
        titles << QStringLiteral("Окно %1").arg(i);
    return titles;
}

template <typename T>
QCoro::Task<T> after(ManualClock* clock, double seconds, T value)
{
    co_await clock->sleep(seconds);
    co_return value;
}

class CapturePickerWindowTest : public ::testing::Test {
protected:
    // The next loads list `choices` after `listSeconds`; each thumbnail takes
    // `thumbnailSeconds`, and windows listed in `withoutThumbnail` get none.
    void answer(CaptureChoices choices, double listSeconds = 0, double thumbnailSeconds = 0)
    {
        next = std::move(choices);
        nextListSeconds = listSeconds;
        nextThumbnailSeconds = thumbnailSeconds;
    }

    CapturePickerWindow::Sources sources()
    {
        return {
            [this] {
                ++listings;
                return after(&clock, nextListSeconds, next);
            },
            [this](CaptureTarget target, int width) {
                widths.push_back(width);
                std::optional<QImage> image;
                if (std::find(withoutThumbnail.begin(), withoutThumbnail.end(), target) == withoutThumbnail.end())
                    image = pictures::plain(width, width * 9 / 16, Qt::darkCyan);
                return after(&clock, nextThumbnailSeconds, image);
            },
        };
    }

    void settle() { QCoreApplication::processEvents(); }
    // Loads still waiting on the clock finish (and are discarded or fill)
    // rather than being left suspended.
    void TearDown() override { clock.advance(3600); }

    ManualClock clock;
    FakeWorkspace workspace;
    CaptureChoices next;
    double nextListSeconds = 0;
    double nextThumbnailSeconds = 0;
    std::vector<CaptureTarget> withoutThumbnail;
    int listings = 0;
    std::vector<int> widths;
    CapturePickerWindow picker {workspace, sources()};
    std::vector<CaptureTarget> picked;
    CapturePickerWindow::PickHandler onPick = [this](CaptureTarget target) { picked.push_back(target); };
};

QStringList tileIds(const CapturePickerWindow& picker)
{
    QStringList ids;
    for (const auto& [id, tile] : picker.tiles())
        ids << id;
    return ids;
}

} // namespace

TEST(CaptureGridTest, TilesFillRowsOfThreeFromTheTopLeftWithoutOverlapping)
{
    EXPECT_EQ(CaptureGrid::rows(1), 1);
    EXPECT_EQ(CaptureGrid::rows(6), 2);
    EXPECT_EQ(CaptureGrid::rows(7), 3);
    const int height = CaptureGrid::documentHeight(7);
    std::vector<QRect> tiles;
    for (int i = 0; i < 7; ++i) {
        tiles.push_back(flipped(CaptureGrid::tileFrame(i, height), height));
        EXPECT_TRUE(QRect(0, 0, CaptureGrid::documentWidth, height).contains(tiles[i])) << i;
        for (int j = 0; j < i; ++j)
            EXPECT_FALSE(tiles[i].intersects(tiles[j])) << i << " " << j;
        if (i % 3) {
            EXPECT_GT(tiles[i].left(), tiles[i - 1].right()) << "left to right";
        } else if (i) {
            EXPECT_GT(tiles[i].top(), tiles[i - 1].bottom()) << "then the next row down";
        }
    }
    // The scroll area is cut to the screen, never to less than a row.
    EXPECT_EQ(CaptureGrid::scrollHeight(7, 1080), height);
    EXPECT_LT(CaptureGrid::scrollHeight(7, 380), height);
    EXPECT_EQ(CaptureGrid::scrollHeight(1, 380), CaptureGrid::documentHeight(1));
    EXPECT_GE(CaptureGrid::scrollHeight(30, std::nullopt), CaptureGrid::documentHeight(1));
}

TEST(CaptureGridTest, ThumbnailsFillTheBoxAndIconsOnlyShrink)
{
    const QRectF box(1, 1, 238, 148);
    // A 480 × 270 thumbnail is made smaller to the box's width, centred.
    EXPECT_EQ(CaptureGrid::fitted(QSizeF(480, 270), box, true), QRectF(1, 8.0625, 238, 133.875));
    // A small thumbnail is made larger, to the box's height.
    EXPECT_EQ(CaptureGrid::fitted(QSizeF(74, 74), box, true), QRectF(46, 1, 148, 148));
    // A small icon keeps its size.
    EXPECT_EQ(CaptureGrid::fitted(QSizeF(64, 64), box, false), QRectF(88, 43, 64, 64));
    EXPECT_EQ(CaptureGrid::fitted(QSizeF(476, 296), box, false), QRectF(1, 1, 238, 148));
    EXPECT_TRUE(CaptureGrid::fitted(QSizeF(0, 10), box, true).isEmpty());
}

TEST_F(CapturePickerWindowTest, ShowsLoadingThenFillsTheGridWithThumbnailsOfEveryItem)
{
    CaptureChoices choices = windows(numbered(5));
    for (uint32_t id : {1, 2})
        choices.displays.push_back({QStringLiteral("display-%1").arg(id), QStringLiteral("Весь экран"),
                                    QStringLiteral("1920×1080"), CaptureTarget::display(id), std::nullopt, std::nullopt});
    answer(choices, 1, 1);
    picker.show(QStringLiteral("Что записывать"), onPick);
    ASSERT_TRUE(picker.window());
    EXPECT_TRUE(picker.window()->isVisible());
    EXPECT_EQ(picker.window()->windowTitle(), "Что записывать");
    EXPECT_EQ(picker.view(), CapturePickerWindow::View::loading);

    clock.advance(2);
    ASSERT_EQ(picker.view(), CapturePickerWindow::View::grid);
    EXPECT_EQ(widths, std::vector<int>(7, 480));
    ASSERT_EQ(picker.tiles().size(), 7u);
    // Displays first, then windows, in the order listed.
    EXPECT_EQ(picker.tiles().at("display-1")->geometry().topLeft(), QPoint(16, 16));
    EXPECT_GT(picker.tiles().at("display-2")->geometry().left(), picker.tiles().at("display-1")->geometry().right());
    EXPECT_GT(picker.tiles().at("window-5")->geometry().top(), picker.tiles().at("window-1")->geometry().bottom());
    const TileView* tile = picker.tiles().at("window-1");
    EXPECT_FALSE(tile->preview()->isIcon());
    EXPECT_EQ(tile->preview()->image()->width(), 480);
    EXPECT_EQ(tile->titleLabel()->text(), "Окно 1");
    ASSERT_TRUE(tile->subtitleLabel());
    EXPECT_EQ(tile->subtitleLabel()->text(), "Редактор");
}

TEST_F(CapturePickerWindowTest, TileTextsAreUntitledOrElidedAndShowTheirMarkupAsText)
{
    CaptureChoices choices;
    choices.windows = {windowItem(1, QString(), QString()), windowItem(2, markupText.repeated(4)),
                       windowItem(3, markupText, markupText)};
    answer(choices);
    picker.show(QStringLiteral("Что записывать"), onPick);
    ASSERT_EQ(picker.tiles().size(), 3u);
    const TileView* untitled = picker.tiles().at("window-1");
    EXPECT_EQ(untitled->titleLabel()->text(), "Без названия");
    EXPECT_FALSE(untitled->subtitleLabel()) << "an empty subtitle is left out";
    const TileView* long_ = picker.tiles().at("window-2");
    EXPECT_TRUE(long_->titleLabel()->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(shownText(long_->titleLabel()->toolTip()), markupText.repeated(4));
    const TileView* tile = picker.tiles().at("window-3");
    for (const QLabel* label : {tile->titleLabel(), tile->subtitleLabel()}) {
        ASSERT_TRUE(label);
        EXPECT_TRUE(markupText.startsWith(shownText(*label).chopped(1))) << label->text().toStdString();
        EXPECT_FALSE(label->openExternalLinks());
    }
}

TEST_F(CapturePickerWindowTest, AnItemWithoutThumbnailKeepsItsPlaceWithItsIcon)
{
    CaptureChoices choices = windows({"Первое", "Второе", "Третье"});
    choices.windows[1].icon = pictures::plain(64, 64, Qt::red);
    withoutThumbnail = {CaptureTarget::window(2)};
    answer(choices);
    picker.show(QStringLiteral("Что записывать"), onPick);

    ASSERT_EQ(picker.tiles().size(), 3u);
    const TileView* iconTile = picker.tiles().at("window-2");
    EXPECT_EQ(iconTile->geometry().top(), picker.tiles().at("window-1")->geometry().top());
    EXPECT_TRUE(iconTile->preview()->isIcon());
    // Drawn at its own size, faded, in the middle of the box.
    const QImage drawn = iconTile->preview()->grab().toImage();
    const QColor middle = drawn.pixelColor(drawn.width() / 2, drawn.height() / 2);
    EXPECT_GT(middle.red(), 150);
    EXPECT_LT(middle.red(), 255);
    EXPECT_NE(drawn.pixelColor(10, drawn.height() / 2), middle);
}

TEST_F(CapturePickerWindowTest, OnlyTheLastOfTwoQuickLoadsFillsTheGrid)
{
    answer(windows({"Старое"}), 2);
    picker.show(QStringLiteral("Что записывать"), onPick);
    answer(windows({"Новое", "Ещё"}, 2), 1);
    picker.show(QStringLiteral("Что записывать"), onPick);

    clock.advance(1);
    EXPECT_EQ(tileIds(picker), QStringList({"window-2", "window-3"}));
    clock.advance(5);
    EXPECT_EQ(tileIds(picker), QStringList({"window-2", "window-3"}));
    EXPECT_EQ(listings, 2);
}

TEST_F(CapturePickerWindowTest, APickDuringALoadHidesThePickerForGood)
{
    answer(windows({"Прежнее"}));
    picker.show(QStringLiteral("Что записывать"), onPick);
    ASSERT_EQ(picker.tiles().size(), 1u);

    answer(windows({"Свежее", "Свежее 2"}, 4), 0, 3);
    picker.show(QStringLiteral("Что записывать"), onPick);
    // The earlier grid stays while the new thumbnails are made.
    EXPECT_EQ(picker.view(), CapturePickerWindow::View::grid);

    QTest::mouseClick(picker.tiles().at("window-1")->findChild<TileButton*>(), Qt::LeftButton);
    EXPECT_EQ(picked, std::vector<CaptureTarget>{CaptureTarget::window(1)});
    EXPECT_FALSE(picker.window()->isVisible());

    clock.advance(5);
    EXPECT_FALSE(picker.window()->isVisible());
    EXPECT_EQ(tileIds(picker), QStringList({"window-1"}));
}

TEST_F(CapturePickerWindowTest, NothingToListShowsThePermissionViewWhoseButtonOpensSettings)
{
    answer(CaptureChoices{});
    picker.show(QStringLiteral("Что записывать"), onPick);
    ASSERT_EQ(picker.view(), CapturePickerWindow::View::denied);
    auto* button = picker.content()->findChild<QPushButton*>();
    ASSERT_TRUE(button);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(workspace.openedSettings, std::vector{Workspace::SettingsPane::privacyScreenCapture});
    EXPECT_TRUE(picked.empty());
}

TEST_F(CapturePickerWindowTest, HoveringATileDrawsItsBorderInTheAccentColour)
{
    answer(windows({"Окно"}));
    picker.show(QStringLiteral("Что записывать"), onPick);
    TileView* tile = picker.tiles().at("window-1");
    const QColor plain = tile->frameBox()->borderColor();

    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    QApplication::sendEvent(tile, &enter);
    const QImage drawn = tile->frameBox()->grab().toImage();
    EXPECT_EQ(drawn.pixelColor(120, 0).rgb(), QApplication::palette().color(QPalette::Highlight).rgb());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(tile, &leave);
    EXPECT_EQ(tile->frameBox()->borderColor(), plain);
}

TEST_F(CapturePickerWindowTest, TheGridFitsTheScreenThePickerIsOnAndEscClosesIt)
{
    answer(windows(numbered(15)), 1);
    picker.show(QStringLiteral("Что записывать"), onPick);
    // The second screen is lower than the main one.
    QScreen* second = QGuiApplication::screens().at(1);
    picker.window()->setScreen(second);
    picker.window()->move(second->geometry().topLeft());
    clock.advance(1);
    ASSERT_EQ(picker.view(), CapturePickerWindow::View::grid);
    EXPECT_TRUE(second->availableGeometry().contains(picker.window()->frameGeometry()))
        << picker.window()->height() << " high on a screen of " << second->availableGeometry().height();

    QTest::keyClick(picker.window(), Qt::Key_Escape);
    EXPECT_FALSE(picker.window()->isVisible());
    EXPECT_FALSE(picker.isFollowingSpaces()) << "closed as by its close button";
}

TEST_F(CapturePickerWindowTest, FollowsDesktopSwitchesOnlyWhileVisible)
{
    answer(windows({"Окно"}));
    picker.show(QStringLiteral("Чем поделиться"), onPick);
    EXPECT_TRUE(workspace.movedToActiveSpace.empty());

    answer(windows({"Окно", "Новое окно"}), 1);
    workspace.switchSpace();
    settle();
    // Brought to the desktop in use and reloaded under the same title,
    // keeping the old grid until the new one is ready.
    EXPECT_EQ(workspace.movedToActiveSpace, std::vector{picker.window()->windowHandle()});
    EXPECT_EQ(listings, 2);
    EXPECT_EQ(picker.window()->windowTitle(), "Чем поделиться");
    EXPECT_EQ(picker.view(), CapturePickerWindow::View::grid);
    EXPECT_EQ(picker.tiles().size(), 1u);
    clock.advance(1);
    EXPECT_EQ(picker.tiles().size(), 2u);

    // Closing stops following; the next show brings back the old grid at once.
    picker.window()->close();
    EXPECT_EQ(workspace.spaceObservers(), 0);
    workspace.switchSpace();
    settle();
    EXPECT_EQ(listings, 2);
    EXPECT_FALSE(picker.window()->isVisible());

    picker.show(QStringLiteral("Что записывать"), onPick);
    EXPECT_EQ(picker.view(), CapturePickerWindow::View::grid);
    EXPECT_EQ(picker.tiles().size(), 2u);
    EXPECT_EQ(workspace.spaceObservers(), 1);
    picker.pick(CaptureTarget::window(2));
    EXPECT_EQ(workspace.spaceObservers(), 0);
    workspace.switchSpace();
    settle();
    EXPECT_EQ(listings, 3);
}

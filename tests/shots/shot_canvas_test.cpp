// The canvas as a user drives it: drags, clicks, typing, undo.
#include "shots/shot_canvas.h"

#include "tests/shots/canvas_driver.h"
#include "tests/shots/pictures.h"

#include <gtest/gtest.h>

namespace {

class ShotCanvasTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        canvas = std::make_unique<ShotCanvas>(pictures::plain(800, 600, Qt::white));
        canvas->resize(400, 300);
        canvas->show();
        canvas->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(canvas.get()));
    }

    QRgb shownPixel(QPointF canvasPoint)
    {
        return canvas->grab().toImage().pixel(canvas->widgetPoint(canvasPoint).toPoint());
    }

    std::unique_ptr<ShotCanvas> canvas;
};

} // namespace

TEST_F(ShotCanvasTest, DragsBecomeMarksOnlyPastTheThreshold)
{
    canvas->setTool(ShotTool::box);
    driver::stroke(*canvas, {{100, 100}, {103, 103}}); // 3 × 3: dropped
    driver::stroke(*canvas, {{100, 100}, {100, 103}}); // 0 × 3: dropped
    EXPECT_TRUE(canvas->marks().isEmpty());

    driver::stroke(*canvas, {{100, 100}, {110, 100}}); // 10 × 0: kept
    driver::stroke(*canvas, {{100, 100}, {96, 104}});  // 4 back and up: kept
    ASSERT_EQ(canvas->marks().size(), 2);
    EXPECT_EQ(canvas->marks()[0].to, QPointF(110, 100));

    // A click with the arrow makes nothing; the weight and colour in force at
    // the press are the mark's.
    canvas->setTool(ShotTool::arrow);
    driver::stroke(*canvas, {{50, 50}, {50, 50}});
    EXPECT_EQ(canvas->marks().size(), 2);
    canvas->setColor(ShotColor::green);
    canvas->setWeight(ShotWeight::heavy);
    driver::press(*canvas, {50, 50});
    canvas->setColor(ShotColor::blue);
    driver::move(*canvas, {150, 80});
    driver::release(*canvas, {150, 80});
    ASSERT_EQ(canvas->marks().size(), 3);
    EXPECT_EQ(canvas->marks()[2].color, ShotColor::green);
    EXPECT_EQ(canvas->marks()[2].weight, ShotWeight::heavy);
    EXPECT_EQ(canvas->marks()[2].to, QPointF(150, 80));
}

TEST_F(ShotCanvasTest, PenKeepsEverySampleAndNeedsThree)
{
    canvas->setTool(ShotTool::pen);
    canvas->setColor(ShotColor::blue);
    // Press and one drag: it shows while dragging and is gone at release.
    driver::press(*canvas, {100, 150});
    driver::move(*canvas, {200, 150});
    ASSERT_TRUE(canvas->draft());
    EXPECT_EQ(canvas->draft()->path.size(), 2);
    EXPECT_EQ(shownPixel({150, 150}), color(ShotColor::blue).rgb());
    driver::release(*canvas, {200, 150});
    EXPECT_TRUE(canvas->marks().isEmpty());
    EXPECT_EQ(shownPixel({150, 150}), qRgb(255, 255, 255));

    // Tiny moves are samples too: there is no spacing filter.
    driver::stroke(*canvas, {{100, 100}, {101, 100}, {101, 101}});
    ASSERT_EQ(canvas->marks().size(), 1);
    EXPECT_EQ(canvas->marks()[0].path, (QList<QPointF>{{100, 100}, {101, 100}, {101, 101}}));
}

// That Return in a field goes no further is checked against the editor's
// own shortcut in its tests.
TEST_F(ShotCanvasTest, TextFieldCommitsOnReturnAndOnAClickElsewhere)
{
    canvas->setTool(ShotTool::text);
    canvas->setWeight(ShotWeight::thick);
    QTest::mouseClick(canvas.get(), Qt::LeftButton, Qt::NoModifier, driver::at(*canvas, {40, 100}));
    QLineEdit* field = canvas->editor();
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->hasFocus());
    driver::typeText(field, "  Смотри сюда ");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(canvas->editor(), nullptr);
    ASSERT_EQ(canvas->marks().size(), 1);
    EXPECT_EQ(canvas->marks()[0],
              (ShotMark{ShotTool::text, {40, 100}, {0, 0}, "Смотри сюда", ShotWeight::thick, ShotColor::red, {}}));

    // A click elsewhere while a field is open commits it and opens another there.
    QTest::mouseClick(canvas.get(), Qt::LeftButton, Qt::NoModifier, driver::at(*canvas, {10, 10}));
    driver::typeText(canvas->editor(), "первое");
    QTest::mouseClick(canvas.get(), Qt::LeftButton, Qt::NoModifier, driver::at(*canvas, {200, 200}));
    ASSERT_EQ(canvas->marks().size(), 2);
    EXPECT_EQ(canvas->marks()[1].text, "первое");
    EXPECT_EQ(canvas->marks()[1].from, QPointF(10, 10));
    ASSERT_NE(canvas->editor(), nullptr);
    EXPECT_EQ(canvas->editor()->text(), "");

    // Whitespace only is dropped; so is a field left empty.
    driver::typeText(canvas->editor(), " \t ");
    canvas->commitText();
    EXPECT_EQ(canvas->marks().size(), 2);
    EXPECT_EQ(canvas->editor(), nullptr);
}

TEST_F(ShotCanvasTest, TextTakesTheColourAndWeightOfItsCommit)
{
    canvas->setTool(ShotTool::text);
    QTest::mouseClick(canvas.get(), Qt::LeftButton, Qt::NoModifier, driver::at(*canvas, {40, 100}));
    QLineEdit* field = canvas->editor();
    ASSERT_NE(field, nullptr);
    driver::typeText(field, "готово");
    canvas->setColor(ShotColor::purple);
    canvas->setWeight(ShotWeight::hairline);
    EXPECT_EQ(field->palette().color(QPalette::Text), color(ShotColor::red)) << "the open field keeps its colour";

    // Undo leaves an open field alone (and does nothing with no marks).
    canvas->undo();
    EXPECT_EQ(canvas->editor(), field);

    // Flattening commits the field.
    const QImage flat = canvas->flattened();
    EXPECT_EQ(canvas->editor(), nullptr);
    ASSERT_EQ(canvas->marks().size(), 1);
    EXPECT_EQ(canvas->marks()[0].color, ShotColor::purple);
    EXPECT_EQ(canvas->marks()[0].weight, ShotWeight::hairline);
    EXPECT_NE(flat, pictures::plain(800, 600, Qt::white).convertToFormat(flat.format()));
}

TEST_F(ShotCanvasTest, UndoTakesTheNewestMarkAndLeavesTheDraft)
{
    canvas->undo();
    EXPECT_TRUE(canvas->marks().isEmpty());

    canvas->setTool(ShotTool::box);
    driver::stroke(*canvas, {{10, 10}, {60, 60}});
    driver::stroke(*canvas, {{100, 100}, {160, 160}});
    EXPECT_EQ(shownPixel({100, 130}), color(ShotColor::red).rgb());

    driver::press(*canvas, {200, 200});
    driver::move(*canvas, {250, 250});
    canvas->undo();
    ASSERT_EQ(canvas->marks().size(), 1);
    EXPECT_EQ(canvas->marks()[0].from, QPointF(10, 10));
    ASSERT_TRUE(canvas->draft());
    EXPECT_EQ(shownPixel({100, 130}), qRgb(255, 255, 255));
    EXPECT_EQ(shownPixel({200, 225}), color(ShotColor::red).rgb());
    driver::release(*canvas, {250, 250});
    EXPECT_EQ(canvas->marks().size(), 2);
}

TEST_F(ShotCanvasTest, ResizedCanvasMapsTheSameMarksOntoTheNewSize)
{
    canvas->setTool(ShotTool::box);
    driver::stroke(*canvas, {{100, 100}, {200, 200}});
    EXPECT_EQ(shownPixel({100, 150}), color(ShotColor::red).rgb());
    canvas->resize(800, 600);
    // Marks stay in canvas points, so the box is where it was from the bottom-left.
    EXPECT_EQ(shownPixel({100, 150}), color(ShotColor::red).rgb());
    EXPECT_EQ(canvas->flattened().pixel(100, 600 - 150), color(ShotColor::red).rgb());
}

TEST_F(ShotCanvasTest, MarksAddedOneByOneShowAsIfAllWereDrawnAtOnce)
{
    canvas->grab(); // the first paint builds the layer of committed marks
    driver::drag(*canvas, ShotTool::blur, {20, 20}, {200, 150});
    canvas->grab();
    driver::drag(*canvas, ShotTool::arrow, {30, 30}, {220, 160}, ShotWeight::thick, ShotColor::yellow);
    driver::type(*canvas, {60, 200}, "поверх");
    driver::drag(*canvas, ShotTool::blur, {100, 100}, {300, 250});
    const QImage stepByStep = canvas->grab().toImage();

    // A resize forgets the layer; the same size again draws every mark anew.
    canvas->resize(401, 300);
    canvas->grab();
    canvas->resize(400, 300);
    EXPECT_EQ(canvas->grab().toImage(), stepByStep);
}

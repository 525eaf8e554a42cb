// The screenshot command from end to end on the test X server: `korvala
// screenshot`, a drag over a known window, a box drawn in the editor, Ctrl+S.

#include "tests/shots/integration/korvala_program.h"
#include "tests/shots/integration/pattern_window.h"

#include <gtest/gtest.h>

TEST(ScreenshotEditor, ASelectionOverAWindowIsAnnotatedAndSavedAtTwiceItsSize)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    PatternWindow pattern(QRect(200, 150, 600, 400));
    ASSERT_TRUE(waitUntil([&] { return pattern.isVisible(); }));
    QTest::qWait(300);

    // 200 × 150 points over the window's red and blue halves.
    KorvalaProgram program;
    const QString editor = program.shoot(QRect(400, 250, 200, 150));
    ASSERT_FALSE(editor.isEmpty());
    // The editor is 720 points wide; the 200 × 150 canvas sits at (286, 205)
    // under the 40-point header, the box tool is the third button.
    for (const QStringList& step : {QStringList{"26", "210", "click", "1"}, {"326", "245", "mousedown", "1"},
                                    {"380", "280"}, {"446", "325", "mouseup", "1"}}) {
        program.run("xdotool", QStringList{"mousemove", "--window", editor} + step);
        QCoreApplication::processEvents();
    }
    QTest::qWait(200);
    const QImage shot = program.save();

    ASSERT_EQ(shot.size(), QSize(400, 300));
    // The window's pixels: red left of its middle (x = 500 points), blue right.
    EXPECT_EQ(QColor(shot.pixel(20, 280)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(380, 280)), QColor(0, 0, 255));
    // The box: a red stroke along its right edge over the blue half, 2 × (446 − 286) pixels in.
    int redOnBlue = 0;
    for (int x = 300; x < 340; ++x) {
        const QColor c(shot.pixel(x, 150));
        redOnBlue += c.red() > 200 && c.blue() < 120;
    }
    EXPECT_GT(redOnBlue, 0) << "the box is in the saved picture";
}

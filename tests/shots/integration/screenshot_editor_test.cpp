// The screenshot command from end to end on the test X server: `korvala
// screenshot`, a drag over a known window, a box drawn in the editor, Ctrl+S.

#include "tests/shots/integration/pattern_window.h"
#include "tests/support/event_loop_process.h"
#include "tests/support/qt_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList visibleWindows(const QString& name)
{
    return QString::fromUtf8(runWithEventLoop("xdotool", {"search", "--onlyvisible", "--name", name}))
        .split('\n', Qt::SkipEmptyParts);
}

void xdotool(const QStringList& arguments)
{
    runWithEventLoop("xdotool", arguments);
    QCoreApplication::processEvents();
}

} // namespace

TEST(ScreenshotEditor, ASelectionOverAWindowIsAnnotatedAndSavedAtTwiceItsSize)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    PatternWindow pattern(QRect(200, 150, 600, 400));
    ASSERT_TRUE(waitUntil([&] { return pattern.isVisible(); }));
    QTest::qWait(300);

    QTemporaryDir home;
    QDir(home.path()).mkpath(".config/korvala");
    QFile settings(home.filePath(".config/korvala/korvala.conf"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\ntoken=integration\n");
    settings.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(KORVALA_PROGRAM, {});
    ASSERT_TRUE(app.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return runWithEventLoop(KORVALA_PROGRAM, {"status"}, environment).startsWith("Готов"); }, 20000));

    runWithEventLoop(KORVALA_PROGRAM, {"screenshot"}, environment);
    ASSERT_TRUE(waitUntil([] { return !visibleWindows("выбор области").isEmpty(); }, 10000)) << "no overlay";
    QTest::qWait(300);
    // 200 × 150 points over the window's red and blue halves.
    xdotool({"mousemove", "400", "250", "mousedown", "1"});
    xdotool({"mousemove", "500", "300"});
    xdotool({"mousemove", "600", "400", "mouseup", "1"});

    QStringList editors;
    ASSERT_TRUE(waitUntil([&] { return !(editors = visibleWindows("^Korvala$")).isEmpty(); }, 10000)) << "no editor";
    QTest::qWait(500);

    // The editor is 720 points wide; the 200 × 150 canvas sits at (286, 205)
    // under the 40-point header, the box tool is the third button.
    const QString editor = editors.first();
    xdotool({"mousemove", "--window", editor, "26", "210", "click", "1"});
    xdotool({"mousemove", "--window", editor, "326", "245", "mousedown", "1"});
    xdotool({"mousemove", "--window", editor, "380", "280"});
    xdotool({"mousemove", "--window", editor, "446", "325", "mouseup", "1"});
    QTest::qWait(200);
    xdotool({"key", "ctrl+s"});

    const QString folder = home.filePath(QString::fromUtf8("Documents/Корвала — записи встреч"));
    QString saved;
    ASSERT_TRUE(waitUntil([&] {
        QDirIterator files(folder, {"skrinshot-*.png"}, QDir::Files);
        if (files.hasNext())
            saved = files.next();
        return !saved.isEmpty();
    }, 10000)) << "nothing saved in " << folder.toStdString();
    ASSERT_TRUE(waitUntil([&] { return runWithEventLoop(KORVALA_PROGRAM, {"status"}, environment).startsWith("Снимок сохранён"); }));

    const QImage shot(saved);
    ASSERT_EQ(shot.size(), QSize(400, 300));
    // The window's pixels: red left of its middle (x = 500 points), blue right.
    EXPECT_EQ(QColor(shot.pixel(20, 280)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(380, 280)), QColor(0, 0, 255));
    // The box: a red stroke along its right edge over the blue half, 2 × (446 − 286) pixels in.
    int redOnBlue = 0;
    for (int x = 300; x < 340; ++x) {
        const QColor c(shot.pixel(x, 150));
        if (c.red() > 200 && c.blue() < 120)
            ++redOnBlue;
    }
    EXPECT_GT(redOnBlue, 0) << "the box is in the saved picture";

    runWithEventLoop(KORVALA_PROGRAM, {"quit"}, environment);
    if (!app.waitForFinished(10000))
        app.kill();
}

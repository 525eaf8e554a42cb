// The screenshot command from end to end on the test X server: `korvala
// screenshot`, a drag over a known window, a box drawn in the editor, Ctrl+S;
// and pictures of the editor in both palettes with its popovers open, for a
// person to look at.

#include "core/clock.h"
#include "shots/shot_preview_parts.h"
#include "shots/shot_preview_window.h"

#include "tests/shots/integration/pattern_window.h"
#include "tests/shots/pictures.h"
#include "tests/support/event_loop_process.h"
#include "tests/support/fake_workspace.h"
#include "tests/support/qt_wait.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

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

QString picturePath(const QString& name)
{
    return QDir(qEnvironmentVariable("KORVALA_TESTENV", QDir::tempPath())).filePath(name);
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
    QProcess::execute("import", {"-window", "root", picturePath("editor-program.png")});

    // The editor is 720 points wide; the 200 × 150 canvas sits at (286, 205)
    // under the 40-point header, the box tool is the third button.
    const QString editor = editors.first();
    xdotool({"mousemove", "--window", editor, "26", "210", "click", "1"});
    xdotool({"mousemove", "--window", editor, "326", "245", "mousedown", "1"});
    xdotool({"mousemove", "--window", editor, "380", "280"});
    xdotool({"mousemove", "--window", editor, "446", "325", "mouseup", "1"});
    QTest::qWait(200);
    QProcess::execute("import", {"-window", "root", picturePath("editor-program-box.png")});
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

TEST(ScreenshotEditor, PicturesOfTheEditorInBothPalettesWithPopovers)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    const QPalette original = QApplication::palette();
    FakeWorkspace workspace;
    SystemClock clock;
    ShotPreviewWindow preview(workspace, clock);

    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 45));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(60, 60, 60));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    const QPalette light = fusion->standardPalette();

    for (const auto& [name, palette] : {std::pair{QString("dark"), dark}, std::pair{QString("light"), light}}) {
        QApplication::setPalette(palette);
        preview.show(pictures::gradient(1600, 1000), [](QImage, Screenshot::Destination) {});
        ASSERT_TRUE(waitUntil([&] { return preview.window() && preview.window()->isVisible(); }));
        QTest::qWait(400);
        const QImage window = preview.window()->grab().toImage();
        const QColor bar(window.pixel(5, window.height() - 5));
        EXPECT_EQ(bar, name == "dark" ? QColor(38, 38, 38) : QColor(232, 232, 232)) << name.toStdString();
        QProcess::execute("import", {"-window", "root", picturePath("editor-" + name + ".png")});

        preview.openColors();
        QTest::qWait(300);
        QProcess::execute("import", {"-window", "root", picturePath("editor-" + name + "-colors.png")});
        preview.chooseColor(4);
        preview.openWeights();
        QTest::qWait(300);
        QProcess::execute("import", {"-window", "root", picturePath("editor-" + name + "-weights.png")});
        preview.chooseWeight(2);
        preview.chooseColor(0);
        preview.finish(Screenshot::Destination::clipboard);
    }
    QApplication::setPalette(original);
}

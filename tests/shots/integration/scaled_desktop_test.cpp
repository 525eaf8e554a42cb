// Screenshots on scaled desktops, from end to end with the real program: a
// desktop at scale 2 throughout, and a mixed one whose second monitor alone
// is at scale 2. Each runs on an X server of its own, two 1920 × 1080
// monitors side by side, whose background is a known 8 × 8 pattern.

#include "tests/support/event_loop_process.h"
#include "tests/support/qt_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// One bit a pixel, rows of eight: a pattern whose every pixel tells where it
// lies, so that a picture enlarged or shifted by one pixel does not match.
constexpr unsigned char patternBits[8] = {0x01, 0x03, 0x07, 0x0d, 0x19, 0x31, 0x61, 0xc1};

QRgb backgroundPixel(int x, int y)
{
    return (patternBits[y % 8] >> (x % 8)) & 1 ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
}

class ScaledDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        for (int n = 170; n < 200 && display.isEmpty(); ++n) {
            if (!QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                display = QStringLiteral(":%1").arg(n);
        }
        ASSERT_FALSE(display.isEmpty());
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display);
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        QDir(home.path()).mkpath(".config/korvala");
        QFile settings(home.filePath(".config/korvala/korvala.conf"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[General]\ntoken=integration\n");
        settings.close();

        server = start("Xvfb", {display, "-screen", "0", "3840x1080x24", "-nolisten", "tcp", "-noreset"});
        ASSERT_TRUE(waitUntil([&] { return run("xdpyinfo", {}).contains("dimensions"); }, 10000));
        run("xrandr", {"--setmonitor", "A", "1920/508x1080/286+0+0", "screen"});
        run("xrandr", {"--setmonitor", "B", "1920/508x1080/286+1920+0", "none"});
        windowManager = start("evilwm", {"-fn", "fixed"});
        QFile bitmap(home.filePath("pattern.xbm"));
        ASSERT_TRUE(bitmap.open(QIODevice::WriteOnly));
        QByteArray text = "#define p_width 8\n#define p_height 8\nstatic char p_bits[] = {\n";
        for (unsigned char row : patternBits)
            text += "0x" + QByteArray::number(row, 16).rightJustified(2, '0') + ", ";
        bitmap.write(text + "};\n");
        bitmap.close();
        run("xsetroot", {"-bitmap", bitmap.fileName(), "-fg", "#ff0000", "-bg", "#0000ff"});
    }

    void TearDown() override
    {
        if (app) {
            run(KORVALA_PROGRAM, {"quit"});
            if (!app->waitForFinished(10000))
                app->kill();
        }
        for (QProcess* process : {windowManager.get(), server.get()}) {
            if (process) {
                process->terminate();
                process->waitForFinished(5000);
            }
        }
    }

    std::unique_ptr<QProcess> start(const QString& program, const QStringList& arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        process->waitForStarted();
        return process;
    }

    QByteArray run(const QString& program, const QStringList& arguments)
    {
        return runWithEventLoop(program, arguments, environment);
    }

    QStringList visibleWindows(const QString& name)
    {
        return QString::fromUtf8(run("xdotool", {"search", "--onlyvisible", "--name", name}))
            .split('\n', Qt::SkipEmptyParts);
    }

    // The program at the given scale settings drags out `area` (device
    // pixels of the whole X screen), saves the shot with Ctrl+S and gives
    // back the picture and where the editor stood.
    void shoot(const QRect& area, QImage* picture, QRect* editor)
    {
        app = start(KORVALA_PROGRAM, {});
        ASSERT_TRUE(waitUntil([&] { return run(KORVALA_PROGRAM, {"status"}).startsWith("Готов"); }, 20000));
        run(KORVALA_PROGRAM, {"screenshot"});
        ASSERT_TRUE(waitUntil([&] { return visibleWindows("выбор области").size() == 2; }, 10000)) << "no overlays";
        QTest::qWait(300);
        const QPoint end = area.bottomRight() + QPoint(1, 1);
        run("xdotool", {"mousemove", QString::number(area.x()), QString::number(area.y()), "mousedown", "1"});
        run("xdotool", {"mousemove", QString::number(area.center().x()), QString::number(area.center().y())});
        run("xdotool", {"mousemove", QString::number(end.x()), QString::number(end.y()), "mouseup", "1"});

        QStringList editors;
        ASSERT_TRUE(waitUntil([&] { return !(editors = visibleWindows("^Korvala$")).isEmpty(); }, 10000))
            << "no editor";
        QTest::qWait(500);
        const QString geometry = QString::fromUtf8(run("xdotool", {"getwindowgeometry", "--shell", editors.first()}));
        QMap<QString, int> values;
        for (const QString& line : geometry.split('\n', Qt::SkipEmptyParts))
            values[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        *editor = QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);

        run("xdotool", {"mousemove", QString::number(editor->center().x()), QString::number(editor->center().y()),
                        "click", "1"});
        run("xdotool", {"key", "ctrl+s"});
        const QString folder = home.filePath(QString::fromUtf8("Documents/Корвала — записи встреч"));
        QString saved;
        ASSERT_TRUE(waitUntil([&] {
            QDirIterator files(folder, {"skrinshot-*.png"}, QDir::Files);
            if (files.hasNext())
                saved = files.next();
            return !saved.isEmpty();
        }, 10000)) << "nothing saved";
        QTest::qWait(300);
        *picture = QImage(saved);
    }

    // How many pixels of `picture` differ from the background under `area`.
    static int strayPixels(const QImage& picture, const QRect& area)
    {
        int stray = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                stray += (picture.pixel(x, y) & 0xffffff) != (backgroundPixel(area.x() + x, area.y() + y) & 0xffffff);
        return stray;
    }

    QTemporaryDir home;
    QString display;
    QProcessEnvironment environment;
    std::unique_ptr<QProcess> server, windowManager, app;
};

// The second monitor, where the shots are taken.
const QRect secondMonitor(1920, 0, 1920, 1080);
// Even pixels: at scale 2 the pointer moves by whole points.
const QRect drawn(1920 + 300, 202, 400, 300);

} // namespace

TEST_F(ScaledDesktop, AtScaleTwoTheShotIsTheSelectedPixelsAndTheEditorOpensBesideIt)
{
    environment.insert("QT_SCALE_FACTOR", "2");
    QImage picture;
    QRect editor;
    shoot(drawn, &picture, &editor);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), drawn.size());
    EXPECT_EQ(strayPixels(picture, drawn), 0) << "the screen's own pixels, neither scaled nor shifted";
    EXPECT_TRUE(secondMonitor.contains(editor)) << "the editor stands at " << editor.x() << "," << editor.y();
    // 720 points of content, two pixels a point.
    EXPECT_EQ(editor.width(), 1440);
}

TEST_F(ScaledDesktop, OnAMixedDesktopTheShotOfTheScaledMonitorIsItsPixelsAndTheEditorOpensThere)
{
    environment.insert("QT_SCREEN_SCALE_FACTORS", "A=1;B=2");
    QImage picture;
    QRect editor;
    shoot(drawn, &picture, &editor);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), drawn.size());
    EXPECT_EQ(strayPixels(picture, drawn), 0) << "the screen's own pixels, neither scaled nor shifted";
    EXPECT_TRUE(secondMonitor.contains(editor)) << "the editor stands at " << editor.x() << "," << editor.y();
    EXPECT_EQ(editor.width(), 1440);
}

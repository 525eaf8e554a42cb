// Screenshots on scaled desktops, from end to end with the real program: a
// desktop at scale 2 throughout, and a mixed one whose second monitor alone
// is at scale 2. Each runs on an X server of its own, two 1920 × 1080
// monitors side by side, whose background is a known 8 × 8 pattern.

#include "tests/capture/integration/private_x_server.h"
#include "tests/shots/integration/korvala_program.h"

#include <QProcess>

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
        ASSERT_TRUE(scratch.isValid());
        environment.insert("DISPLAY", server.name());
        ASSERT_TRUE(waitUntil([&] { return run("xdpyinfo", {}).contains("dimensions"); }, 10000));
        run("xrandr", {"--setmonitor", "A", "1920/508x1080/286+0+0", "screen"});
        run("xrandr", {"--setmonitor", "B", "1920/508x1080/286+1920+0", "none"});
        windowManager = start("evilwm", {"-fn", "fixed"});
        QFile bitmap(scratch.filePath("pattern.xbm"));
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
        if (windowManager) {
            windowManager->terminate();
            windowManager->waitForFinished(5000);
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

    QTemporaryDir scratch;
    PrivateXServer server {"3840x1080x24", 170};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<QProcess> windowManager;
};

} // namespace

TEST_F(ScaledDesktop, OnTheScaledMonitorTheShotIsItsPixelsAndTheEditorOpensBesideIt)
{
    // The second monitor, where the shots are taken; even pixels, as at scale
    // 2 the pointer moves by whole points.
    const QRect secondMonitor(1920, 0, 1920, 1080);
    const QRect drawn(1920 + 300, 202, 400, 300);
    // The whole desktop at scale 2, and a mixed one whose second monitor alone is.
    for (const auto& [variable, value] : {std::pair{"QT_SCALE_FACTOR", "2"}, {"QT_SCREEN_SCALE_FACTORS", "A=1;B=2"}}) {
        SCOPED_TRACE(variable);
        QProcessEnvironment scaled = environment;
        scaled.insert(variable, value);
        KorvalaProgram program(scaled);
        const QString id = program.shoot(drawn, 2);
        ASSERT_FALSE(id.isEmpty());
        QMap<QString, int> values;
        for (const QString& line : QString::fromUtf8(run("xdotool", {"getwindowgeometry", "--shell", id})).split('\n'))
            values[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        const QRect editor(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
        run("xdotool", {"mousemove", QString::number(editor.center().x()), QString::number(editor.center().y()),
                        "click", "1"});
        const QImage picture = program.save();

        ASSERT_EQ(picture.size(), drawn.size());
        int stray = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                stray += (picture.pixel(x, y) & 0xffffff) != (backgroundPixel(drawn.x() + x, drawn.y() + y) & 0xffffff);
        EXPECT_EQ(stray, 0) << "the screen's own pixels, neither scaled nor shifted";
        EXPECT_TRUE(secondMonitor.contains(editor)) << "the editor stands at " << editor.x() << "," << editor.y();
        // 720 points of content, two pixels a point.
        EXPECT_EQ(editor.width(), 1440);
    }
}

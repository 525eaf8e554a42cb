// The program as a user meets it: a tray icon in a real system tray (trayer
// on the test X server), one instance per session bus, and `korvala COMMAND`
// driving it.

#include "tests/app/integration/korvala_session.h"

#include <QDir>
#include <QFile>

namespace {

class KorvalaProgramTest : public KorvalaSessionTest {
protected:
    void SetUp() override
    {
        KorvalaSessionTest::SetUp();
        environment.insert("XDG_CURRENT_DESKTOP", "XFCE");
        // The launch asks the service about the limit and the version; a
        // closed local port keeps those questions off the internet.
        settings->setValue("baseURL", "http://127.0.0.1:9");
        settings->sync();

        tray.setProgram("trayer");
        tray.setArguments({"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28",
                           "--SetDockType", "true", "--transparent", "false", "--tint", "0xdddddd"});
        tray.start();
        ASSERT_TRUE(tray.waitForStarted());
        ASSERT_TRUE(waitUntil([] { return !windows("trayer", "--class").isEmpty(); }, 10000)) << "no system tray";
    }

    void TearDown() override
    {
        KorvalaSessionTest::TearDown();
        end(tray);
    }

    static QStringList windows(const QString& name, const QString& by = "--classname")
    {
        QProcess search;
        search.start("xdotool", {"search", "--onlyvisible", by, name});
        search.waitForFinished(5000);
        return QString::fromUtf8(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    QProcess tray;
};

TEST_F(KorvalaProgramTest, StartsOnceAnswersCommandsAndQuitsOnRequest)
{
    const Outcome alone = korvala({"status"});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(alone.err.contains("не запущена")) << alone.err.toStdString();

    startKorvala(QProcess::ForwardedErrorChannel);

    const Outcome second = korvala({});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(second.out.contains("уже запущена")) << second.out.toStdString();
    EXPECT_EQ(app.state(), QProcess::Running) << "the first instance is left alone";

    EXPECT_EQ(korvala({"status"}).out, "Нужен вход\n") << "the launch found no sign-in";
    EXPECT_EQ(korvala({"menu"}).out,
              "Нужен вход\n---\nВойти…\n---\nМои расшифровки…\nПапка с записями…\n---\nВыйти\n");

    const Outcome stop = korvala({"stop"});
    EXPECT_EQ(stop.exitCode, 2);
    EXPECT_TRUE(stop.err.contains("«Остановить и отправить»")) << stop.err.toStdString();
    EXPECT_EQ(korvala({"no-such-command"}).exitCode, 2);
    EXPECT_EQ(korvala({"targets"}).exitCode, 0) << "the displays and windows are listed";

    // The icon sits in the tray: trayer has embedded a window of ours.
    QStringList icons;
    ASSERT_TRUE(waitUntil([&] { return !(icons = windows("korvala")).isEmpty(); }, 10000)) << "no tray icon";

    // Open the menu with a right click on the icon and keep a picture of it.
    QProcess::execute("xdotool", {"mousemove", "--window", icons.first(), "8", "8", "click", "3"});
    EXPECT_TRUE(waitUntil([&] { return windows("korvala").size() > icons.size(); }, 5000))
        << "the menu did not open";
    const QString picture = QDir(qEnvironmentVariable("KORVALA_TESTENV", QDir::tempPath())).filePath("tray-menu.png");
    QProcess::execute("import", {"-window", "root", picture});
    EXPECT_EQ(korvala({"status"}).out, "Нужен вход\n") << "an open menu does not hold the commands";
    QProcess::execute("xdotool", {"key", "Escape"});

    const Outcome quit = korvala({"quit"});
    EXPECT_EQ(quit.exitCode, 0) << quit.err.toStdString();
    ASSERT_TRUE(app.waitForFinished(10000)) << "«Выйти» did not end the program";
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(korvala({"status"}).exitCode, 1);
}

TEST_F(KorvalaProgramTest, AutostartEntryStartsThisProgramAtLoginUntilTurnedOff)
{
    // A build folder whose name the entry must quote for a launcher.
    const QString folder = home.filePath("Korvala $build \"1\"");
    ASSERT_TRUE(QDir().mkpath(folder));
    program = folder + "/korvala";
    ASSERT_TRUE(QFile::copy(KORVALA_PROGRAM, program));
    const QString entry = home.filePath(".config/autostart/app.korvala.Korvala.desktop");

    EXPECT_EQ(korvala({"autostart", "off"}).exitCode, 0);
    const Outcome on = korvala({"autostart", "on"});
    ASSERT_EQ(on.exitCode, 0) << on.err.toStdString();
    ASSERT_TRUE(QFile::exists(entry));
    EXPECT_TRUE(korvala({"autostart", "status"}).out.contains(entry));
    EXPECT_EQ(QProcess::execute("desktop-file-validate", {entry}), 0);

    // GLib's launcher, which desktops use for their autostart folders.
    EXPECT_EQ(QProcess::execute("gio", {"launch", entry}), 0);
    ASSERT_TRUE(waitUntil([&] { return korvala({"status"}).exitCode == 0; }, 20000)) << "the entry started nothing";
    EXPECT_EQ(korvala({"quit"}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return korvala({"status"}).exitCode == 1; }, 10000));

    EXPECT_EQ(korvala({"autostart", "off"}).exitCode, 0);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(korvala({"autostart", "status"}).out.contains(entry));
}

} // namespace

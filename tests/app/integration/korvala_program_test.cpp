// The program as a user meets it: a tray icon in a real system tray (trayer
// on the test X server), one instance per session bus, and `korvala COMMAND`
// driving it.

#include "tests/support/qt_wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

class KorvalaProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        environment.insert("XDG_CURRENT_DESKTOP", "XFCE");
        // The launch asks the service about the limit and the version; a
        // closed local port keeps those questions off the internet.
        QSettings settings(home.filePath(".config/korvala/korvala.conf"), QSettings::IniFormat);
        settings.setValue("baseURL", "http://127.0.0.1:9");

        tray.setProgram("trayer");
        tray.setArguments({"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28",
                           "--SetDockType", "true", "--transparent", "false", "--tint", "0xdddddd"});
        tray.start();
        ASSERT_TRUE(tray.waitForStarted());
        ASSERT_TRUE(waitUntil([] { return !windows("trayer", "--class").isEmpty(); }, 10000)) << "no system tray";
    }

    void TearDown() override
    {
        for (QProcess* process : {&app, &tray}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
                process->waitForFinished();
            }
        }
    }

    static QStringList windows(const QString& name, const QString& by = "--classname")
    {
        QProcess search;
        search.start("xdotool", {"search", "--onlyvisible", by, name});
        search.waitForFinished(5000);
        return QString::fromUtf8(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    Outcome korvala(const QStringList& arguments, int timeoutMs = 15000)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        process.waitForStarted();
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    QTemporaryDir home;
    QString program = KORVALA_PROGRAM;
    QProcessEnvironment environment;
    QProcess tray;
    QProcess app;
};

TEST_F(KorvalaProgramTest, StartsOnceAnswersCommandsAndQuitsOnRequest)
{
    const Outcome alone = korvala({"status"});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(alone.err.contains("не запущена")) << alone.err.toStdString();

    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(KORVALA_PROGRAM, {});
    ASSERT_TRUE(app.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return korvala({"status"}).exitCode == 0; }, 20000));

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
    QStringList open;
    EXPECT_TRUE(waitUntil([&] { return (open = windows("korvala")).size() > icons.size(); }, 5000))
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

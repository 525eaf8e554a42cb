// The program as a user meets it: one instance per session bus, and
// `korvala COMMAND` driving it. The tray itself is met in tray_hosts_test.

#include "tests/app/integration/korvala_session.h"

#include <QDir>
#include <QFile>

namespace {

class KorvalaProgramTest : public KorvalaSessionTest {
protected:
    void SetUp() override
    {
        KorvalaSessionTest::SetUp();
        // The launch asks the service about the limit and the version; a
        // closed local port keeps those questions off the internet.
        settings->setValue("baseURL", "http://127.0.0.1:9");
        settings->sync();
    }
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

    const Outcome quit = korvala({"quit"});
    EXPECT_EQ(quit.exitCode, 0) << quit.err.toStdString();
    ASSERT_TRUE(appEnded()) << "«Выйти» did not end the program";
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

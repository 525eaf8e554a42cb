#include "platform/linux/desktop/autostart_entry.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Turning it on, off and launching it are followed through the program in
// its integration test; here, the bytes written and an entry the user hid.
TEST(AutostartEntry, WritesTheMenuEntryWithThisProgramAndTurnsOnAgainOnceHidden)
{
    QTemporaryDir home;
    // A configuration folder that does not exist yet, as on a new account.
    const AutostartEntry entry(home.filePath("config"), "org.example.App");
    EXPECT_FALSE(entry.isOn());
    const QByteArray menuEntry = "[Desktop Entry]\nType=Application\nName=App\nExec=app\nTryExec=app\n"
                                 "[Desktop Action new]\nName=New\nExec=app --new\n";
    ASSERT_EQ(entry.turnOn(menuEntry, "/opt/my apps/100%/app"), std::nullopt);
    EXPECT_TRUE(entry.isOn());
    EXPECT_EQ(read(entry.path()), "[Desktop Entry]\nExec=\"/opt/my apps/100%%/app\"\nType=Application\nName=App\n"
                                  "[Desktop Action new]\nName=New\nExec=app --new\n");

    // A user who switched it off in the desktop's settings has Hidden=true.
    QFile hidden(entry.path());
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.write("[Desktop Entry]\nType=Application\nName=App\nExec=app\nHidden=true\n");
    hidden.close();
    EXPECT_FALSE(entry.isOn());
    ASSERT_EQ(entry.turnOn(menuEntry, "/usr/bin/app"), std::nullopt);
    EXPECT_TRUE(entry.isOn());
}

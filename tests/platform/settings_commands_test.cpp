#include "platform/linux/desktop/settings_commands.h"

#include <gtest/gtest.h>

namespace {

using Pane = Workspace::SettingsPane;

QStringList programs(Pane pane, const QString& desktop)
{
    QStringList found;
    for (const SettingsCommand& command : settingsCommands(pane, desktop))
        found.append((QStringList{command.program} + command.arguments).join(' '));
    return found;
}

TEST(SettingsCommands, EachDesktopOpensItsOwnPlaces)
{
    for (const QString& gnome : {QString("GNOME"), QString("ubuntu:GNOME"), QString("gnome")}) {
        EXPECT_EQ(programs(Pane::privacyMicrophone, gnome),
                  QStringList({"gnome-control-center sound", "pavucontrol --tab=4"})) << gnome.toStdString();
        EXPECT_EQ(programs(Pane::soundInput, gnome), programs(Pane::privacyMicrophone, gnome));
        EXPECT_EQ(programs(Pane::privacyScreenCapture, gnome), QStringList{"gnome-control-center privacy"});
    }

    EXPECT_EQ(programs(Pane::soundInput, "KDE"), QStringList({"systemsettings kcm_pulseaudio", "pavucontrol --tab=4"}));
    EXPECT_EQ(programs(Pane::privacyScreenCapture, "KDE"), QStringList{"systemsettings"});

    for (const QString& other : {QString("XFCE"), QString("X-Cinnamon"), QString()}) {
        EXPECT_EQ(programs(Pane::privacyMicrophone, other), QStringList{"pavucontrol --tab=4"});
        EXPECT_TRUE(programs(Pane::privacyScreenCapture, other).isEmpty())
            << "nothing to open, so the user is told instead";
    }
}

} // namespace

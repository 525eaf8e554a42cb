#include "platform/linux/desktop/desktop_workspace.h"
#include "platform/settings_places.h"

#include "tests/support/qt_wait.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Pane = Workspace::SettingsPane;

// Sets an environment variable until the end of the scope.
struct ScopedVariable {
    ScopedVariable(const char* name, const QByteArray& value) : name(name), old(qgetenv(name)) { qputenv(name, value); }
    ~ScopedVariable() { qputenv(name, old); }
    const char* name;
    QByteArray old;
};

// A stand-in settings program that writes its arguments to `program.args`.
void install(const QTemporaryDir& bin, const QString& program)
{
    QFile script(bin.filePath(program));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho \"$@\" > \"$0.args\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString argumentsOf(const QTemporaryDir& bin, const QString& program)
{
    QFile file(bin.filePath(program + ".args"));
    if (!waitUntil([&] { return file.size() > 0; }) || !file.open(QIODevice::ReadOnly))
        return {};
    const QString arguments = QString::fromUtf8(file.readAll()).trimmed();
    file.remove();
    return arguments;
}

} // namespace

TEST(SettingsPlaces, EachDesktopNamesItsOwnSoundPlacesWithTheMixerBehind)
{
    QStringList names;
    for (const QString desktop : {"ubuntu:GNOME", "KDE", "XFCE", ""}) {
        for (const Pane pane : {Pane::soundInput, Pane::soundOutput}) {
            const SettingsPlace place = settingsPlace(pane, desktop);
            ASSERT_FALSE(place.commands.empty()) << desktop.toStdString();
            EXPECT_EQ(place.commands.back().program, "pavucontrol") << "the mixer serves every desktop";
            EXPECT_TRUE(place.byHand.contains(place.steps())) << place.byHand.toStdString();
            names.append(place.steps());
        }
    }
    EXPECT_EQ(names.mid(0, 6).removeDuplicates(), 0) << "input and output, and each desktop, name their own";
    EXPECT_EQ(names[4], names[6]) << "two unknown desktops share the mixer";
    EXPECT_TRUE(settingsPlace(Pane::privacyScreenCapture, "XFCE").commands.empty());
}

TEST(SettingsPlaces, TheMixerOpensWhereTheDesktopsProgramIsMissingAndNothingElseIsClaimed)
{
    QTemporaryDir bin;
    ScopedVariable path("PATH", bin.path().toLocal8Bit());
    ScopedVariable desktop("XDG_CURRENT_DESKTOP", "GNOME");
    DesktopWorkspace workspace;

    EXPECT_FALSE(workspace.openSettings(Pane::soundInput)) << "neither the desktop's program nor the mixer is there";
    install(bin, "pavucontrol");
    EXPECT_TRUE(workspace.openSettings(Pane::soundInput));
    EXPECT_EQ(argumentsOf(bin, "pavucontrol"), "--tab=4");
    EXPECT_TRUE(workspace.openSettings(Pane::soundOutput));
    EXPECT_EQ(argumentsOf(bin, "pavucontrol"), "--tab=3");

    install(bin, "gnome-control-center");
    EXPECT_TRUE(workspace.openSettings(Pane::soundOutput));
    EXPECT_EQ(argumentsOf(bin, "gnome-control-center"), "sound");
    EXPECT_FALSE(QFile::exists(bin.filePath("pavucontrol.args")));
}

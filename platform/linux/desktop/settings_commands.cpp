#include "platform/linux/desktop/settings_commands.h"

namespace {

enum class Desktop { gnome, kde, other };

Desktop desktopOf(const QString& currentDesktop)
{
    const QStringList names = currentDesktop.split(':', Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (name.compare("GNOME", Qt::CaseInsensitive) == 0 || name.compare("Unity", Qt::CaseInsensitive) == 0)
            return Desktop::gnome;
        if (name.compare("KDE", Qt::CaseInsensitive) == 0)
            return Desktop::kde;
    }
    return Desktop::other;
}

} // namespace

std::vector<SettingsCommand> settingsCommands(Workspace::SettingsPane pane, const QString& currentDesktop)
{
    // pavucontrol's fourth tab lists the input devices with their volume.
    const SettingsCommand mixer{"pavucontrol", {"--tab=4"}};
    const bool sound = pane != Workspace::SettingsPane::privacyScreenCapture;

    switch (desktopOf(currentDesktop)) {
    case Desktop::gnome:
        if (sound)
            return {{"gnome-control-center", {"sound"}}, mixer};
        return {{"gnome-control-center", {"privacy"}}};
    case Desktop::kde:
        if (sound)
            return {{"systemsettings", {"kcm_pulseaudio"}}, mixer};
        // Plasma has no screen-capture permission page of its own; its
        // settings open at the start.
        return {{"systemsettings", {}}};
    case Desktop::other:
        break;
    }
    if (sound)
        return {mixer};
    return {};
}

#pragma once

#include "platform/workspace.h"

#include <QString>
#include <QStringList>

#include <vector>

// A program that opens one place of a desktop's settings.
struct SettingsCommand {
    QString program;
    QStringList arguments;

    bool operator==(const SettingsCommand&) const = default;
};

// The programs that can open `pane` on the desktop named by
// XDG_CURRENT_DESKTOP (a colon-separated list such as "ubuntu:GNOME"), best
// first. Empty when this desktop has no such place. This is the one place
// that knows which desktop we run on.
std::vector<SettingsCommand> settingsCommands(Workspace::SettingsPane pane, const QString& currentDesktop);

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

// A place of the settings on one desktop: the programs that open it, best
// first, and the way the user finds it there by hand.
struct SettingsPlace {
    // The sections leading there as the settings program names them, such
    // as {"Звук", "Вход"}; empty where this desktop has no such place.
    QStringList path;
    std::vector<SettingsCommand> commands;
    // What to do when none of the commands could be started.
    QString byHand;

    // The path as steps: «Звук» → «Вход».
    QString steps() const;
    // The path as one section: «Звук → Вход».
    QString section() const;
};

// The place for `pane` on the desktop named by XDG_CURRENT_DESKTOP (a
// colon-separated list such as "ubuntu:GNOME"). This table is the one place
// that knows which desktop we run on.
SettingsPlace settingsPlace(Workspace::SettingsPane pane, const QString& currentDesktop);
// The same for the desktop this program runs on.
SettingsPlace settingsPlace(Workspace::SettingsPane pane);

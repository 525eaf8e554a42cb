#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The entry that makes the desktop start a program at login:
// $XDG_CONFIG_HOME/autostart/<id>.desktop (~/.config/autostart without it).
// Plain files, so it works whether or not the program runs.
class AutostartEntry {
public:
    AutostartEntry(const QString& configFolder, const QString& applicationId);
    // Under the user's configuration folder as QStandardPaths names it.
    static AutostartEntry standard(const QString& applicationId);

    QString path() const { return path_; }
    // An application entry the desktop would start: present and not Hidden.
    bool isOn() const;
    // Writes `menuEntry` (the program's menu entry) with its Exec replaced by
    // `program`, so that a program started from a build folder comes back
    // from there. The error text when the file cannot be written.
    std::optional<QString> turnOn(const QByteArray& menuEntry, const QString& program) const;
    // Removes the entry; nothing to do when there is none.
    std::optional<QString> turnOff() const;

private:
    QString path_;
};

// An Exec value that runs `program` with no arguments: quoted by the
// desktop-entry rules when it holds a reserved character, then escaped as a
// string value.
QString desktopExecValue(const QString& program);

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One line of a menu a program exports over com.canonical.dbusmenu, as a
// tray host reads it: "---" for a separator.
struct MenuLine {
    int id = 0;
    QString text;
    bool enabled = true;
    bool operator==(const MenuLine&) const = default;
};

// The top level of the menu `service` exports at `path` (GetLayout).
QList<MenuLine> exportedMenu(const QString& service, const QString& path);
QStringList texts(const QList<MenuLine>& lines);

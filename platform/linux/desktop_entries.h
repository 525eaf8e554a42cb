#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The installed applications as the desktop-entry files describe them, for
// naming the owner of a window.
struct DesktopEntry {
    // "org.example.App.desktop": the path below applications/ with '/' as '-'.
    QString id;
    QString path;
    QString name;
    QString icon;
    QString startupWMClass;
};

class DesktopEntries {
public:
    // Reads every *.desktop file below the given applications folders; an
    // earlier folder hides an entry of the same id in a later one.
    static DesktopEntries scan(const QStringList& applicationFolders, const QString& localeName);
    // $XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS/applications.
    static QStringList standardFolders();

    // The entry of a window whose WM_CLASS is (instance, class): the one that
    // declares the class as StartupWMClass, else the one named after the
    // class, else after the instance (names compared case-insensitively).
    std::optional<DesktopEntry> forWindowClass(const QString& instance, const QString& windowClass) const;

    const std::vector<DesktopEntry>& entries() const { return entries_; }

private:
    std::vector<DesktopEntry> entries_;
};

// One entry file; nothing when it is not an application entry that may be shown.
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& text, const QString& id, const QString& path,
                                              const QString& localeName);

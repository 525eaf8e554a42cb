#pragma once

#include "platform/workspace.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <map>

class QDBusVariant;

// The desktop's dark or light preference, from the portal's Settings
// (org.freedesktop.appearance, color-scheme), kept up to date through its
// SettingChanged signal. Qt 6.4 does not follow GNOME's preference by
// itself. Main thread only.
class PortalColorScheme final : public QObject {
    Q_OBJECT

public:
    // Asks the portal once without waiting; unknown until it answers, and
    // when there is no portal or it does not know the setting.
    explicit PortalColorScheme(QDBusConnection bus);

    Workspace::ColorScheme current() const { return current_; }

    // Registers `changed` for every new choice; the number is the key for remove().
    int add(std::function<void(Workspace::ColorScheme)> changed);
    void remove(int key);

    // The portal's value: 1 prefers dark, 2 prefers light, 0 (no
    // preference) and anything else leave it to the palette.
    static Workspace::ColorScheme fromPortal(const QVariant& value);

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void choose(Workspace::ColorScheme scheme);

    Workspace::ColorScheme current_ = Workspace::ColorScheme::unknown;
    std::map<int, std::function<void(Workspace::ColorScheme)>> observers_;
    int nextKey_ = 0;
};

#pragma once

#include "platform/workspace.h"

// The workspace of a freedesktop.org desktop: xdg-open through Qt, the file
// manager over D-Bus, the settings program of the running desktop.
class DesktopWorkspace final : public Workspace {
public:
    bool openUrl(const QUrl& url) override;
    bool openFolder(const QString& path) override;
    bool revealFile(const QString& path) override;
    bool openSettings(SettingsPane pane) override;

    // Recorded only: a tray application on Linux has no Dock to appear in,
    // the editor window brings its own task-bar entry.
    void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
    ActivationPolicy activationPolicy() const override { return policy_; }

private:
    ActivationPolicy policy_ = ActivationPolicy::accessory;
};

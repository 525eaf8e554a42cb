#pragma once

#include "platform/workspace.h"

class VirtualDesktops;

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

    // Through _NET_CURRENT_DESKTOP and _NET_WM_DESKTOP on X11; nothing
    // elsewhere.
    std::unique_ptr<Observation> observeActiveSpace(std::function<void()> changed) override;
    void moveToActiveSpace(QWindow* window) override;

private:
    // Opened on first use; empty when there is no X server.
    std::shared_ptr<VirtualDesktops> desktops();

    std::shared_ptr<VirtualDesktops> desktops_;
    bool desktopsTried_ = false;
    ActivationPolicy policy_ = ActivationPolicy::accessory;
};

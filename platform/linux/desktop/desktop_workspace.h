#pragma once

#include "platform/workspace.h"

class PortalColorScheme;
class VirtualDesktops;

// The workspace of a freedesktop.org desktop: xdg-open through Qt, the file
// manager over D-Bus, the settings program of the running desktop, the
// colour scheme from the portal.
class DesktopWorkspace final : public Workspace {
public:
    DesktopWorkspace();
    ~DesktopWorkspace() override;

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

    ColorScheme colorScheme() override;
    std::unique_ptr<Observation> observeColorScheme(std::function<void(ColorScheme)> changed) override;

private:
    // Opened on first use; empty when there is no X server.
    std::shared_ptr<VirtualDesktops> desktops();
    // Asked on first use, so that a run that never shows a window does not
    // wait for the portal.
    std::shared_ptr<PortalColorScheme> scheme();

    std::shared_ptr<VirtualDesktops> desktops_;
    bool desktopsTried_ = false;
    std::shared_ptr<PortalColorScheme> scheme_;
    ActivationPolicy policy_ = ActivationPolicy::accessory;
};

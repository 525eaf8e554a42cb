#pragma once

#include "platform/workspace.h"

#include <QStringList>
#include <QUrl>

#include <map>
#include <vector>

// Records every call; each open succeeds unless a test says otherwise.
class FakeWorkspace final : public Workspace {
public:
    bool openUrl(const QUrl& url) override;
    bool openFolder(const QString& path) override;
    bool revealFile(const QString& path) override;
    bool openSettings(SettingsPane pane) override;
    void setActivationPolicy(ActivationPolicy policy) override { policies.push_back(policy); }
    ActivationPolicy activationPolicy() const override
    {
        return policies.empty() ? ActivationPolicy::accessory : policies.back();
    }

    std::unique_ptr<Observation> observeActiveSpace(std::function<void()> changed) override;
    void moveToActiveSpace(QWindow* window) override { movedToActiveSpace.push_back(window); }

    // Tells every registered observer that the user switched desktops.
    void switchSpace();
    int spaceObservers() const { return static_cast<int>(spaceObservers_->size()); }

    ColorScheme colorScheme() override { return scheme; }
    std::unique_ptr<Observation> observeColorScheme(std::function<void(ColorScheme)> changed) override;
    // As if the user chose another look for the desktop.
    void changeColorScheme(ColorScheme chosen);
    int schemeObservers() const { return static_cast<int>(schemeObservers_->size()); }

    std::vector<QUrl> openedUrls;
    QStringList openedFolders;
    QStringList revealedFiles;
    std::vector<SettingsPane> openedSettings;
    std::vector<ActivationPolicy> policies;
    std::vector<QWindow*> movedToActiveSpace;

    // What the opens answer.
    bool succeeds = true;
    ColorScheme scheme = ColorScheme::unknown;

private:
    std::shared_ptr<std::map<int, std::function<void()>>> spaceObservers_ =
        std::make_shared<std::map<int, std::function<void()>>>();
    std::shared_ptr<std::map<int, std::function<void(ColorScheme)>>> schemeObservers_ =
        std::make_shared<std::map<int, std::function<void(ColorScheme)>>>();
    int nextObserver_ = 0;
};

#pragma once

#include "platform/workspace.h"

#include <QStringList>
#include <QUrl>

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

    std::vector<QUrl> openedUrls;
    QStringList openedFolders;
    QStringList revealedFiles;
    std::vector<SettingsPane> openedSettings;
    std::vector<ActivationPolicy> policies;

    // What the opens answer.
    bool succeeds = true;
};

#include "tests/support/fake_workspace.h"

bool FakeWorkspace::openUrl(const QUrl& url)
{
    openedUrls.push_back(url);
    return succeeds;
}

bool FakeWorkspace::openFolder(const QString& path)
{
    openedFolders.append(path);
    return succeeds;
}

bool FakeWorkspace::revealFile(const QString& path)
{
    revealedFiles.append(path);
    return succeeds;
}

bool FakeWorkspace::openSettings(SettingsPane pane)
{
    openedSettings.push_back(pane);
    return succeeds;
}

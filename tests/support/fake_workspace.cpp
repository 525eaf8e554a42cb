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

namespace {

template <class Observer>
class FakeObservation final : public Workspace::Observation {
public:
    FakeObservation(std::weak_ptr<std::map<int, Observer>> observers, int key)
        : observers_(std::move(observers)), key_(key)
    {
    }
    ~FakeObservation() override
    {
        if (const auto observers = observers_.lock())
            observers->erase(key_);
    }

private:
    std::weak_ptr<std::map<int, Observer>> observers_;
    int key_;
};

} // namespace

std::unique_ptr<Workspace::Observation> FakeWorkspace::observeActiveSpace(std::function<void()> changed)
{
    const int key = nextObserver_++;
    spaceObservers_->emplace(key, std::move(changed));
    return std::make_unique<FakeObservation<std::function<void()>>>(spaceObservers_, key);
}

void FakeWorkspace::switchSpace()
{
    std::vector<std::function<void()>> observers;
    for (const auto& [key, observer] : *spaceObservers_)
        observers.push_back(observer);
    for (const auto& observer : observers)
        observer();
}

std::unique_ptr<Workspace::Observation> FakeWorkspace::observeColorScheme(std::function<void(ColorScheme)> changed)
{
    const int key = nextObserver_++;
    schemeObservers_->emplace(key, std::move(changed));
    return std::make_unique<FakeObservation<std::function<void(ColorScheme)>>>(schemeObservers_, key);
}

void FakeWorkspace::changeColorScheme(ColorScheme chosen)
{
    scheme = chosen;
    std::vector<std::function<void(ColorScheme)>> observers;
    for (const auto& [key, observer] : *schemeObservers_)
        observers.push_back(observer);
    for (const auto& observer : observers)
        observer(chosen);
}

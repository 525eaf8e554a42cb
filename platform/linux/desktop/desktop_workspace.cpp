#include "platform/linux/desktop/desktop_workspace.h"

#include "core/log.h"
#include "platform/linux/desktop/virtual_desktops.h"
#include "platform/linux/portal/portal_color_scheme.h"
#include "platform/settings_places.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

DesktopWorkspace::DesktopWorkspace()
    // Asked at once so that the answer is there before the first window needs it.
    : scheme_(std::make_shared<PortalColorScheme>(QDBusConnection::sessionBus()))
{
}

DesktopWorkspace::~DesktopWorkspace() = default;

bool DesktopWorkspace::openUrl(const QUrl& url)
{
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool DesktopWorkspace::openFolder(const QString& path)
{
    if (!QFileInfo(path).isDir())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopWorkspace::revealFile(const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return false;

    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(file.absoluteFilePath()).toString()} << QString();
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (answer.type() == QDBusMessage::ReplyMessage)
        return true;
    return openFolder(file.absolutePath());
}

bool DesktopWorkspace::openSettings(SettingsPane pane)
{
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    for (const SettingsCommand& command : settingsPlace(pane, desktop).commands) {
        if (QStandardPaths::findExecutable(command.program).isEmpty())
            continue;
        if (QProcess::startDetached(command.program, command.arguments))
            return true;
        Log::warn("не удалось запустить " + command.program);
    }
    Log::info("нечем открыть настройки " + settingsAnchor(pane) + " на рабочем столе «" + desktop + "»");
    return false;
}

namespace {

// Ends a registration with `source` unless the source went first.
template <class Source>
class KeyedObservation final : public Workspace::Observation {
public:
    KeyedObservation(std::weak_ptr<Source> source, int key) : source_(std::move(source)), key_(key) {}
    ~KeyedObservation() override
    {
        if (const auto source = source_.lock())
            source->remove(key_);
    }

private:
    std::weak_ptr<Source> source_;
    int key_;
};

// Window numbers are X11 window ids only on the xcb platform.
bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

std::shared_ptr<VirtualDesktops> DesktopWorkspace::desktops()
{
    if (!desktopsTried_ && onX11()) {
        desktopsTried_ = true;
        desktops_ = VirtualDesktops::open();
    }
    return desktops_;
}

std::unique_ptr<Workspace::Observation> DesktopWorkspace::observeActiveSpace(std::function<void()> changed)
{
    const auto watcher = desktops();
    if (!watcher)
        return std::make_unique<Observation>();
    return std::make_unique<KeyedObservation<VirtualDesktops>>(watcher, watcher->add(std::move(changed)));
}

void DesktopWorkspace::moveToActiveSpace(QWindow* window)
{
    const auto watcher = desktops();
    if (watcher && window)
        watcher->moveToCurrent(static_cast<uint32_t>(window->winId()));
}

std::shared_ptr<PortalColorScheme> DesktopWorkspace::scheme()
{
    return scheme_;
}

Workspace::ColorScheme DesktopWorkspace::colorScheme()
{
    return scheme()->current();
}

std::unique_ptr<Workspace::Observation> DesktopWorkspace::observeColorScheme(std::function<void(ColorScheme)> changed)
{
    const auto source = scheme();
    return std::make_unique<KeyedObservation<PortalColorScheme>>(source, source->add(std::move(changed)));
}

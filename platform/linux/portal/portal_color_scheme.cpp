#include "platform/linux/portal/portal_color_scheme.h"

#include "core/log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <vector>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

} // namespace

PortalColorScheme::PortalColorScheme(QDBusConnection bus)
{
    // The change signal first, so that nothing said between the two is lost.
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString,QString,QDBusVariant)));
    // Not waited for: a portal that is slow to start must not hold up the
    // window that asks first; the answer reaches it as a change.
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
    read << appearance << colorSchemeKey;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusMessage answer = call->reply();
        if (answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty())
            choose(fromPortal(answer.arguments().constFirst()));
        else
            Log::info(QStringLiteral("тема рабочего стола неизвестна, окна берут цвета палитры: ") + answer.errorMessage());
    });
}

Workspace::ColorScheme PortalColorScheme::fromPortal(const QVariant& value)
{
    // Read answers the value wrapped in one variant more than the signal does.
    QVariant inner = value;
    while (inner.userType() == qMetaTypeId<QDBusVariant>())
        inner = inner.value<QDBusVariant>().variant();
    bool number = false;
    const uint scheme = inner.toUInt(&number);
    if (number && scheme == 1)
        return Workspace::ColorScheme::dark;
    if (number && scheme == 2)
        return Workspace::ColorScheme::light;
    return Workspace::ColorScheme::unknown;
}

int PortalColorScheme::add(std::function<void(Workspace::ColorScheme)> changed)
{
    const int key = nextKey_++;
    observers_.emplace(key, std::move(changed));
    return key;
}

void PortalColorScheme::remove(int key)
{
    observers_.erase(key);
}

void PortalColorScheme::settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group != appearance || key != colorSchemeKey)
        return;
    choose(fromPortal(value.variant()));
}

void PortalColorScheme::choose(Workspace::ColorScheme scheme)
{
    if (scheme == current_)
        return;
    current_ = scheme;
    // An observer may end its own or another registration while being told.
    std::vector<int> keys;
    for (const auto& [observerKey, observer] : observers_)
        keys.push_back(observerKey);
    for (int observerKey : keys) {
        const auto found = observers_.find(observerKey);
        if (found == observers_.end())
            continue;
        auto observer = found->second;
        observer(scheme);
    }
}

#include "platform/linux/desktop/freedesktop_notifications.h"

#include "core/log.h"
#include "core/version.h"
#include "platform/linux/linux_platform.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QPointer>

#include <qcoro/qcorodbuspendingcall.h>

#include <map>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

// Hears which button of which notification was pressed, and forgets a
// notification once it is closed.
class FreedesktopNotifications::Listener final : public QObject {
    Q_OBJECT

public:
    std::map<uint, Chosen> waiting;

public slots:
    void actionInvoked(uint id, const QString& key)
    {
        const auto found = waiting.find(id);
        if (found == waiting.end())
            return;
        // Once only, and taken out first: the button's work may show
        // another notification.
        const Chosen chosen = std::move(found->second);
        waiting.erase(found);
        bool number = false;
        const int action = key.toInt(&number);
        if (number && chosen)
            chosen(action);
    }

    void closed(uint id, uint) { waiting.erase(id); }
};

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus)
    : listener_(std::make_unique<Listener>())
    , bus_(std::move(bus))
{
    // From any sender: the server's unique name may change when it restarts.
    bus_.connect(QString(), path, interface, QStringLiteral("ActionInvoked"), listener_.get(),
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(QString(), path, interface, QStringLiteral("NotificationClosed"), listener_.get(),
                 SLOT(closed(uint, uint)));
}

FreedesktopNotifications::~FreedesktopNotifications() = default;

QCoro::Task<bool> FreedesktopNotifications::show(Notification notification, Chosen chosen)
{
    if (!bus_.isConnected())
        co_return false;
    // Each button's key is its index; the server shows the titles.
    QStringList actions;
    for (int i = 0; i < notification.actions.size(); ++i)
        actions << QString::number(i) << notification.actions[i];
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Korvala") << uint(0) << QStringLiteral(KORVALA_APP_ID) << notification.title
         << notification.text << actions
         << QVariantMap {{QStringLiteral("desktop-entry"), QStringLiteral(KORVALA_APP_ID)}} << int(-1);
    QPointer<Listener> listener(listener_.get());
    const QDBusMessage reply = co_await bus_.asyncCall(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        Log::info("уведомление не показано: " + reply.errorMessage());
        co_return false;
    }
    if (listener)
        listener->waiting[reply.arguments().first().toUInt()] = std::move(chosen);
    co_return true;
}

std::unique_ptr<DesktopNotifications> LinuxPlatform::desktopNotifications()
{
    return std::make_unique<FreedesktopNotifications>();
}

#include "freedesktop_notifications.moc"

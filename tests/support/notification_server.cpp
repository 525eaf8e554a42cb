#include "tests/support/notification_server.h"

#include <QDBusConnectionInterface>

QStringList NotificationServer::Shown::buttons() const
{
    QStringList titles;
    for (int i = 1; i < actions.size(); i += 2)
        titles << actions[i];
    return titles;
}

QString NotificationServer::Shown::key(const QString& title) const
{
    for (int i = 1; i < actions.size(); i += 2) {
        if (actions[i] == title)
            return actions[i - 1];
    }
    return {};
}

bool NotificationServer::registerOn(QDBusConnection bus)
{
    return bus.registerObject("/org/freedesktop/Notifications", this,
                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
        && bus.registerService("org.freedesktop.Notifications");
}

void NotificationServer::press(uint id, const QString& key)
{
    emit ActionInvoked(id, key);
    emit NotificationClosed(id, 2);
}

uint NotificationServer::Notify(const QString& application, uint, const QString& icon, const QString& title,
                                const QString& text, const QStringList& actions, const QVariantMap& hints, int)
{
    const uint id = uint(shown.size()) + 1;
    shown.push_back({id, application, icon, title, text, actions, hints});
    return id;
}

QStringList NotificationServer::GetCapabilities()
{
    return {"actions", "body"};
}

void NotificationServer::CloseNotification(uint id)
{
    emit NotificationClosed(id, 3);
}

#pragma once

#include "platform/desktop_notifications.h"

#include <QDBusConnection>

#include <memory>

// Notifications through the desktop's org.freedesktop.Notifications server
// on the session bus, under the name "Korvala" with the program's icon.
class FreedesktopNotifications final : public DesktopNotifications {
public:
    explicit FreedesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus());
    ~FreedesktopNotifications() override;

    QCoro::Task<bool> show(Notification notification, Chosen chosen) override;

private:
    class Listener;
    std::unique_ptr<Listener> listener_;
    QDBusConnection bus_;
};

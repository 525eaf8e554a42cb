#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <functional>

// The desktop's notifications: a title, a text and buttons, shown by the
// desktop outside our menu, so they reach the user whatever they look at.
class DesktopNotifications {
public:
    struct Notification {
        QString title;
        QString text;
        // Button titles, in order.
        QStringList actions;
    };
    // The index in `actions` of the button pressed.
    using Chosen = std::function<void(int action)>;

    virtual ~DesktopNotifications() = default;

    // Shows `notification`; `chosen` runs on the main thread, at most once,
    // if the user presses one of its buttons. False when the desktop has no
    // notification server to show it.
    virtual QCoro::Task<bool> show(Notification notification, Chosen chosen) = 0;
};

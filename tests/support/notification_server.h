#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

// A desktop notification server of the test's own on the session bus: it
// keeps every Notify it is sent and presses a button when the test says so.
class NotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        uint id;
        QString application;
        QString icon;
        QString text;
        // Keys and titles in turn, as sent.
        QStringList actions;

        QStringList buttons() const
        {
            QStringList titles;
            for (qsizetype i = 1; i < actions.size(); i += 2)
                titles << actions[i];
            return titles;
        }
        // The key of the button titled `title`; empty when there is none.
        QString key(const QString& title) const
        {
            const qsizetype at = actions.indexOf(title);
            return at > 0 && at % 2 == 1 ? actions[at - 1] : QString();
        }
    };

    // False when the bus is missing or another server holds the name.
    bool registerOn(QDBusConnection bus)
    {
        return bus.registerObject("/org/freedesktop/Notifications", this,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
            && bus.registerService("org.freedesktop.Notifications");
    }
    void press(uint id, const QString& key) { emit ActionInvoked(id, key); }

    std::vector<Shown> shown;

public slots:
    uint Notify(const QString& application, uint, const QString& icon, const QString&, const QString& text,
                const QStringList& actions, const QVariantMap&, int)
    {
        shown.push_back({uint(shown.size()) + 1, application, icon, text, actions});
        return shown.back().id;
    }

signals:
    void ActionInvoked(uint id, const QString& key);
};

#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
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
        QString title;
        QString text;
        // Keys and titles in turn, as sent.
        QStringList actions;
        QVariantMap hints;

        // The title of each button.
        QStringList buttons() const;
        // The key of the button titled `title`; empty when there is none.
        QString key(const QString& title) const;
    };

    // False when the bus is missing or another server holds the name.
    bool registerOn(QDBusConnection bus);
    // The user pressed the button `key` of notification `id`.
    void press(uint id, const QString& key);

    std::vector<Shown> shown;

public slots:
    uint Notify(const QString& application, uint replaces, const QString& icon, const QString& title,
                const QString& text, const QStringList& actions, const QVariantMap& hints, int timeout);
    QStringList GetCapabilities();
    void CloseNotification(uint id);

signals:
    void ActionInvoked(uint id, const QString& key);
    void NotificationClosed(uint id, uint reason);
};

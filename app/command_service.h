#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

class MenuBarController;

// The running instance on the session bus, so that `korvala COMMAND`, global
// shortcuts and status bars can drive it. Owning the bus name is also what
// keeps a second instance from starting.
class CommandService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.korvala.Korvala")

public:
    static const QString serviceName;
    static const QString objectPath;
    static const QString interfaceName;
    // Error names the client turns into exit status 2.
    static const QString notOfferedError;
    static const QString notAvailableError;

    enum class Registration { owned, alreadyRunning, noBus };

    explicit CommandService(MenuBarController& controller);

    // Exports the object, then asks for the name without queueing for it.
    Registration registerOn(QDBusConnection bus);

public slots:
    Q_SCRIPTABLE QString Status();
    Q_SCRIPTABLE QStringList Menu();
    // "id<TAB>title<TAB>subtitle" a line.
    Q_SCRIPTABLE QStringList Targets();
    // Runs the menu item of a command if the menu offers it now; answers at
    // once, before the item's work begins.
    Q_SCRIPTABLE void Run(const QString& command);

signals:
    Q_SCRIPTABLE void StatusChanged(const QString& text);

private:
    QCoro::Task<> answerTargets(QDBusMessage request, QDBusConnection bus);

    QPointer<MenuBarController> controller_;
};

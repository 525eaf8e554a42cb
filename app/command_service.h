#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include "app/menu_bar_controller.h"

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
    // The answer of Targets() and RecordVideo() where the desktop picks.
    static const QString desktopPicksMessage;

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
    // Starts a video recording of a target as `korvala targets` names it
    // ("display-N", "window-N"), as picking its tile would; only while the
    // menu offers "Начать видеозапись…". Where the desktop picks the screen
    // or window itself (Wayland), neither this nor Targets() has anything
    // to name: both answer how to record there instead.
    Q_SCRIPTABLE void RecordVideo(const QString& target);

    // The offers to record a call: "on", "off", or anything else to only
    // ask. Answers whether they are on.
    Q_SCRIPTABLE bool CallWatch(const QString& mode);

signals:
    Q_SCRIPTABLE void StatusChanged(const QString& text);

private:
    // Answers a command the controller did not take with the reason.
    void refuse(MenuBarController::CommandOutcome outcome, const QString& command);
    QCoro::Task<> answerTargets(QDBusMessage request, QDBusConnection bus);

    QPointer<MenuBarController> controller_;
};

#include "app/command_client.h"
#include "app/command_service.h"
#include "core/clock.h"
#include "core/log.h"
#include "app/menu_bar_controller.h"
#include "app/session_end.h"
#include "core/version.h"
#include "capture/capture_choices.h"
#include "platform/linux/desktop/autostart_entry.h"
#include "platform/linux/desktop/desktop_workspace.h"
#include "platform/linux/desktop/message_box_alerts.h"
#include "platform/linux/linux_platform.h"
#include "platform/restore_token_keeper.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {

// The desktop's permission to share the screen, kept beside the other
// settings so that it asks once rather than at every recording.
class StoredRestoreToken final : public RestoreTokenKeeper {
public:
    QString restoreToken() const override { return Store(*settings_).portalRestoreToken(); }
    void keepRestoreToken(const QString& token) override { Store(*settings_).setPortalRestoreToken(token); }

private:
    std::unique_ptr<QSettings> settings_ = Store::openStandard();
};

int runCommand(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString argument = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    return CommandClient::run(QString::fromLocal8Bit(argv[1]), out, err, argument);
}

// `korvala autostart on|off|status`: files only, so it needs no running
// instance and no session bus.
int runAutostart(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const AutostartEntry entry = AutostartEntry::standard(QStringLiteral(KORVALA_APP_ID));
    const QString action = QString::fromLocal8Bit(argv[2]);
    std::optional<QString> failure;
    if (action == QLatin1String("on")) {
        QFile menuEntry(QStringLiteral(":/entry/" KORVALA_APP_ID ".desktop"));
        menuEntry.open(QIODevice::ReadOnly);
        failure = entry.turnOn(menuEntry.readAll(), QCoreApplication::applicationFilePath());
    } else if (action == QLatin1String("off")) {
        failure = entry.turnOff();
    } else if (action != QLatin1String("status")) {
        err << CommandClient::usage();
        return 2;
    }
    if (failure) {
        err << *failure << "\n";
        return 1;
    }
    out << (entry.isOn() ? "Korvala запускается при входе в систему: " + entry.path()
                         : QStringLiteral("Korvala не запускается при входе в систему"))
        << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        if (std::strcmp(argv[1], "--version") == 0) {
            std::printf("korvala %s\n", KORVALA_VERSION);
            return 0;
        }
        const QString command = QString::fromLocal8Bit(argv[1]);
        if (argc == 3 && command == QLatin1String("autostart"))
            return runAutostart(argc, argv);
        if (argc == 2 && CommandClient::isCommand(command))
            return runCommand(argc, argv);
        if (argc == 3 && CommandClient::takesArgument(command))
            return runCommand(argc, argv);
        QTextStream err(stderr);
        err << CommandClient::usage();
        return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("korvala");
    QApplication::setApplicationVersion(KORVALA_VERSION);
    QApplication::setDesktopFileName(KORVALA_APP_ID);
    // Alerts and windows come and go; only "Выйти" ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    Log::setJournal(LinuxPlatform::systemJournal());
    const auto capture = LinuxPlatform::screenCaptureForSession(std::make_shared<StoredRestoreToken>());

    // The one clock of the run, for every wait and every "now".
    SystemClock clock;
    MenuBarController::Dependencies dependencies;
    dependencies.defaults = Store::openStandard();
    dependencies.alerts = std::make_unique<MessageBoxAlerts>();
    dependencies.workspace = std::make_unique<DesktopWorkspace>();
    dependencies.recorder = {LinuxPlatform::microphoneInput(), capture, LinuxPlatform::audioMedia(),
                             LinuxPlatform::videoMedia()};
    // A screenshot reads only the selected part of its display, scaled as
    // the whole display's picture would be.
    dependencies.captureArea = [capture, &clock](const SelectedArea& area) {
        return CaptureChoices::capture(capture, clock, CaptureTarget::display(area.displayID), std::nullopt,
                                       [area](QSize whole) { return Screenshot::crop(whole, area); });
    };
    dependencies.captureLines = [capture] { return MenuBarController::captureChoiceLines(capture); };
    dependencies.callStreams = LinuxPlatform::callStreams();
    dependencies.notifications = LinuxPlatform::desktopNotifications();
    MenuBarController controller(std::move(dependencies), clock);

    CommandService service(controller);
    switch (service.registerOn(QDBusConnection::sessionBus())) {
    case CommandService::Registration::owned:
        break;
    case CommandService::Registration::alreadyRunning:
        std::fputs("Korvala уже запущена: её значок в области уведомлений.\n", stdout);
        return 0;
    case CommandService::Registration::noBus:
        Log::warn("нет сеансовой шины D-Bus: команды korvala не будут работать, второй экземпляр не распознать");
        break;
    }

    // Logout, Ctrl+C or a closed terminal finish the recording's files
    // before the program goes.
    const SessionEnd sessionEnd([&controller] { controller.endSession(); });
    controller.launch();
    return app.exec();
}

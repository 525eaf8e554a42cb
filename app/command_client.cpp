#include "app/command_client.h"

#include "app/command_service.h"
#include "app/menu_bar_controller.h"
#include "core/store.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace CommandClient {

namespace {

const QStringList queries = {"status", "menu", "targets"};
const QStringList callWatchModes = {"on", "off", "status"};

QString callWatchLine(bool on)
{
    return on ? QStringLiteral("Предложения записать звонок включены") : QStringLiteral("Предложения записать звонок выключены");
}

// The choice is a setting: without a running Korvala it is kept for the
// next start.
int callWatch(const QString& mode, QTextStream& out, QTextStream& err)
{
    if (!callWatchModes.contains(mode)) {
        err << "Нужно on, off или status: korvala call-watch on|off|status\n";
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()->isServiceRegistered(CommandService::serviceName).value()) {
        QDBusMessage call = QDBusMessage::createMethodCall(CommandService::serviceName, CommandService::objectPath,
                                                           CommandService::interfaceName, "CallWatch");
        call << mode;
        const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            err << reply.errorMessage() << "\n";
            return 1;
        }
        out << callWatchLine(reply.arguments().value(0).toBool()) << "\n";
        return 0;
    }
    const auto settings = Store::openStandard();
    Store store(*settings);
    if (mode != QLatin1String("status"))
        store.setCallWatch(mode == QLatin1String("on"));
    out << callWatchLine(store.callWatch()) << "\n";
    return 0;
}

} // namespace

bool isCommand(const QString& word)
{
    return queries.contains(word) || MenuBarController::commandNames().contains(word);
}

bool takesArgument(const QString& command)
{
    return command == QLatin1String("record-video") || command == QLatin1String("call-watch");
}

QString usage()
{
    return QStringLiteral(
        "Использование: korvala [КОМАНДА]\n"
        "Без команды запускает Korvala в области уведомлений.\n"
        "Команды запущенной Korvala:\n"
        "  status        строка состояния\n"
        "  menu          пункты меню, по одному в строке\n"
        "  targets       что можно записать на видео: id, название, подпись\n"
        "  %1\n"
        "                пункты меню; работают, только когда меню их предлагает\n"
        "  record-video ID\n"
        "                видеозапись цели из korvala targets, без окна выбора\n"
        "  call-watch on|off|status\n"
        "                предлагать ли запись, когда другая программа включает микрофон\n"
        "                (без запущенной Korvala меняет настройку)\n"
        "Без запущенной Korvala:\n"
        "  autostart on|off|status\n"
        "                запускать ли Korvala при входе в систему\n"
        "  --version     версия\n")
        .arg(MenuBarController::commandNames().join(' '));
}

int run(const QString& command, QTextStream& out, QTextStream& err, const QString& argument)
{
    if (!isCommand(command) && !takesArgument(command)) {
        err << "Нет такой команды: " << command << "\n" << usage();
        return 2;
    }
    if (command == QLatin1String("call-watch"))
        return callWatch(argument, out, err);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(CommandService::serviceName).value()) {
        err << "Korvala не запущена. Запустите её командой korvala.\n";
        return 1;
    }

    QString method = command == "status" ? "Status" : command == "menu" ? "Menu" : command == "targets" ? "Targets" : "Run";
    if (!argument.isEmpty())
        method = QStringLiteral("RecordVideo");
    QDBusMessage call = QDBusMessage::createMethodCall(CommandService::serviceName, CommandService::objectPath,
                                                       CommandService::interfaceName, method);
    if (method == "Run")
        call << command;
    else if (method == "RecordVideo")
        call << argument;
    // Listing capture targets reads window pictures and may take a while.
    const QDBusMessage reply = bus.call(call, QDBus::Block, method == "Targets" ? 60000 : 10000);

    if (reply.type() == QDBusMessage::ErrorMessage) {
        err << reply.errorMessage() << "\n";
        const bool refused = reply.errorName() == CommandService::notOfferedError
            || reply.errorName() == CommandService::notAvailableError;
        return refused ? 2 : 1;
    }
    for (const QVariant& value : reply.arguments()) {
        if (value.typeId() == QMetaType::QStringList) {
            for (const QString& line : value.toStringList())
                out << line << "\n";
        } else if (value.typeId() == QMetaType::QString) {
            out << value.toString() << "\n";
        }
    }
    return 0;
}

} // namespace CommandClient

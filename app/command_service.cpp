#include "app/command_service.h"

#include "app/menu_bar_controller.h"
#include "core/version.h"
#include "platform/outside_text.h"

#include <QDBusConnectionInterface>

const QString CommandService::serviceName = QStringLiteral(KORVALA_APP_ID);
const QString CommandService::objectPath = QStringLiteral("/app/korvala/Korvala");
const QString CommandService::interfaceName = QStringLiteral("app.korvala.Korvala");
const QString CommandService::notOfferedError = QStringLiteral("app.korvala.Korvala.Error.NotOffered");
const QString CommandService::notAvailableError = QStringLiteral("app.korvala.Korvala.Error.NotAvailable");
const QString CommandService::desktopPicksMessage = QStringLiteral(
    "Здесь экран или окно для видеозаписи выбирают в окне самого рабочего стола, а не по списку Korvala: "
    "начните запись командой korvala record-video без ID");

CommandService::CommandService(MenuBarController& controller) : controller_(&controller)
{
    connect(&controller, &MenuBarController::statusLineChanged, this,
            [this](const QString& text) { emit StatusChanged(OutsideText::terminalLine(text)); });
}

CommandService::Registration CommandService::registerOn(QDBusConnection bus)
{
    if (!bus.isConnected())
        return Registration::noBus;
    // The object first: whoever sees the name can call it at once.
    bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        serviceName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Registration::owned;
    bus.unregisterObject(objectPath);
    return reply.isValid() ? Registration::alreadyRunning : Registration::noBus;
}

QString CommandService::Status()
{
    return controller_ ? OutsideText::terminalLine(controller_->statusLine()) : QString();
}

QStringList CommandService::Menu()
{
    QStringList lines;
    if (controller_) {
        for (const QString& line : controller_->menuLines())
            lines.append(OutsideText::terminalLine(line));
    }
    return lines;
}

QStringList CommandService::Targets()
{
    if (controller_ && controller_->desktopPicksContent()) {
        sendErrorReply(notAvailableError, desktopPicksMessage);
        return {};
    }
    if (!controller_ || !controller_->canListCaptureTargets()) {
        sendErrorReply(notAvailableError, QStringLiteral("Выбор источника записи появится в одной из следующих версий"));
        return {};
    }
    setDelayedReply(true);
    answerTargets(message(), connection());
    return {};
}

QCoro::Task<> CommandService::answerTargets(QDBusMessage request, QDBusConnection bus)
{
    QPointer<CommandService> self(this);
    const auto lines = co_await controller_->captureTargets();
    if (!self)
        co_return;
    QStringList answer;
    for (const MenuBarController::CaptureLine& line : lines)
        answer.append(line.id + '\t' + OutsideText::terminalLine(line.title) + '\t' +
                      OutsideText::terminalLine(line.subtitle));
    bus.send(request.createReply(answer));
}

void CommandService::Run(const QString& command)
{
    if (controller_)
        refuse(controller_->trigger(command), command);
}

void CommandService::RecordVideo(const QString& id)
{
    if (!controller_)
        return;
    if (controller_->desktopPicksContent()) {
        sendErrorReply(notAvailableError, desktopPicksMessage);
        return;
    }
    const std::optional<CaptureTarget> target = CaptureTarget::fromString(id);
    if (!target || (target->kind() != CaptureTarget::Kind::Display && target->kind() != CaptureTarget::Kind::Window)) {
        sendErrorReply(QDBusError::InvalidArgs,
                       "Не понимаю, что записывать: «" + id + "». Годятся display-N и window-N из korvala targets");
        return;
    }
    refuse(controller_->recordVideo(*target), QStringLiteral("record-video"));
}

bool CommandService::CallWatch(const QString& mode)
{
    if (!controller_)
        return false;
    if (mode == QLatin1String("on") || mode == QLatin1String("off"))
        controller_->setCallWatch(mode == QLatin1String("on"));
    return controller_->callWatchOn();
}

void CommandService::refuse(MenuBarController::CommandOutcome outcome, const QString& command)
{
    switch (outcome) {
    case MenuBarController::CommandOutcome::started:
        return;
    case MenuBarController::CommandOutcome::notOffered:
        sendErrorReply(notOfferedError,
                       "Сейчас в меню нет пункта «" + MenuBarController::titleOfCommand(command) + "»");
        return;
    case MenuBarController::CommandOutcome::waitingForAnswer:
        sendErrorReply(notOfferedError, QStringLiteral("Korvala ждёт ответа в открытом окне — сначала ответьте там"));
        return;
    case MenuBarController::CommandOutcome::unknown:
        sendErrorReply(QDBusError::InvalidArgs, "Нет такой команды: " + command);
        return;
    }
}

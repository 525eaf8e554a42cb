#include "app/menu_bar_controller.h"

#include "app/call_watch.h"
#include "app/recording_flow.h"
#include "app/toast.h"
#include "app/tray_icon.h"
#include "capture/capture_choices.h"
#include "core/described_error.h"
#include "core/log.h"
#include "capture/capture_choices.h"
#include "capture/capture_picker_window.h"
#include "core/clock.h"
#include "platform/outside_text.h"
#include "service/limit_flow.h"
#include "service/recovery_flow.h"
#include "service/pending_uploads.h"
#include "service/sign_in_flow.h"
#include "service/sign_in_window.h"
#include "service/update_flow.h"
#include "service/upload_flow.h"
#include "shots/screenshot_flow.h"
#include "shots/share_flow.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>

#include <typeinfo>

// The images are compiled into the static core library, where nothing would
// otherwise pull them into the program.
static void loadResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

// Command names of `korvala COMMAND` and the menu titles that carry them.
struct Command {
    const char* name;
    const char* title;
};

const Command commands[] = {
    {"sign-in", "Войти…"},
    {"record-audio", "Начать аудиозапись"},
    {"record-video", "Начать видеозапись…"},
    {"stop", "Остановить и отправить"},
    {"screenshot", "Сделать снимок…"},
    {"reveal-shot", "Открыть снимок"},
    {"open-site", "Мои расшифровки…"},
    {"open-folder", "Папка с записями…"},
    {"update", "Есть обновление — скачать…"},
    {"quit", "Выйти"},
};

const QString separatorLine = QStringLiteral("---");

} // namespace

std::optional<Workspace::SettingsPane> settingsPaneFor(const std::exception& error)
{
    const auto* described = dynamic_cast<const DescribedError*>(&error);
    if (!described)
        return std::nullopt;
    const QString name = described->debugName();
    // A refused screen is not reported: the recording goes on without the
    // picture, and no settings page grants what the desktop asks at the start.
    if (name == "Recorder.Failure.microphoneDenied")
        return Workspace::SettingsPane::soundInput;
    return std::nullopt;
}

MenuBarController::MenuBarController(Dependencies dependencies, Clock& clock)
    : defaults_(std::move(dependencies.defaults))
    , store_(*defaults_)
    , alerts_(std::move(dependencies.alerts))
    , workspace_(std::move(dependencies.workspace))
    , clock_(clock)
    , hasShot_(std::move(dependencies.hasShot))
    , captureLines_(std::move(dependencies.captureLines))
    , trayImage_(std::move(dependencies.trayImage))
    , trayAvailable_(std::move(dependencies.trayAvailable))
{
    // Every flow builds its Api from the settings right before its calls.
    const ApiFactory api = [store = store_] { return Api::from(store); };
    const std::shared_ptr<ScreenCapture> capture = dependencies.recorder.capture;
    limit_ = std::make_unique<LimitFlow>(store_, api, *this);
    pending_ = std::make_unique<PendingUploads>(store_);
    upload_ = std::make_unique<UploadFlow>(store_, api, *workspace_, *this, *this, clock_, *limit_, *pending_);
    signIn_ = std::make_unique<SignInFlow>(store_, api, *this, *limit_, *workspace_);
    update_ = std::make_unique<UpdateFlow>(store_, api, *alerts_, *workspace_, clock_, *this);
    recording_ = std::make_unique<RecordingFlow>(store_, std::move(dependencies.recorder), *alerts_, *workspace_,
                                                 *this, *this, clock_, *upload_);
    recovery_ = std::make_unique<RecoveryFlow>(store_, recording_->recorder(), *alerts_, *this, *this, *upload_);
    share_ = std::make_unique<ShareFlow>(store_, api, *workspace_, *this, *this, *this);
    screenshot_ = std::make_unique<ScreenshotFlow>(store_, *workspace_, *this, *this, clock_, *share_, capture,
                                                   std::move(dependencies.captureArea));
    if (!hasShot_)
        hasShot_ = [this] { return screenshot_->holdsShot(); };
    if (!trayAvailable_)
        trayAvailable_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    callStreams_ = std::move(dependencies.callStreams);
    notifications_ = std::move(dependencies.notifications);
    if (callStreams_ && notifications_) {
        // The offers' buttons run the menu's commands under the menu's own
        // conditions.
        callWatch_ = std::make_unique<CallWatch>(
            store_, *callStreams_, *notifications_, *this, clock_,
            CallWatch::Commands {[this] { trigger(QStringLiteral("record-audio")); },
                                 [this] { trigger(QStringLiteral("stop")); }});
        recording_->onRecordingChanged([this](bool recording) {
            if (recording)
                callWatch_->recordingStarted();
            else
                callWatch_->recordingStopped();
        });
    }
    loadResources();
    connect(&menu_, &QMenu::aboutToShow, this, &MenuBarController::menuWillOpen);
    connect(&menu_, &QMenu::aboutToHide, this, &MenuBarController::menuDidClose);
    connect(&item_, &QSystemTrayIcon::activated, this, &MenuBarController::iconActivated);
}

MenuBarController::~MenuBarController()
{
    item_.setContextMenu(nullptr);
    // A stop still finishing its files outlives the watch.
    recording_->onRecordingChanged(nullptr);
    callWatch_.reset();
}

void MenuBarController::launch()
{
    workspace_->setActivationPolicy(Workspace::ActivationPolicy::accessory);
    item_.setIcon(trayIcon(trayImage_));
    item_.setToolTip(OutsideText::trayToolTip(QStringLiteral("Korvala — ") + statusLine_));
    item_.setContextMenu(&menu_);
    rebuildMenu();
    item_.show();
    // A session starts its panel and its programs side by side, so the tray
    // often comes up a moment after us; Qt puts the icon in it then.
    clock_.after(trayWaitSeconds, this, [this] {
        if (!trayAvailable_())
            Log::warn("на панели нет области значков: значок Korvala появится, когда она появится");
    });
    // Tasks that run on their own; none waits for another, and the launch
    // waits for none. The first two end quietly on any failure.
    limit_->refreshLimit();
    update_->checkVersion();
    recovery_->recover();
    upload_->sendWaiting();
    if (callWatch_)
        callWatch_->start();
}

QAction* MenuBarController::addCommand(QMenu& menu, const QString& title, const QString& command,
                                       std::function<void()> action)
{
    QAction* entry = menu.addAction(title);
    entry->setObjectName(command);
    // Queued: the slot runs from the event loop after the menu has closed
    // and rebuilt itself, never inside the click of an item being replaced.
    connect(entry, &QAction::triggered, this, [action = std::move(action)] { action(); }, Qt::QueuedConnection);
    return entry;
}

void MenuBarController::rebuildMenu()
{
    // The old items go later rather than now: the close that triggers a
    // rebuild comes before the clicked item reports its click.
    for (QAction* old : menu_.actions()) {
        menu_.removeAction(old);
        old->deleteLater();
    }

    fillMenu(menu_);
}

void MenuBarController::fillMenu(QMenu& menu)
{
    menu.addAction(OutsideText::menuTitle(statusLine_))->setEnabled(false);
    menu.addSeparator();

    if (const auto& offer = update_->offer()) {
        const QString title = offer->title.value_or(QStringLiteral("Есть обновление"));
        addCommand(menu, OutsideText::menuTitle(title + QStringLiteral(" — скачать…")), "update", [this] { update_->openUpdate(); });
        menu.addSeparator();
    }

    if (!store_.token()) {
        addCommand(menu, "Войти…", "sign-in", [this] { signIn_->signIn(); });
    } else if (recording_->recorder().isRecording()) {
        addCommand(menu, "Остановить и отправить", "stop", [this] { recording_->stop(); });
    } else {
        addCommand(menu, "Начать аудиозапись", "record-audio", [this] { recording_->recordAudio(); });
        addCommand(menu, "Начать видеозапись…", "record-video", [this] { recording_->pickCapture(); });
        menu.addSeparator();
        addCommand(menu, "Сделать снимок…", "screenshot", [this] { screenshot_->takeScreenshot(); });
        if (hasShot_())
            addCommand(menu, "Открыть снимок", "reveal-shot", [this] { screenshot_->revealShot(); });
    }

    menu.addSeparator();
    addCommand(menu, "Мои расшифровки…", "open-site", [this] { upload_->openSite(); });
    addCommand(menu, "Папка с записями…", "open-folder", [this] { openFolder(); });
    menu.addSeparator();
    addCommand(menu, "Выйти", "quit", [this] { quit(); })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MenuBarController::showStatus(const QString& text)
{
    statusLine_ = text;
    item_.setToolTip(OutsideText::trayToolTip(QStringLiteral("Korvala — ") + text));
    emit statusLineChanged(text);

    if (!menu_.activeAction() && !menuHeldOpen()) {
        rebuildMenu();
        return;
    }
    const QList<QAction*> actions = menu_.actions();
    if (!actions.isEmpty())
        actions.first()->setText(OutsideText::menuTitle(text));
}

void MenuBarController::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    // The secondary click opens the menu by itself: Qt pops it up on an
    // embedded icon, and a StatusNotifierItem host draws the exported one.
    // The primary click reaches us only as this activation (a host's
    // Activate call carries no position Qt passes on), so the menu opens
    // where the pointer is, which is on the icon just clicked.
    if (reason == QSystemTrayIcon::Trigger && !menu_.isVisible())
        menu_.popup(QCursor::pos());
}

void MenuBarController::menuWillOpen()
{
    rebuildMenu();
    isMenuOpen_ = true;
    openedAt_ = clock_.uptime();
}

bool MenuBarController::menuHeldOpen()
{
    if (isMenuOpen_ && !menu_.isVisible() && clock_.uptime() - openedAt_ > lostCloseSeconds) {
        Log::info("меню не сообщило о закрытии, считаем его закрытым");
        isMenuOpen_ = false;
    }
    return isMenuOpen_;
}

void MenuBarController::menuDidClose()
{
    isMenuOpen_ = false;
    rebuildMenu();
}

void MenuBarController::menuChanged()
{
    if (!menu_.activeAction() && !menuHeldOpen())
        rebuildMenu();
}

void MenuBarController::report(const std::exception& error)
{
    const auto* described = dynamic_cast<const DescribedError*>(&error);
    const QString description = QString::fromUtf8(error.what());
    const QString name = described ? described->debugName() : QString::fromLatin1(typeid(error).name());
    Log::warn("ошибка: " + name + " | " + description);

    showStatus(description);

    Alerts::Alert alert{"Не получилось", description, {"Понятно"}};
    const std::optional<Workspace::SettingsPane> pane = settingsPaneFor(error);
    if (pane)
        alert.buttons.append("Открыть настройки");
    const int answer = alerts_->run(alert);
    if (pane && answer == Alerts::secondButton)
        openSystemSettings(*workspace_, *alerts_, *pane);
}

void MenuBarController::setCallWatch(bool on)
{
    if (callWatch_)
        callWatch_->setEnabled(on);
    else
        store_.setCallWatch(on);
}

void MenuBarController::openFolder()
{
    // The folder appears with the first recording; before that there is
    // nothing to show and the file manager is not asked.
    workspace_->openFolder(store_.recordingsDirectory());
}

void MenuBarController::quit()
{
    // At once: a running recording is neither finished nor sent.
    QCoreApplication::quit();
}

void MenuBarController::endSession(double deadlineSeconds)
{
    Log::info(QStringLiteral("сеанс завершается: дописываем запись и выходим"));
    clock_.after(deadlineSeconds, this, [] { QCoreApplication::quit(); });
    [](QPointer<MenuBarController> self) -> QCoro::Task<> {
        auto finishing = self->recording_->finishWithoutSending();
        co_await std::move(finishing);
        if (self)
            QCoreApplication::quit();
    }(QPointer<MenuBarController>(this));
}

QStringList MenuBarController::menuLines()
{
    menuChanged();
    QStringList lines;
    for (QAction* action : menu_.actions())
        lines.append(action->isSeparator() ? separatorLine : OutsideText::fromMenuTitle(action->text()));
    return lines;
}

MenuBarController::CommandOutcome MenuBarController::offered(const QString& command, QAction** action)
{
    if (!commandNames().contains(command))
        return CommandOutcome::unknown;
    if (command != "quit" && QApplication::activeModalWidget())
        return CommandOutcome::waitingForAnswer;
    menuChanged();
    const auto find = [&command](const QMenu& menu) -> QAction* {
        for (QAction* entry : menu.actions()) {
            if (entry->objectName() == command && entry->isEnabled())
                return entry;
        }
        return nullptr;
    };
    // What the menu of now offers decides, also while a menu held open
    // shows older items.
    QMenu now;
    fillMenu(now);
    if (!find(now))
        return CommandOutcome::notOffered;
    *action = find(menu_);
    // A menu that a D-Bus tray host draws keeps its items while the host
    // says it is open, and GNOME's host reports only openings, never a
    // close: a command the held menu lacks gets the menu of now rather than
    // wait out the lost close. A menu Qt itself shows stays as it is.
    if (!*action && !menu_.isVisible() && !menu_.activeAction()) {
        rebuildMenu();
        *action = find(menu_);
    }
    return *action ? CommandOutcome::started : CommandOutcome::notOffered;
}

MenuBarController::CommandOutcome MenuBarController::trigger(const QString& command)
{
    QAction* action = nullptr;
    const CommandOutcome outcome = offered(command, &action);
    // The item's slot is queued, so the caller has its answer before a
    // modal alert of the action starts waiting for the user.
    if (action)
        action->trigger();
    return outcome;
}

MenuBarController::CommandOutcome MenuBarController::recordVideo(CaptureTarget target)
{
    QAction* action = nullptr;
    const CommandOutcome outcome = offered(QStringLiteral("record-video"), &action);
    // Queued like a menu item, for the same reason.
    if (action)
        QMetaObject::invokeMethod(this, [this, target] { recording_->record(target); }, Qt::QueuedConnection);
    return outcome;
}

QString MenuBarController::titleOfCommand(const QString& command)
{
    for (const Command& known : commands) {
        if (command == QLatin1String(known.name))
            return QString::fromUtf8(known.title);
    }
    return {};
}

QStringList MenuBarController::commandNames()
{
    QStringList names;
    for (const Command& known : commands)
        names.append(QString::fromLatin1(known.name));
    return names;
}

void MenuBarController::notify(const QString& text, double seconds)
{
    Toast::show(text, seconds, clock_);
}

bool MenuBarController::desktopPicksContent()
{
    return recording_->recorder().desktopPicksContent();
}

QCoro::Task<std::vector<MenuBarController::CaptureLine>> MenuBarController::captureChoiceLines(
    std::shared_ptr<ScreenCapture> service)
{
    const CaptureChoices choices = co_await CaptureChoices::current(std::move(service));
    std::vector<CaptureLine> lines;
    for (const auto* items : {&choices.displays, &choices.windows}) {
        for (const CaptureChoices::Item& item : *items)
            lines.push_back({item.id, item.title, item.subtitle});
    }
    co_return lines;
}

QCoro::Task<std::vector<MenuBarController::CaptureLine>> MenuBarController::captureTargets()
{
    if (!captureLines_)
        co_return {};
    co_return co_await captureLines_();
}

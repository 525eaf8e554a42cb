// The recording commands of the menu: consent, start, the clock in the
// status line, and the stop that hands the files to the upload.

#include "app/menu_bar_controller.h"

#include "core/log.h"
#include "capture/capture_picker_window.h"
#include "core/clock.h"
#include "recording/recorder.h"

#include <QPointer>

namespace {


} // namespace

QString MenuBarController::clockText(double elapsedSeconds, bool tooQuiet, bool video,
                                     const std::optional<QString>& trouble)
{
    const qint64 elapsed = elapsedSeconds > 0 ? static_cast<qint64>(elapsedSeconds) : 0;
    const QString clock = QString::asprintf("%02lld:%02lld", elapsed / 60, elapsed % 60);
    if (trouble)
        return QStringLiteral("⚠️ ") + *trouble + QStringLiteral(" — ") + clock;
    if (tooQuiet)
        return QStringLiteral("⚠️ Вас почти не слышно — ") + clock;
    return (video ? QStringLiteral("Идёт видеозапись — ") : QStringLiteral("Идёт аудиозапись — ")) + clock;
}

void MenuBarController::start()
{
    begin(CaptureTarget::audioOnly());
}

CapturePickerWindow& MenuBarController::capturePicker()
{
    if (!capturePicker_)
        capturePicker_ = std::make_unique<CapturePickerWindow>(*workspace_, CapturePickerWindow::Sources::of(capture_));
    return *capturePicker_;
}

void MenuBarController::pickCapture()
{
    // Where the desktop picks the screen or the window itself, its own dialog
    // comes up as the recording starts: our grid could list no windows and
    // show no pictures there.
    if (recorder_->desktopPicksContent()) {
        begin(CaptureTarget::desktopChoice());
        return;
    }
    QPointer<MenuBarController> self(this);
    capturePicker().show(QStringLiteral("Что записывать"), [self](CaptureTarget target) {
        if (self)
            self->begin(target);
    });
}

void MenuBarController::begin(CaptureTarget target)
{
    if (!store_.warnedAboutConsent()) {
        const int answer = alerts_->run({
            QStringLiteral("Предупредите участников встречи"),
            QStringLiteral("Запись голоса — это персональные данные людей, которые на встрече. Скажите им, что идёт "
                           "запись: это и требование закона, и обычная рабочая вежливость."),
            {QStringLiteral("Понятно, записываю"), QStringLiteral("Отмена")},
        });
        if (answer != Alerts::firstButton)
            return;
        store_.setWarnedAboutConsent(true);
    }
    startRecording(target);
}

QCoro::Task<> MenuBarController::startRecording(CaptureTarget target)
{
    // A tile picked from a picker left open while another recording began:
    // the recorder would ignore it, and the running clock must not restart.
    // Nor one picked while a start still waits, for the desktop's dialog
    // to be answered: that start owns the recorder until it ends.
    if (recorder_->isRecording() || startingRecording_)
        co_return;
    QPointer<MenuBarController> self(this);
    startingRecording_ = true;
    try {
        auto starting = recorder_->start(target);
        co_await std::move(starting);
    } catch (const std::exception& error) {
        if (self) {
            self->startingRecording_ = false;
            self->report(error);
        }
        co_return;
    }
    if (!self)
        co_return;
    startingRecording_ = false;
    startedAt_ = Clock::shared().now();
    startTimer();
    show(clockText(0, false, target.kind() != CaptureTarget::Kind::AudioOnly));

    if (const auto failure = recorder_->systemAudioFailure()) {
        const int answer = alerts_->run({
            QStringLiteral("Слышно только вас"),
            *failure + QStringLiteral("\n\nЗапись идёт, но в неё попадёт только ваш голос. ")
                + QStringLiteral("Выдайте доступ и начните заново, если нужны собеседники."),
            {QStringLiteral("Понятно"), QStringLiteral("Открыть настройки")},
        });
        if (self && answer == Alerts::secondButton)
            self->openSettings(Workspace::SettingsPane::privacyScreenCapture);
    }
}

void MenuBarController::startTimer()
{
    timer_ = std::make_unique<QTimer>();
    timer_->setInterval(1000);
    // Both a tracked menu and a modal alert spin nested event loops on
    // this thread, so the clock keeps going under them.
    connect(timer_.get(), &QTimer::timeout, this, &MenuBarController::tick);
    timer_->start();
}

void MenuBarController::tick()
{
    if (!startedAt_)
        return;
    // Derived from the start every time, so a late tick does not drift.
    const double elapsed = startedAt_->msecsTo(Clock::shared().now()) / 1000.0;
    show(clockText(elapsed, recorder_->microphoneTooQuiet(),
                   recorder_->target().kind() != CaptureTarget::Kind::AudioOnly, recorder_->audioTrouble()));
}

void MenuBarController::stop()
{
    timer_.reset();
    startedAt_.reset();
    stopRecording();
}

QCoro::Task<> MenuBarController::stopRecording()
{
    QPointer<MenuBarController> self(this);
    const bool tooQuiet = recorder_->microphoneTooQuiet();
    std::optional<Recorder::Result> result;
    try {
        auto stopping = recorder_->stop();
        result = co_await std::move(stopping);
    } catch (const std::exception& error) {
        if (self)
            self->report(error);
        co_return;
    }
    if (!self)
        co_return;
    if (tooQuiet) {
        const int answer = alerts_->run({
            QStringLiteral("Вас было почти не слышно"),
            QStringLiteral("Громкость микрофона в системе стоит слишком низко — ваш голос в записи разобрать не "
                           "выйдет.\n\nПроверьте «Звук → Вход»: ползунок громкости должен стоять высоко. Собеседники "
                           "записались отдельной дорожкой, они не пострадали."),
            {QStringLiteral("Понятно"), QStringLiteral("Открыть настройки звука")},
        });
        if (!self)
            co_return;
        if (answer == Alerts::secondButton)
            openSettings(Workspace::SettingsPane::soundInput);
    }
    show(QStringLiteral("Отправляем…"));
    try {
        auto sending = upload(*result);
        co_await std::move(sending);
    } catch (const std::exception& error) {
        if (self)
            self->report(error);
    }
}

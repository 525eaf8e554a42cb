// The recording commands of the menu: consent, start, the clock in the
// status line, and the stop that hands the files to the upload.

#include "app/recording_flow.h"

#include "capture/capture_picker_window.h"
#include "platform/settings_places.h"
#include "service/upload_flow.h"

#include <QPointer>

void openSystemSettings(Workspace& workspace, Alerts& alerts, Workspace::SettingsPane pane)
{
    // A desktop we do not know may have no settings program for this; the
    // user should not be left wondering why the button did nothing. An
    // alert, as the clock of a recording rewrites the status line each second.
    if (!workspace.openSettings(pane))
        alerts.run({QStringLiteral("Не получилось открыть настройки"), settingsPlace(pane).byHand,
                    {QStringLiteral("Понятно")}});
}

RecordingFlow::RecordingFlow(const Store& store, Recorder::Dependencies recorder, Alerts& alerts,
                             Workspace& workspace, StatusSink& status, ErrorReporter& errors, Clock& clock,
                             UploadFlow& upload)
    : store_(store)
    , alerts_(alerts)
    , workspace_(workspace)
    , status_(status)
    , errors_(errors)
    , clock_(clock)
    , upload_(upload)
    , capture_(recorder.capture)
    , recorder_(store.recordingsDirectory(), std::move(recorder), clock)
{
}

RecordingFlow::~RecordingFlow() = default;

QString RecordingFlow::clockText(double elapsedSeconds, bool tooQuiet, bool video,
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

void RecordingFlow::recordAudio()
{
    record(CaptureTarget::audioOnly());
}

CapturePickerWindow& RecordingFlow::capturePicker()
{
    if (!capturePicker_)
        capturePicker_ =
            std::make_unique<CapturePickerWindow>(workspace_, CapturePickerWindow::Sources::of(capture_, clock_));
    return *capturePicker_;
}

void RecordingFlow::pickCapture()
{
    // Where the desktop picks the screen or the window itself, its own dialog
    // comes up as the recording starts: our grid could list no windows and
    // show no pictures there.
    if (recorder_.desktopPicksContent()) {
        record(CaptureTarget::desktopChoice());
        return;
    }
    QPointer<RecordingFlow> self(this);
    capturePicker().show(QStringLiteral("Что записывать"), [self](CaptureTarget target) {
        if (self)
            self->record(target);
    });
}

void RecordingFlow::record(CaptureTarget target)
{
    if (!store_.warnedAboutConsent()) {
        const int answer = alerts_.run({
            QStringLiteral("Предупредите участников встречи"),
            QStringLiteral("Запись голоса — это персональные данные людей, которые на встрече. Скажите им, что идёт "
                           "запись: это и требование закона, и обычная рабочая вежливость."),
            {QStringLiteral("Понятно, записываю"), QStringLiteral("Отмена")},
        });
        if (answer != Alerts::firstButton)
            return;
        store_.setWarnedAboutConsent(true);
    }
    startRecorder(target);
}

QCoro::Task<> RecordingFlow::startRecorder(CaptureTarget target)
{
    // A tile picked from a picker left open while another recording began:
    // the recorder would ignore it, and the running clock must not restart.
    // Nor one picked while a start still waits, for the desktop's dialog
    // to be answered: that start owns the recorder until it ends.
    if (recorder_.isRecording() || startingRecording_)
        co_return;
    QPointer<RecordingFlow> self(this);
    startingRecording_ = true;
    try {
        auto starting = recorder_.start(target);
        co_await std::move(starting);
    } catch (const std::exception& error) {
        if (self) {
            self->startingRecording_ = false;
            self->errors_.report(error);
        }
        co_return;
    }
    if (!self)
        co_return;
    startingRecording_ = false;
    startedAt_ = clock_.now();
    startClock();
    // A video whose screen was refused records as an audio recording.
    status_.showStatus(clockText(0, false, recorder_.target().kind() != CaptureTarget::Kind::AudioOnly));
    if (recordingChanged_)
        recordingChanged_(true);

    if (const auto refusal = recorder_.pictureRefusal()) {
        alerts_.run({QStringLiteral("Экран не записывается"),
                     *refusal + QStringLiteral("\n\nЗапись идёт без картинки: ваш голос и звук собеседников сохраняются."),
                     {QStringLiteral("Понятно")}});
        if (!self)
            co_return;
    }

    if (const auto failure = recorder_.systemAudioFailure()) {
        const int answer = alerts_.run({
            QStringLiteral("Слышно только вас"),
            *failure + QStringLiteral("\n\nЗапись идёт, но в неё попадёт только ваш голос. ")
                + QStringLiteral("Проверьте ") + settingsPlace(Workspace::SettingsPane::soundOutput).section()
                + QStringLiteral(" и начните заново, если нужны собеседники."),
            {QStringLiteral("Понятно"), QStringLiteral("Открыть настройки")},
        });
        if (self && answer == Alerts::secondButton)
            openSystemSettings(self->workspace_, self->alerts_, Workspace::SettingsPane::soundOutput);
    }
}

void RecordingFlow::startClock()
{
    timer_ = std::make_unique<QTimer>();
    timer_->setInterval(1000);
    // Both a tracked menu and a modal alert spin nested event loops on
    // this thread, so the clock keeps going under them.
    connect(timer_.get(), &QTimer::timeout, this, &RecordingFlow::tick);
    timer_->start();
}

void RecordingFlow::tick()
{
    if (!startedAt_)
        return;
    // Derived from the start every time, so a late tick does not drift.
    const double elapsed = startedAt_->msecsTo(clock_.now()) / 1000.0;
    // A file that can no longer be written (a full disk) matters more than
    // any other warning: what is said from now on is not being kept.
    const std::optional<QString> trouble =
        recorder_.writeFailure() ? std::optional(QStringLiteral("Запись больше не сохраняется")) : recorder_.audioTrouble();
    status_.showStatus(clockText(elapsed, recorder_.microphoneTooQuiet(),
                                 recorder_.target().kind() != CaptureTarget::Kind::AudioOnly, trouble));
}

void RecordingFlow::stop()
{
    if (stopping_ || !recorder_.isRecording())
        return;
    stopAndSend();
}

QCoro::Task<std::optional<Recorder::Result>> RecordingFlow::finishFiles()
{
    QPointer<RecordingFlow> self(this);
    timer_.reset();
    startedAt_.reset();
    stopping_ = true;
    if (recordingChanged_)
        recordingChanged_(false);
    std::optional<Recorder::Result> result;
    try {
        auto stopping = recorder_.stop();
        result = co_await std::move(stopping);
    } catch (const std::exception& error) {
        if (self)
            self->errors_.report(error);
    }
    if (self)
        self->stopping_ = false;
    co_return result;
}

QCoro::Task<> RecordingFlow::finishWithoutSending()
{
    QPointer<RecordingFlow> self(this);
    // A stop already under way finishes the files itself.
    while (self && stopping_)
        co_await clock_.sleep(0.05);
    if (self && recorder_.isRecording())
        co_await finishFiles();
}

QCoro::Task<> RecordingFlow::stopAndSend()
{
    QPointer<RecordingFlow> self(this);
    const bool tooQuiet = recorder_.microphoneTooQuiet();
    auto finishing = finishFiles();
    const std::optional<Recorder::Result> result = co_await std::move(finishing);
    if (!self || !result)
        co_return;
    if (tooQuiet) {
        const int answer = alerts_.run({
            QStringLiteral("Вас было почти не слышно"),
            QStringLiteral("Громкость микрофона в системе стоит слишком низко — ваш голос в записи разобрать не "
                           "выйдет.\n\nПроверьте ")
                + settingsPlace(Workspace::SettingsPane::soundInput).section()
                + QStringLiteral(": ползунок громкости должен стоять высоко. Собеседники записались отдельной "
                                 "дорожкой, они не пострадали."),
            {QStringLiteral("Понятно"), QStringLiteral("Открыть настройки звука")},
        });
        if (!self)
            co_return;
        if (answer == Alerts::secondButton)
            openSystemSettings(workspace_, alerts_, Workspace::SettingsPane::soundInput);
    }
    status_.showStatus(QStringLiteral("Отправляем…"));
    try {
        auto sending = upload_.upload(*result);
        co_await std::move(sending);
    } catch (const std::exception& error) {
        if (self)
            self->errors_.report(error);
    }
}

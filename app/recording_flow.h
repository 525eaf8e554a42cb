#pragma once

#include "capture/capture_target.h"
#include "core/clock.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/alerts.h"
#include "platform/workspace.h"
#include "recording/recorder.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class CapturePickerWindow;
class UploadFlow;

// The recording commands of the menu: the consent warning, the recorder's
// start, the clock in the status line, and the stop that hands the files
// to the upload. Owns the one recorder of the run. Main thread only.
class RecordingFlow final : public QObject {
public:
    RecordingFlow(const Store& store, Recorder::Dependencies recorder, Alerts& alerts, Workspace& workspace,
                  StatusSink& status, ErrorReporter& errors, Clock& clock, UploadFlow& upload);
    ~RecordingFlow() override;

    // "Начать аудиозапись".
    void recordAudio();
    // "Начать видеозапись…": the capture picker, or the desktop's own choice
    // where the desktop picks.
    void pickCapture();
    // Records `target` once the user has been warned to tell the others.
    void record(CaptureTarget target);
    // "Остановить и отправить". Ignored while a stop is finishing the files:
    // finishing a long video takes seconds, and each file is finished and
    // sent once.
    void stop();
    // The session is ending: finishes what is being recorded, as a stop
    // does, but sends nothing. Returns once the files are complete.
    QCoro::Task<> finishWithoutSending();

    // One beat of the recording clock: the status line from the time since
    // the start and the recorder's state.
    void tick();
    // The status line of a running recording `elapsedSeconds` after its start.
    // `trouble` (a track not being recorded) goes before the too-quiet warning.
    static QString clockText(double elapsedSeconds, bool tooQuiet, bool video,
                             const std::optional<QString>& trouble = std::nullopt);
    // The clock's timer; none unless a recording runs.
    const QTimer* clockTimer() const { return timer_.get(); }
    const std::optional<QDateTime>& startedAt() const { return startedAt_; }

    // Told `true` once a recording runs and `false` once its stop begins.
    void onRecordingChanged(std::function<void(bool recording)> changed) { recordingChanged_ = std::move(changed); }

    Recorder& recorder() { return recorder_; }
    // Made on first use and kept for the life of the flow.
    CapturePickerWindow& capturePicker();

private:
    QCoro::Task<> startRecorder(CaptureTarget target);
    void startClock();
    QCoro::Task<> stopAndSend();
    // Stops the recorder and reports what went wrong; nothing when it failed.
    QCoro::Task<std::optional<Recorder::Result>> finishFiles();

    Store store_;
    Alerts& alerts_;
    Workspace& workspace_;
    StatusSink& status_;
    ErrorReporter& errors_;
    Clock& clock_;
    UploadFlow& upload_;
    std::shared_ptr<ScreenCapture> capture_;
    // Made once over the recordings folder, used for every recording.
    Recorder recorder_;
    std::unique_ptr<QTimer> timer_;
    std::optional<QDateTime> startedAt_;
    // A recording's start is under way (the desktop may be asking the user).
    bool startingRecording_ = false;
    // A stop is finishing the files.
    bool stopping_ = false;
    std::unique_ptr<CapturePickerWindow> capturePicker_;
    std::function<void(bool recording)> recordingChanged_;
};

// Opens a settings place of the desktop, telling the user in an alert where
// to look when nothing could open it.
void openSystemSettings(Workspace& workspace, Alerts& alerts, Workspace::SettingsPane pane);

#pragma once

#include "core/serial_queue.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/alerts.h"
#include "recording/unfinished_recordings.h"

#include <QObject>

#include <qcoro/qcorotask.h>

#include <vector>

class Recorder;
class UploadFlow;

// At launch: the recordings a run before left unfinished are finished off
// the main thread, and the user is told of them once and may send them for
// transcription as after a stop.
class RecoveryFlow final : public QObject {
public:
    RecoveryFlow(const Store& store, Recorder& recorder, Alerts& alerts, StatusSink& status, ErrorReporter& errors,
                 UploadFlow& upload);

    QCoro::Task<void> recover();

    // The alert that tells of `recovered`; it offers the sending when `canSend`.
    static Alerts::Alert alertFor(const std::vector<UnfinishedRecordings::Recovered>& recovered, bool canSend);

private:
    Store store_;
    Recorder& recorder_;
    Alerts& alerts_;
    StatusSink& status_;
    ErrorReporter& errors_;
    UploadFlow& upload_;
    SerialQueue queue_;
};

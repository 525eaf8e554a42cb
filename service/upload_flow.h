#pragma once

#include "core/clock.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/workspace.h"
#include "service/api_factory.h"
#include "service/pending_uploads.h"

#include <QObject>

#include <qcoro/qcorotask.h>

class LimitFlow;
struct RecorderResult;

// After a recording: each track goes to the service as a job of its own,
// and the job is polled until its transcript is ready or failed; and the
// transcripts page of the site. Tracks that could not be sent for a
// reason that may pass wait in `pending` and are sent again by themselves.
class UploadFlow final : public QObject {
public:
    UploadFlow(const Store& store, ApiFactory api, Workspace& workspace, StatusSink& status, ErrorReporter& errors,
               Clock& clock, LimitFlow& limit, PendingUploads& pending);

    // Sends both tracks of a finished recording and waits for each job;
    // the status line tells how far it got. When the service cannot be
    // reached, the unsent tracks wait and the status says so; other
    // failures are thrown as the service threw them.
    QCoro::Task<void> upload(RecorderResult result);
    // Sends the waiting tracks now, and again with growing pauses while the
    // service stays out of reach. One run at a time.
    void sendWaiting() { startRetry(0); }
    // Polls the job every four seconds until it is ready or failed.
    QCoro::Task<Api::Recording> waitUntilReady(qint64 id, Api api);
    // "Мои расшифровки…": the transcripts page under the service's address.
    void openSite();

private:
    using Track = PendingUploads::Track;

    // Uploads one track: its job, or none when the failure may pass (logged).
    // Throws a failure that will not pass.
    QCoro::Task<std::optional<Api::Recording>> trySend(QString path, Api api);
    // Shows that the job of `label` is being transcribed and polls it; false
    // when the service could not transcribe it (its reason then shown).
    QCoro::Task<bool> follow(Api::Recording job, QString label, Api api);
    // `failures`: the tries in a row that failed already; none sends at once.
    void startRetry(int failures);
    void retryAfter(int failures);
    // One try of every waiting track, in order, stopping at the first that
    // cannot reach the service.
    QCoro::Task<void> retry(int failures);

    Store store_;
    ApiFactory api_;
    Workspace& workspace_;
    StatusSink& status_;
    ErrorReporter& errors_;
    Clock& clock_;
    LimitFlow& limit_;
    PendingUploads& pending_;
    bool retrying_ = false;
};

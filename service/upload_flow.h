#pragma once

#include "core/clock.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/workspace.h"
#include "service/api_factory.h"

#include <QObject>

#include <qcoro/qcorotask.h>

class LimitFlow;
struct RecorderResult;

// After a recording: each track goes to the service as a job of its own,
// and the job is polled until its transcript is ready or failed; and the
// transcripts page of the site.
class UploadFlow final : public QObject {
public:
    UploadFlow(const Store& store, ApiFactory api, Workspace& workspace, StatusSink& status, Clock& clock,
               LimitFlow& limit);

    // Sends both tracks of a finished recording and waits for each job;
    // the status line tells how far it got. Throws what the service threw.
    QCoro::Task<void> upload(RecorderResult result);
    // Polls the job every four seconds until it is ready or failed.
    QCoro::Task<Api::Recording> waitUntilReady(qint64 id, Api api);
    // "Мои расшифровки…": the transcripts page under the service's address.
    void openSite();

private:
    Store store_;
    ApiFactory api_;
    Workspace& workspace_;
    StatusSink& status_;
    Clock& clock_;
    LimitFlow& limit_;
};

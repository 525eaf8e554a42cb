#pragma once

#include "core/shell.h"
#include "core/store.h"
#include "service/api_factory.h"

#include <QObject>

#include <qcoro/qcorotask.h>

// The remaining monthly transcription limit in the status line.
class LimitFlow final : public QObject {
public:
    LimitFlow(const Store& store, ApiFactory api, StatusSink& status);

    // Asks the service and shows the answer; never throws.
    QCoro::Task<void> refreshLimit();

private:
    Store store_;
    ApiFactory api_;
    StatusSink& status_;
};

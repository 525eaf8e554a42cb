#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <qcoro/qcorotask.h>

#include <functional>

// Spins the event loop until `condition` holds or `timeoutMs` passes.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

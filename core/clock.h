#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>

// Every wait and every reading of "now" goes through a Clock, so that rules
// measured in seconds or minutes can be exercised in tests without waiting.
// main() makes the one SystemClock and hands it to whatever waits; tests
// hand in a clock of their own.
class Clock {
public:
    virtual ~Clock() = default;

    // Wall-clock time, for dates and file stamps.
    virtual QDateTime now() const = 0;
    // Monotonic seconds from an arbitrary origin, for durations.
    virtual double uptime() const = 0;
    // Resumes the awaiting coroutine after `seconds`, on the thread it ran on
    // (the main thread for everything that uses this).
    virtual QCoro::Task<void> sleep(double seconds) = 0;
    // Runs `work` on the main thread after `seconds` unless `context` is gone.
    virtual void after(double seconds, QObject* context, std::function<void()> work) = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    double uptime() const override;
    QCoro::Task<void> sleep(double seconds) override;
    void after(double seconds, QObject* context, std::function<void()> work) override;
};

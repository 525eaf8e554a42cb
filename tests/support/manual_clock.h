#pragma once

#include "core/clock.h"

#include <coroutine>
#include <vector>

// A clock that moves only when a test says so. Sleepers and delayed work whose
// time has come run inside advance(), in the order of their deadlines.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(10, 0)));

    QDateTime now() const override;
    double uptime() const override { return elapsed_; }
    QCoro::Task<void> sleep(double seconds) override;
    void after(double seconds, QObject* context, std::function<void()> work) override;

    void advance(double seconds);
    void setNow(const QDateTime& now);
    // Sleepers and delayed work not yet due.
    size_t pending() const { return waiters_.size(); }

private:
    struct Waiter {
        double deadline;
        unsigned long order;
        std::coroutine_handle<> sleeper;
        QPointer<QObject> context;
        bool hasContext;
        std::function<void()> work;
    };
    struct SleepAwaiter {
        ManualClock* clock;
        double deadline;
        bool await_ready() const noexcept { return deadline <= clock->elapsed_; }
        void await_suspend(std::coroutine_handle<> handle);
        void await_resume() const noexcept {}
    };

    QDateTime start_;
    double elapsed_ = 0;
    unsigned long nextOrder_ = 0;
    std::vector<Waiter> waiters_;
};

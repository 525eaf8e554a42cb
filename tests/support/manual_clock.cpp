#include "tests/support/manual_clock.h"

#include <algorithm>

ManualClock::ManualClock(QDateTime start) : start_(std::move(start)) {}

QDateTime ManualClock::now() const
{
    return start_.addMSecs(static_cast<qint64>(elapsed_ * 1000.0));
}

void ManualClock::setNow(const QDateTime& now)
{
    start_ = now.addMSecs(-static_cast<qint64>(elapsed_ * 1000.0));
}

void ManualClock::SleepAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    clock->waiters_.push_back({deadline, clock->nextOrder_++, handle, nullptr, false, {}});
}

QCoro::Task<void> ManualClock::sleep(double seconds)
{
    co_await SleepAwaiter{this, elapsed_ + std::max(0.0, seconds)};
}

void ManualClock::after(double seconds, QObject* context, std::function<void()> work)
{
    waiters_.push_back({elapsed_ + std::max(0.0, seconds), nextOrder_++, {}, context, context != nullptr,
                        std::move(work)});
}

void ManualClock::advance(double seconds)
{
    const double target = elapsed_ + seconds;
    for (;;) {
        auto due = std::min_element(waiters_.begin(), waiters_.end(), [](const Waiter& a, const Waiter& b) {
            return a.deadline < b.deadline || (a.deadline == b.deadline && a.order < b.order);
        });
        if (due == waiters_.end() || due->deadline > target)
            break;
        Waiter waiter = std::move(*due);
        waiters_.erase(due);
        elapsed_ = std::max(elapsed_, waiter.deadline);
        if (waiter.sleeper)
            waiter.sleeper.resume();
        else if (!waiter.hasContext || waiter.context)
            waiter.work();
    }
    elapsed_ = target;
}

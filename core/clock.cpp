#include "core/clock.h"

#include <QTimer>

#include <qcoro/qcorotimer.h>

#include <chrono>

namespace {

std::chrono::milliseconds toMilliseconds(double seconds)
{
    if (seconds <= 0)
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

} // namespace

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

double SystemClock::uptime() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QCoro::Task<void> SystemClock::sleep(double seconds)
{
    co_await QCoro::sleepFor(toMilliseconds(seconds));
}

void SystemClock::after(double seconds, QObject* context, std::function<void()> work)
{
    QTimer::singleShot(toMilliseconds(seconds), context, std::move(work));
}

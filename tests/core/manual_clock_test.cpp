#include "tests/support/manual_clock.h"

#include <gtest/gtest.h>

#include <QObject>

#include <memory>
#include <vector>

namespace {

QCoro::Task<void> sleepThenRecord(Clock& clock, double seconds, std::vector<double>& woke)
{
    co_await clock.sleep(seconds);
    woke.push_back(clock.uptime());
}

} // namespace

TEST(ManualClock, SleepersWakeInDeadlineOrderAtTheirOwnTime)
{
    ManualClock clock;
    std::vector<double> woke;
    auto late = sleepThenRecord(clock, 600, woke);
    auto early = sleepThenRecord(clock, 4, woke);
    clock.advance(3.9);
    EXPECT_TRUE(woke.empty());
    clock.advance(1000);
    EXPECT_EQ(woke, (std::vector<double>{4, 600}));
    EXPECT_DOUBLE_EQ(clock.uptime(), 1003.9);
}

TEST(ManualClock, DelayedWorkSkipsAGoneContextAndDatesMove)
{
    ManualClock clock;
    const QDateTime start = clock.now();
    int ran = 0;
    auto context = std::make_unique<QObject>();
    clock.after(5, context.get(), [&] { ++ran; });
    clock.after(5, nullptr, [&] { ran += 10; });
    context.reset();
    clock.advance(5);
    EXPECT_EQ(ran, 10);
    EXPECT_EQ(start.secsTo(clock.now()), 5);
}

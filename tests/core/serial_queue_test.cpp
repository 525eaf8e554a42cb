#include "core/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <pthread.h>
#include <vector>

TEST(SerialQueue, RunsWorkInSubmissionOrderOnOneNamedThread)
{
    SerialQueue queue(queueLabel(".writer"));
    std::vector<int> order;
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            order.push_back(i);
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            names.emplace_back(name);
        });
    }
    queue.sync([] {});

    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
    for (const auto& name : names)
        EXPECT_EQ(name, "Korvala.writer");
    EXPECT_EQ(queue.label(), "app.korvala.Korvala.writer");
}

TEST(SerialQueue, SyncWaitsForEverythingSubmittedBefore)
{
    SerialQueue queue(queueLabel(".video"));
    std::atomic<int> done = 0;
    for (int i = 0; i < 5; ++i) {
        queue.async([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ++done;
        });
    }
    int seen = -1;
    queue.sync([&] { seen = done.load(); });
    EXPECT_EQ(seen, 5);
}

TEST(SerialQueue, DestructionRunsPendingWork)
{
    std::atomic<int> done = 0;
    {
        SerialQueue queue(queueLabel(".thumb"));
        queue.async([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
        for (int i = 0; i < 50; ++i)
            queue.async([&] { ++done; });
    }
    EXPECT_EQ(done.load(), 50);
}

TEST(SerialQueue, ThreadNamesKeepTheSuffix)
{
    EXPECT_EQ(SerialQueue::threadName("app.korvala.Korvala.system"), "Korvala.system");
    EXPECT_EQ(SerialQueue::threadName("short"), "short");
    EXPECT_EQ(SerialQueue::threadName("averyveryverylongnamewithoutdots").size(), 15u);
}

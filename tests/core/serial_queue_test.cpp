#include "core/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
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
    // Longer names would be refused by the system and leave the thread unnamed.
    EXPECT_EQ(SerialQueue::threadName("averyveryverylongnamewithoutdots").size(), 15u);
}

TEST(SerialQueue, SyncAndDestructionWaitForEverythingSubmittedBefore)
{
    std::atomic<int> done = 0;
    std::promise<void> first, second;
    {
        SerialQueue queue(queueLabel(".thumb"));
        // Each gate holds the queue until the work after it is queued, so
        // that work is still pending when sync and the destructor come.
        const auto batch = [&](std::promise<void>& gate) {
            queue.async([held = gate.get_future().share()] { held.wait(); });
            for (int i = 0; i < 50; ++i)
                queue.async([&] { ++done; });
            gate.set_value();
        };
        batch(first);
        int seen = -1;
        queue.sync([&] { seen = done.load(); });
        EXPECT_EQ(seen, 50);
        batch(second);
    }
    EXPECT_EQ(done.load(), 100) << "destruction runs the pending work";
}

#include "core/runtime/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(SerialQueue, RunsTasksInSubmissionOrderOneAtATime)
{
    SerialQueue queue(QStringLiteral("tallyvane.test"));
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0)
                overlapped = true;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, SyncFromManyThreadsAndFromItsOwnTask)
{
    SerialQueue queue(QStringLiteral("tallyvane.test"));
    int counter = 0; // guarded by running only on the queue
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i)
                queue.sync([&] { ++counter; });
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 1000);

    // A task that enters its own queue synchronously runs the inner task inline rather than deadlocking.
    bool innerOnQueue = false;
    queue.sync([&] { queue.sync([&] { innerOnQueue = queue.isCurrent(); }); });
    EXPECT_TRUE(innerOnQueue);
    EXPECT_EQ(queue.syncResult([] { return 41 + 1; }), 42);
}

TEST(SerialQueue, DestructionRunsPendingTasks)
{
    std::atomic<int> ran{0};
    {
        SerialQueue queue(QStringLiteral("tallyvane.test"));
        for (int i = 0; i < 50; ++i)
            queue.async([&] { ran.fetch_add(1); });
    }
    EXPECT_EQ(ran.load(), 50);
}

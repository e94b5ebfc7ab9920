#include "pool/thread_pool.h"

#include "support/gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::pool {
namespace {

TEST(ThreadPool, WorkerCountFallsBackToHardwareThenOne) {
    EXPECT_EQ(thread_pool::effective_worker_count(3, 8), 3u);
    EXPECT_EQ(thread_pool::effective_worker_count(0, 8), 8u);
    EXPECT_EQ(thread_pool::effective_worker_count(0, 0), 1u);
    thread_pool pool(0, 0);
    EXPECT_EQ(pool.size(), 1u);
}

TEST(ThreadPool, DestructionRunsEveryQueuedTask) {
    std::atomic<int> ran{0};
    {
        thread_pool pool(3);
        for (int i = 0; i < 1000; ++i)
            pool.enqueue_task([&ran] { ran.fetch_add(1); });
    }
    EXPECT_EQ(ran.load(), 1000);
}

// A drain whose time runs out (the console's close) drops what is still
// queued and counts it; the task under way finishes; one in time drops nothing.
TEST(ThreadPool, ADrainOutOfTimeCountsTheTasksItDrops) {
    std::atomic<int> ran{0};
    testing::gate started;
    testing::gate release;
    {
        thread_pool pool(1);
        EXPECT_EQ(pool.drain_until(std::chrono::steady_clock::now()), 0u);
        pool.enqueue_task([&] {
            started.open();
            release.wait();
            ran.fetch_add(1);
        });
        started.wait();
        for (int i = 0; i < 5; ++i)
            pool.enqueue_task([&ran] { ran.fetch_add(1); });
        EXPECT_EQ(pool.drain_until(std::chrono::steady_clock::now()), 5u);
        release.open();
        EXPECT_EQ(pool.drain_until(std::chrono::steady_clock::now() + std::chrono::minutes(1)), 0u);
    }
    EXPECT_EQ(ran.load(), 1);
}

TEST(ThreadPool, OneWorkerRunsTasksInOrder) {
    std::vector<int> order;
    {
        thread_pool pool(1);
        for (int i = 0; i < 200; ++i)
            pool.enqueue_task([&order](int value) { order.push_back(value); }, i);
    }
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(ThreadPool, ArgumentsAreCopiedUnlessWrapped) {
    std::string copied = "before";
    std::vector<std::string> shared{"a"};
    std::string seen_copy;
    std::size_t seen_size = 0;
    {
        thread_pool pool(1);
        std::mutex gate;
        std::unique_lock hold(gate);
        pool.enqueue_task([&gate] { std::lock_guard wait(gate); });
        pool.enqueue_task(
            [&](const std::string& text, const std::vector<std::string>& list) {
                seen_copy = text;
                seen_size = list.size();
            },
            copied, std::cref(shared));
        copied = "after";
        shared.push_back("b");
    }
    EXPECT_EQ(seen_copy, "before");
    EXPECT_EQ(seen_size, 2u);
}

TEST(ThreadPool, TaskQueuedFromATaskRuns) {
    std::atomic<bool> inner{false};
    {
        thread_pool pool(2);
        pool.enqueue_task([&pool, &inner] { pool.enqueue_task([&inner] { inner = true; }); });
    }
    EXPECT_TRUE(inner.load());
}

TEST(ThreadPool, AFullQueueMakesTheQueuingThreadWaitButNeverAWorker) {
    testing::gate release;
    std::vector<int> order;
    {
        thread_pool pool(1, 1, 2);
        EXPECT_EQ(pool.capacity(), 2u);
        testing::gate running;
        pool.enqueue_task([&] {
            running.open();
            release.wait();
            order.push_back(0);
        });
        running.wait(); // taken: the queue is empty again
        pool.enqueue_task([&] { order.push_back(1); });
        pool.enqueue_task([&] {
            order.push_back(2);
            // From a worker, a full queue does not stop it (one worker would wait for itself).
            pool.enqueue_task([&] { order.push_back(4); });
            pool.enqueue_task([&] { order.push_back(5); });
        });
        EXPECT_EQ(pool.waits_for_room(), 0u);
        std::thread session([&] { pool.enqueue_task([&] { order.push_back(3); }); });
        while (pool.waits_for_room() == 0) // the thing waited for: the queuing thread blocked
            std::this_thread::yield();
        release.open();
        session.join();
    }
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 3), (std::vector<int>{0, 1, 2}));
    std::sort(order.begin(), order.end()); // 3 races with 4 and 5 for the room
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(ThreadPool, ThrowingTaskIsReportedAndWorkerGoesOn) {
    std::atomic<int> after{0};
    ::testing::internal::CaptureStdout();
    {
        thread_pool pool(1);
        pool.enqueue_task([] { throw std::runtime_error("socket could not open"); });
        pool.enqueue_task([&after] { ++after; });
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "WORKER TASK CAUGHT ERROR: socket could not open\n");
    EXPECT_EQ(after.load(), 1);
}

} // namespace
} // namespace tallowick::pool

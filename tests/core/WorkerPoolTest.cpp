#include "core/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace zx;

namespace {

// Threads of this process as the kernel lists them; -1 where /proc is missing.
long ThreadsOfThisProcess()
{
    const std::filesystem::path tasks("/proc/self/task");
    std::error_code error;
    if (!std::filesystem::is_directory(tasks, error))
        return -1;
    long count = 0;
    for (auto it = std::filesystem::directory_iterator(tasks, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return error ? -1 : count;
}

// A value per index that depends on nothing but the index.
std::uint32_t Mix(std::size_t index)
{
    std::uint32_t x = static_cast<std::uint32_t>(index) * 2654435761u + 12345u;
    x ^= x >> 15;
    x *= 2246822519u;
    return x ^ (x >> 13);
}

} // namespace

TEST(WorkerPool, EveryIndexRunsOnceAndTheResultIsTheSameForAnyNumberOfWorkers)
{
    for (std::size_t count : { 0u, 1u, 2u, 7u, 64u }) {
        std::vector<std::uint32_t> expected(count);
        for (std::size_t i = 0; i < count; ++i)
            expected[i] = Mix(i);
        for (unsigned workers : { 1u, 2u, 3u, 0u, 100u }) {
            std::vector<std::uint32_t> out(count, 0);
            std::vector<std::atomic<int>> calls(count);
            ParallelFor(count, workers, [&](std::size_t i) {
                ++calls[i];
                out[i] = Mix(i);
            });
            EXPECT_EQ(out, expected) << count << " indices, " << workers << " workers";
            for (std::size_t i = 0; i < count; ++i)
                EXPECT_EQ(calls[i].load(), 1) << "index " << i;
        }
    }
}

TEST(WorkerPool, OneWorkerRunsEverythingOnTheCallingThreadInOrder)
{
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::size_t> order;
    ParallelFor(5, 1, [&](std::size_t i) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        order.push_back(i);
    });
    EXPECT_EQ(order, (std::vector<std::size_t> { 0, 1, 2, 3, 4 }));
}

TEST(WorkerPool, TwoWorkersUseTwoThreads)
{
    // Each of the first two tasks waits until both have started: with only
    // one thread the wait would run out.
    std::atomic<int> started { 0 };
    std::mutex lock;
    std::set<std::thread::id> seen;
    bool metInTime = true;
    ParallelFor(2, 2, [&](std::size_t) {
        {
            std::lock_guard guard(lock);
            seen.insert(std::this_thread::get_id());
        }
        ++started;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (started < 2 && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        if (started < 2)
            metInTime = false;
    });
    EXPECT_TRUE(metInTime);
    EXPECT_EQ(seen.size(), 2u);
}

TEST(WorkerPool, AThrowingTaskReachesTheCallerAfterEveryWorkerHasStopped)
{
    const long threadsBefore = ThreadsOfThisProcess();
    for (unsigned workers : { 1u, 2u, 4u }) {
        std::atomic<int> running { 0 };
        std::atomic<int> finished { 0 };
        std::atomic<bool> failedYet { false };
        try {
            ParallelFor(8, workers, [&](std::size_t i) {
                ++running;
                if (i == 0) {
                    failedYet = true;
                    --running;
                    throw std::runtime_error("frame 0 failed");
                }
                // The other tasks are still busy when the failure happens; a
                // pool that rethrew before joining would leave them running.
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                --running;
                ++finished;
            });
            ADD_FAILURE() << "no exception with " << workers << " workers";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "frame 0 failed");
            EXPECT_EQ(running.load(), 0) << workers << " workers";
            const int seenDone = finished.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            EXPECT_EQ(finished.load(), seenDone) << "a task ran on after the rethrow";
            // Alone, the failing first index leaves nothing else to run.
            if (workers == 1) {
                EXPECT_EQ(seenDone, 0);
            }
        }
        EXPECT_TRUE(failedYet.load());
        if (threadsBefore > 0) {
            EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore) << workers << " workers";
        }
    }
}

TEST(WorkerPool, TheLowestFailingIndexIsTheOneRethrown)
{
    // Indices 5 and 2 fail; 5 is made to fail first in time. A plain loop
    // would have met 2 first, so 2 is what the caller sees, with any number
    // of workers.
    for (unsigned workers : { 1u, 2u, 3u }) {
        std::vector<std::atomic<bool>> ran(8);
        try {
            ParallelFor(8, workers, [&](std::size_t i) {
                ran[i] = true;
                if (i == 2) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    throw std::runtime_error("index 2");
                }
                if (i == 5)
                    throw std::runtime_error("index 5");
            });
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "index 2") << workers << " workers";
        }
        // Everything before the first failure ran, as in a plain loop.
        EXPECT_TRUE(ran[0] && ran[1] && ran[2]);
        if (workers == 1) {
            for (std::size_t i = 3; i < 8; ++i)
                EXPECT_FALSE(ran[i]) << "index " << i << " ran after the failure";
        }
    }
}

#include "platform/SerialExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace korvanta {
namespace {

TEST(SerialExecutor, RunsJobsOneAtATimeInEachQueuingThreadsOrder) {
    auto executor = SerialExecutor::create("test.order");
    constexpr int kThreads = 4, kJobs = 1000;
    std::vector<std::vector<int>> seen(kThreads);  // unguarded on purpose: serial jobs must not race
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kJobs; ++i) {
                executor->async([&, t, i] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    seen[t].push_back(i);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& th : threads) th.join();
    executor->drain();
    EXPECT_FALSE(overlapped) << "two jobs of one executor ran at the same time";
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kJobs));
        for (int i = 0; i < kJobs; ++i) ASSERT_EQ(seen[t][i], i) << "out of order, thread " << t;
    }
}

TEST(SerialExecutor, RunsJobsOffTheCallersThreadAndKnowsItsOwnJobs) {
    auto executor = SerialExecutor::create("test.thread");
    // Shared with the worker, so that the test may return while the worker is in set_value().
    auto ran = std::make_shared<std::promise<std::pair<std::thread::id, bool>>>();
    executor->async([ran, &executor] {
        ran->set_value({std::this_thread::get_id(), executor->isCurrent()});
    });
    const auto [id, current] = ran->get_future().get();
    EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_TRUE(current) << "isCurrent() must be true inside the executor's own job";
    EXPECT_FALSE(executor->isCurrent()) << "and false on the caller's thread";
}

TEST(SerialExecutor, DrainInsideOwnJobReturnsInsteadOfDeadlocking) {
    auto executor = SerialExecutor::create("test.drain");
    auto done = std::make_shared<std::promise<void>>();
    executor->async([done, &executor] {
        executor->drain();
        done->set_value();
    });
    done->get_future().wait();
}

// Destroyed from its own worker, the executor must neither join that thread nor lose queued jobs.
TEST(SerialExecutor, LastReferenceDroppedInsideItsOwnJobIsSafe) {
    auto executor = SerialExecutor::create("test.self");
    auto firstRunning = std::make_shared<std::promise<void>>();
    auto secondRan = std::make_shared<std::promise<void>>();
    std::promise<void> releaseFirst;
    auto release = releaseFirst.get_future().share();
    auto holder = std::make_shared<std::shared_ptr<SerialExecutor>>(executor);
    executor->async([holder, release, firstRunning] {
        firstRunning->set_value();
        release.wait();
        holder->reset();
    });
    executor->async([secondRan] { secondRan->set_value(); });
    firstRunning->get_future().wait();
    executor.reset();
    releaseFirst.set_value();
    secondRan->get_future().wait();
}

// The worker exits after a short idle time; a job queued later must still run.
TEST(SerialExecutor, StartsAgainAfterGoingIdle) {
    auto executor = SerialExecutor::create("test.idle");
    for (int round = 0; round < 3; ++round) {
        auto ran = std::make_shared<std::promise<void>>();
        executor->async([ran] { ran->set_value(); });
        ran->get_future().wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
    }
}

TEST(SerialExecutor, AThrowingJobDoesNotStopTheQueue) {
    auto executor = SerialExecutor::create("test.throw");
    auto after = std::make_shared<std::promise<void>>();
    executor->async([] { throw std::runtime_error("job failed"); });
    executor->async([after] { after->set_value(); });
    after->get_future().wait();
}

}  // namespace
}  // namespace korvanta

#include "platform/ProgressUpdater.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cmath>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace korvanta {
namespace {

// Collects what an updater delivers, noting a delivery on the test's own thread.
struct Delivery {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<double> values;
    const std::thread::id testThread = std::this_thread::get_id();
    std::atomic<bool> onTestThread{false};

    ProgressUpdater::Callback callback() {
        return [this](double v) {
            if (std::this_thread::get_id() == testThread) onTestThread = true;
            std::lock_guard lock(mutex);
            values.push_back(v);
            arrived.notify_all();
        };
    }

    // Waits until `last` has been delivered; values arrive strictly increasing, so nothing queued
    // before it can still be pending afterwards.
    std::vector<double> until(double last) {
        std::unique_lock lock(mutex);
        arrived.wait(lock, [&] { return !values.empty() && values.back() == last; });
        EXPECT_FALSE(onTestThread) << "the callback runs off the caller's thread";
        return values;
    }
};

TEST(ProgressUpdater, ClampsTruncatesAndPassesOnOnlyIncreasingHundredths) {
    // The values fed to a fresh updater, then 1.0 as a fence, and what must come out before it.
    struct Case {
        const char* why;
        std::vector<double> fed;
        std::vector<double> delivered;
    };
    const std::vector<Case> cases = {
        {"0.104 and 0.109 both truncate to 0.10; the second is no increase", {0.104, 0.109}, {0.10}},
        {"negative progress clamps to 0, and 0 is a first value since the start is -1",
         {-0.2}, {0.0}},
        {"zero itself is passed on first", {0.0, 0.0}, {0.0}},
        {"a smaller value after a larger one is dropped", {0.5, 0.3, 0.51}, {0.5, 0.51}},
        {"0.29 is 0.29, not 0.28, despite 0.29*100 being 28.999999999999996", {0.29}, {0.29}},
        {"0.3 is reported by the batch before mastering starts", {0.3, 0.305}, {0.3}},
        {"steps below a hundredth are merged", {0.011, 0.0199, 0.02}, {0.01, 0.02}},
        {"NaN carries no progress and is ignored", {std::nan(""), 0.4}, {0.4}},
        {"above 1 is passed on as exactly 1.0, and nothing can follow it", {1.7, 2.0, 0.9, 0.5}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Delivery d;
        auto updater = ProgressUpdater::create(d.callback());
        for (double p : c.fed) updater->update(p);
        updater->update(1.0);
        auto got = d.until(1.0);
        ASSERT_FALSE(got.empty());
        got.pop_back();
        ASSERT_EQ(got.size(), c.delivered.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], c.delivered[i]);
    }
}

// None skipped by binary rounding: 0.29, 0.57 and 0.58 times 100 fall just short.
TEST(ProgressUpdater, EveryHundredthFromZeroToOneArrivesExactlyOnce) {
    Delivery d;
    auto updater = ProgressUpdater::create(d.callback());
    for (int i = 0; i <= 1000; ++i) updater->update(i / 1000.0);
    auto got = d.until(1.0);
    ASSERT_EQ(got.size(), 101u);
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(got[i], i / 100.0) << "hundredth " << i;
}

// Rendering tasks report at once, with stale values; the screens must never move backwards.
TEST(ProgressUpdater, ConcurrentReportersYieldAStrictlyIncreasingSequence) {
    Delivery d;
    auto updater = ProgressUpdater::create(d.callback());
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(1234 + t);
            std::uniform_real_distribution<double> jitter(-0.05, 0.05);
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 2000; ++i) updater->update(i / 2000.0 + jitter(rng));
        });
    }
    go = true;
    for (auto& th : threads) th.join();
    updater->update(1.0);
    const auto got = d.until(1.0);
    ASSERT_GE(got.size(), 2u);
    for (size_t i = 1; i < got.size(); ++i) {
        EXPECT_GT(got[i], got[i - 1]) << "delivery " << i << " went backwards";
        EXPECT_EQ(got[i], std::round(got[i] * 100.0) / 100.0) << "not a whole hundredth";
    }
}

// The first callback blocks the queue while a second value waits behind it and the test drops the
// updater: queued jobs hold it weakly, so it dies before the second value is delivered.
TEST(ProgressUpdater, ValuesQueuedForADestroyedUpdaterAreDropped) {
    std::promise<void> releaseFirst;
    auto released = releaseFirst.get_future().share();
    // Shared with the worker, so that the test may return while the worker is in set_value().
    auto firstStarted = std::make_shared<std::promise<void>>();
    auto deliveredAtDestruction = std::make_shared<std::promise<std::vector<double>>>();

    auto values = std::make_shared<std::vector<double>>();
    auto valuesMutex = std::make_shared<std::mutex>();
    // What had been delivered when the callback, and so the updater, is destroyed.
    struct OnDestroy {
        std::function<void()> fn;
        ~OnDestroy() { fn(); }
    };
    auto witness = std::make_shared<OnDestroy>();
    witness->fn = [deliveredAtDestruction, values, valuesMutex] {
        std::lock_guard lock(*valuesMutex);
        deliveredAtDestruction->set_value(*values);
    };

    auto updater = ProgressUpdater::create([=](double v) {
        (void)witness;
        {
            std::lock_guard lock(*valuesMutex);
            values->push_back(v);
        }
        if (v == 0.1) {
            firstStarted->set_value();
            released.wait();
        }
    });
    witness.reset();

    updater->update(0.1);
    firstStarted->get_future().wait();
    updater->update(0.2);
    updater.reset();
    releaseFirst.set_value();

    const auto atDestruction = deliveredAtDestruction->get_future().get();
    EXPECT_EQ(atDestruction, std::vector<double>{0.1});
}

}  // namespace
}  // namespace korvanta

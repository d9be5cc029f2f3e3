// Collects what a ProgressUpdater delivers, on its own executor. The state is shared with the
// callback, so a late delivery touches nothing that is gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ProgressUpdater.h"

namespace korvanta::test {

struct ProgressLog {
    struct State {
        std::mutex mutex;
        std::condition_variable arrived;
        std::vector<double> values;
    };
    const std::shared_ptr<State> state = std::make_shared<State>();
    const std::shared_ptr<ProgressUpdater> updater = ProgressUpdater::create([s = state](double v) {
        std::lock_guard lock(s->mutex);
        s->values.push_back(v);
        s->arrived.notify_all();
    });

    // Waits until `last` has been delivered (values arrive in order; gives up after a minute) and
    // returns all values.
    std::vector<double> until(double last) const {
        std::unique_lock lock(state->mutex);
        state->arrived.wait_for(lock, std::chrono::minutes(1), [&] {
            return !state->values.empty() && state->values.back() >= last;
        });
        return state->values;
    }
};

}  // namespace korvanta::test

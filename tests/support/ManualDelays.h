// A manual clock for delayed main-thread jobs: nothing runs until the test advances time.
#pragma once

#include <QPointer>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/DelayScheduler.h"

namespace korvanta::test {

class ManualDelays final : public DelayScheduler {
public:
    void after(double seconds, QObject* context, std::function<void()> job) override {
        jobs_.push_back(Job{now_ + std::max(seconds, 0.0), sequence_++, context, std::move(job)});
    }

    // Moves the clock forward, running every job that falls due, in due order (jobs scheduled
    // meanwhile included when they fall due within the step).
    void advance(double seconds) {
        const double end = now_ + seconds;
        for (;;) {
            auto next = std::min_element(jobs_.begin(), jobs_.end(), [](const Job& a, const Job& b) {
                return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
            });
            if (next == jobs_.end() || next->due > end + 1e-9) break;
            Job job = std::move(*next);
            jobs_.erase(next);
            now_ = std::max(now_, job.due);
            if (job.context) job.run();
        }
        now_ = end;
    }

    double now() const { return now_; }
    size_t pending() const { return jobs_.size(); }

private:
    struct Job {
        double due;
        uint64_t sequence;
        QPointer<QObject> context;
        std::function<void()> run;
    };
    std::vector<Job> jobs_;
    double now_ = 0.0;
    uint64_t sequence_ = 0;
};

inline std::shared_ptr<ManualDelays> installManualDelays() {
    auto delays = std::make_shared<ManualDelays>();
    DelayScheduler::install(delays);
    return delays;
}

}  // namespace korvanta::test

// Jobs that run on the main thread after a delay (the workflow's 0.1 / 1.1 / 2.0 / 3.0 s steps).
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace korvanta {

// The application schedules with Qt timers; tests install a manual clock and advance it.
class DelayScheduler {
public:
    virtual ~DelayScheduler() = default;
    // Main thread. Runs `job` on the main thread `seconds` from now, unless `context` (required)
    // has been destroyed by then.
    virtual void after(double seconds, QObject* context, std::function<void()> job) = 0;

    static DelayScheduler& shared();
    static void install(std::shared_ptr<DelayScheduler> scheduler);
};

// Shorthand for DelayScheduler::shared().after(...).
inline void runAfter(double seconds, QObject* context, std::function<void()> job) {
    DelayScheduler::shared().after(seconds, context, std::move(job));
}

}  // namespace korvanta

// A serial queue: jobs run one at a time, in the order they were queued, never on the thread that
// queued them.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace korvanta {

// Each executor owns at most one worker thread at a time. The worker is started when a job is
// queued on an idle executor and exits by itself once the queue has stayed empty for a short
// while, so an executor costs nothing while idle and nothing has to be joined: not when the last
// reference to the executor is dropped (even inside one of its own jobs), and not at process exit.
//
// Jobs queued before the last reference is dropped still run. Jobs must not throw; an exception
// that escapes a job is swallowed so that the jobs after it still run.
//
// All member functions may be called from any thread.
class SerialExecutor {
public:
    // `label` names the queue in diagnostics; it has no effect on scheduling.
    static std::shared_ptr<SerialExecutor> create(std::string label);
    ~SerialExecutor();

    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    const std::string& label() const;

    // Queues `job` behind every job queued before and returns at once.
    void async(std::function<void()> job);

    // Blocks until every job queued before this call has finished. Called from one of this
    // executor's own jobs it returns at once, since waiting there could never end.
    void drain();

    // True while the calling thread is running one of this executor's jobs.
    bool isCurrent() const;

    struct State;

private:
    explicit SerialExecutor(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
};

}  // namespace korvanta

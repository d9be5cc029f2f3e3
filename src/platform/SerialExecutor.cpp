#include "platform/SerialExecutor.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

namespace korvanta {

namespace {

// How long an idle worker waits for more work before it exits. Progress reports arrive in bursts
// a few milliseconds apart; this keeps one thread per burst instead of one per job.
constexpr auto kIdleLinger = std::chrono::milliseconds(50);

}  // namespace

// Shared by the executor handle and its worker thread, so that it outlives whichever goes last.
struct SerialExecutor::State {
    std::string label;
    std::mutex mutex;  // a leaf lock: no job runs and no other lock is taken while it is held
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool workerRunning = false;
};

namespace {

thread_local const SerialExecutor::State* tCurrentState = nullptr;

void runWorker(std::shared_ptr<SerialExecutor::State> state) {
    tCurrentState = state.get();
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait_for(lock, kIdleLinger, [&] { return !state->jobs.empty(); });
            if (state->jobs.empty()) {
                // Deciding to exit under the lock means a job queued from now on starts a new
                // worker, and two workers never run at the same time.
                state->workerRunning = false;
                break;
            }
            job = std::move(state->jobs.front());
            state->jobs.pop_front();
        }
        try {
            job();
        } catch (...) {
        }
        // Destroyed here, outside the lock: the job may hold the last reference to whatever owns
        // this executor.
        job = nullptr;
    }
    tCurrentState = nullptr;
}

}  // namespace

std::shared_ptr<SerialExecutor> SerialExecutor::create(std::string label) {
    auto state = std::make_shared<State>();
    state->label = std::move(label);
    return std::shared_ptr<SerialExecutor>(new SerialExecutor(std::move(state)));
}

SerialExecutor::SerialExecutor(std::shared_ptr<State> state) : state_(std::move(state)) {}

SerialExecutor::~SerialExecutor() = default;

const std::string& SerialExecutor::label() const { return state_->label; }

bool SerialExecutor::isCurrent() const { return tCurrentState == state_.get(); }

void SerialExecutor::async(std::function<void()> job) {
    if (!job) return;
    bool startWorker = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back(std::move(job));
        if (!state_->workerRunning) {
            state_->workerRunning = true;
            startWorker = true;
        }
    }
    if (!startWorker) {
        state_->wake.notify_one();
        return;
    }
    try {
        std::thread(runWorker, state_).detach();
    } catch (const std::system_error&) {
        // No thread could be made now: the jobs stay queued and the next async() tries again.
        std::lock_guard lock(state_->mutex);
        state_->workerRunning = false;
    }
}

void SerialExecutor::drain() {
    if (isCurrent()) return;
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    async([done] { done->set_value(); });
    finished.wait();
}

}  // namespace korvanta

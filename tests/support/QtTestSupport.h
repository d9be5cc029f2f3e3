// Helpers for the tests of the Qt models: running the main thread's event loop until something has
// happened, and letting a worker thread wait for the test.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace korvanta::test {

// Runs the main thread's event loop until `condition` holds (true) or `timeout` has passed (false).
// The timeout only guards against a hang; no test depends on how long anything takes.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Runs the event loop until what is already queued (and what that queues in turn, for a moment)
// has been handled.
inline void drainEvents() {
    for (int i = 0; i < 20; ++i) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// Delivers what is posted to the main thread, and what that posts in turn, without waiting.
inline void runPosted() {
    for (int i = 0; i < 8; ++i) QCoreApplication::sendPostedEvents(nullptr, 0);
}

inline bool onMainThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// A one-way gate: worker threads wait until the test opens it. Waiting gives up after a minute, so
// that a failed test cannot leave a worker blocked forever.
class Gate {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool isOpen() const {
        std::lock_guard lock(mutex_);
        return open_;
    }
    // True when the gate opened, false when the wait gave up.
    bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return open_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

}  // namespace korvanta::test

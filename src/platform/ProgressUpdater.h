// Throttles a song's progress into strictly increasing hundredths, delivered in order on the
// updater's own serial executor.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace korvanta {

class SerialExecutor;

class ProgressUpdater : public std::enable_shared_from_this<ProgressUpdater> {
public:
    using Callback = std::function<void(double)>;

    // The callback runs on the updater's executor, never on the caller's thread.
    static std::shared_ptr<ProgressUpdater> create(Callback callback);
    ~ProgressUpdater();

    // Any thread. Clamps to 0…1, truncates to hundredths and passes the value on only when it is
    // larger than the last one passed on. A value queued for an updater that has since been
    // destroyed is dropped.
    void update(double progress);

private:
    explicit ProgressUpdater(Callback callback);

    Callback updateCallback_;
    std::mutex lock_;
    double lastProgress_ = -1.0;
    std::shared_ptr<SerialExecutor> updateQueue_;
};

}  // namespace korvanta

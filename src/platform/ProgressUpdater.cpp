#include "platform/ProgressUpdater.h"

#include <cmath>

#include "platform/SerialExecutor.h"

namespace korvanta {

namespace {

// Progress truncated to whole hundredths, as a count of hundredths (0…100).
//
// `progress · 100` is truncated toward zero, except that a product lying within a hair below a
// whole number counts as that number: 0.29 · 100 evaluates to 28.999999999999996 in binary
// floating point and must give 29 hundredths, not 28. The tolerance (1e-9 hundredths) is far
// below any step a caller can mean, so 0.109 still gives 10.
int hundredths(double clampedProgress) {
    const double scaled = clampedProgress * 100.0;
    double whole = std::trunc(scaled);
    if (whole + 1.0 - scaled <= 1e-9) whole += 1.0;
    return static_cast<int>(whole);
}

}  // namespace

std::shared_ptr<ProgressUpdater> ProgressUpdater::create(Callback callback) {
    return std::shared_ptr<ProgressUpdater>(new ProgressUpdater(std::move(callback)));
}

ProgressUpdater::ProgressUpdater(Callback callback)
    : updateCallback_(std::move(callback)),
      updateQueue_(SerialExecutor::create("progress.update")) {}

ProgressUpdater::~ProgressUpdater() = default;

void ProgressUpdater::update(double progress) {
    if (std::isnan(progress)) return;  // carries no progress at all
    double p = progress;
    if (p <= 0.0) {
        p = 0.0;
    } else if (p > 1.0) {
        p = 1.0;
    }
    const double value = hundredths(p) / 100.0;

    std::lock_guard guard(lock_);
    if (!(value > lastProgress_)) return;
    lastProgress_ = value;
    // Queued before the lock is released, so that two threads passing values on at the same time
    // cannot queue them in the opposite order. Queuing takes only the executor's own leaf lock;
    // the callback itself never runs under `lock_`.
    updateQueue_->async([weakSelf = weak_from_this(), value] {
        if (auto self = weakSelf.lock()) {
            if (self->updateCallback_) self->updateCallback_(value);
        }
    });
}

}  // namespace korvanta

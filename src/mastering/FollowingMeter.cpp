#include "mastering/FollowingMeter.h"

#include <algorithm>
#include <system_error>

namespace korvanta {

namespace {

// Metered in pieces of at most this many frames, so that a stop is heard soon.
constexpr int64_t kPieceFrames = 1 << 16;

}  // namespace

FollowingMeter::FollowingMeter(std::vector<const float*> channels, double sampleRate,
                               std::shared_ptr<const void> keepAlive)
    : channels_(std::move(channels)), at_(channels_.size()), keepAlive_(std::move(keepAlive)) {
    meter_.prepare(static_cast<int>(channels_.size()), sampleRate);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // finish() does the work.
    }
}

FollowingMeter::~FollowingMeter() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    published_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void FollowingMeter::publish(int64_t frames) {
    {
        std::lock_guard lock(mutex_);
        if (frames <= available_) return;
        available_ = frames;
    }
    published_.notify_one();
}

DeliveryFigures FollowingMeter::finish() {
    int64_t available;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        available = available_;
    }
    published_.notify_one();
    if (thread_.joinable()) thread_.join();
    meterUpTo(available);
    return meter_.figures();
}

void FollowingMeter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        published_.wait(lock, [this] {
            return abandoned_ || closing_ || available_ > meter_.framesMeasured();
        });
        if (abandoned_) return;
        const int64_t available = available_;
        if (available <= meter_.framesMeasured()) {
            if (closing_) return;
            continue;
        }
        lock.unlock();
        meterUpTo(std::min(available, meter_.framesMeasured() + kPieceFrames));
        lock.lock();
    }
}

void FollowingMeter::meterUpTo(int64_t frames) {
    const int64_t from = meter_.framesMeasured();
    if (frames <= from) return;
    for (size_t c = 0; c < channels_.size(); ++c) at_[c] = channels_[c] + from;
    meter_.process(at_.data(), frames - from);
}

}  // namespace korvanta

#include "mastering/FollowingMeter.h"

#include <algorithm>
#include <system_error>

namespace korvanta {

namespace {

// The true peak is metered in pieces of this many frames (about six seconds), the loudness in
// whole stretches: each part is woken once its next piece is there, not at every frame the
// producer publishes, and a stop is heard within a few milliseconds of work.
constexpr int64_t kPieceFrames = 1 << 18;

}  // namespace

FollowingMeter::FollowingMeter(std::vector<const float*> channels, double sampleRate,
                               std::shared_ptr<const void> keepAlive)
    : channels_(std::move(channels)), keepAlive_(std::move(keepAlive)) {
    peak_.prepare(static_cast<int>(channels_.size()), sampleRate);
    loudness_.prepare(static_cast<int>(channels_.size()), sampleRate);
    parts_[kTruePeak].wanted = kPieceFrames;
    parts_[kLoudness].wanted = loudness_.nextBatchEnd();
    for (int part = 0; part < kParts; ++part) {
        parts_[size_t(part)].at.resize(channels_.size());
        try {
            parts_[size_t(part)].thread = std::thread([this, part] { run(part); });
        } catch (const std::system_error&) {
            // finish() does this part's work.
        }
    }
}

FollowingMeter::~FollowingMeter() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    stop();
}

void FollowingMeter::publish(int64_t frames) {
    bool wake[kParts]{};
    {
        std::lock_guard lock(mutex_);
        if (frames <= available_) return;
        for (int part = 0; part < kParts; ++part) {
            const int64_t wanted = parts_[size_t(part)].wanted;
            wake[part] = available_ < wanted && frames >= wanted;
        }
        available_ = frames;
    }
    for (int part = 0; part < kParts; ++part) {
        if (wake[part]) parts_[size_t(part)].woken.notify_one();
    }
}

DeliveryFigures FollowingMeter::finish() {
    int64_t available;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        available = available_;
    }
    stop();
    for (int part = 0; part < kParts; ++part) meterUpTo(part, available, true);
    return deliveryFigures(peak_, loudness_);
}

int64_t FollowingMeter::framesMeasured() const {
    return std::min(parts_[kTruePeak].measured, parts_[kLoudness].measured);
}

void FollowingMeter::stop() {
    for (Part& part : parts_) part.woken.notify_one();
    for (Part& part : parts_) {
        if (part.thread.joinable()) part.thread.join();
    }
}

void FollowingMeter::run(int part) {
    Part& p = parts_[size_t(part)];
    std::unique_lock lock(mutex_);
    for (;;) {
        p.woken.wait(lock, [&] { return abandoned_ || closing_ || available_ >= p.wanted; });
        // Once closing, finish() meters what is left.
        if (abandoned_ || closing_) return;
        const int64_t available = available_;
        lock.unlock();
        meterUpTo(part, part == kTruePeak ? available / kPieceFrames * kPieceFrames : available);
        const int64_t wanted = part == kTruePeak ? p.measured + kPieceFrames : loudness_.nextBatchEnd();
        lock.lock();
        p.wanted = wanted;
    }
}

void FollowingMeter::meterUpTo(int part, int64_t frames, bool last) {
    Part& p = parts_[size_t(part)];
    if (part == kLoudness) {
        loudness_.processAvailable(channels_.data(), frames, last);
        p.measured = loudness_.framesMeasured();
        return;
    }
    if (frames <= p.measured) return;
    for (size_t c = 0; c < channels_.size(); ++c) p.at[c] = channels_[c] + p.measured;
    peak_.process(p.at.data(), frames - p.measured);
    p.measured = frames;
}

}  // namespace korvanta

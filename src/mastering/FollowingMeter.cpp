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
    : channels_(std::move(channels)), keepAlive_(std::move(keepAlive)) {
    peak_.prepare(static_cast<int>(channels_.size()), sampleRate);
    loudness_.prepare(static_cast<int>(channels_.size()), sampleRate);
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
    {
        std::lock_guard lock(mutex_);
        if (frames <= available_) return;
        available_ = frames;
    }
    published_.notify_all();
}

DeliveryFigures FollowingMeter::finish() {
    int64_t available;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        available = available_;
    }
    stop();
    for (int part = 0; part < kParts; ++part) meterUpTo(part, available);
    return deliveryFigures(peak_, loudness_);
}

int64_t FollowingMeter::framesMeasured() const {
    return std::min(parts_[kTruePeak].measured, parts_[kLoudness].measured);
}

void FollowingMeter::stop() {
    published_.notify_all();
    for (Part& part : parts_) {
        if (part.thread.joinable()) part.thread.join();
    }
}

void FollowingMeter::run(int part) {
    const int64_t& measured = parts_[size_t(part)].measured;
    std::unique_lock lock(mutex_);
    for (;;) {
        published_.wait(lock, [&] { return abandoned_ || closing_ || available_ > measured; });
        if (abandoned_) return;
        const int64_t available = available_;
        if (available <= measured) {
            if (closing_) return;
            continue;
        }
        lock.unlock();
        if (part == kLoudness && measured == 0 && available >= kPieceFrames) {
            // A start with much already there (a kept trial catching up): the loudness runs on
            // several stretches of it at once.
            loudness_.processWhole(channels_.data(), available);
            parts_[kLoudness].measured = available;
        } else {
            meterUpTo(part, std::min(available, measured + kPieceFrames));
        }
        lock.lock();
    }
}

void FollowingMeter::meterUpTo(int part, int64_t frames) {
    Part& p = parts_[size_t(part)];
    if (frames <= p.measured) return;
    for (size_t c = 0; c < channels_.size(); ++c) p.at[c] = channels_[c] + p.measured;
    if (part == kTruePeak) {
        peak_.process(p.at.data(), frames - p.measured);
    } else {
        loudness_.process(p.at.data(), frames - p.measured);
    }
    p.measured = frames;
}

}  // namespace korvanta

#include "mastering/WrittenPass.h"

#include <algorithm>
#include <new>

#include "engine/LoudnessMeasurement.h"
#include "platform/SampleQuantizer.h"

namespace korvanta {

WrittenPass::WrittenPass(const AudioFormat& format, int64_t length, bool delivery, uint64_t maxKeptBytes)
    : format_(format), length_(length), window_(measurementWindow(format, length)), delivery_(delivery) {
    const auto channels = static_cast<size_t>(std::max(format.channelCount, 0));
    if (length_ < 1 || channels == 0) return;
    if (delivery_) {
        meter_.prepare(format.channelCount, format.sampleRate);
        if (uint64_t(length_) * channels * sizeof(float) <= maxKeptBytes) {
            try {
                song_.resize(channels);
                for (auto& samples : song_) samples.resize(static_cast<size_t>(length_));
            } catch (const std::bad_alloc&) {
                song_.clear();
            }
        }
    }
    if (song_.empty()) {
        try {
            windowOnly_.resize(channels);
            for (auto& samples : windowOnly_) samples.resize(window_.frameCount);
        } catch (const std::bad_alloc&) {
            return;  // nothing kept: the pass is measured from its file
        }
        snapped_.resize(channels);
    }
    for (size_t c = 0; c < channels; ++c) {
        windowChannels_.push_back(song_.empty() ? windowOnly_[c].data() : song_[c].data() + window_.firstFrame);
    }
}

WrittenPass::~WrittenPass() = default;

void WrittenPass::restart(bool trial) {
    follower_.reset();
    kept_ = 0;
    written_ = 0;
    if (!delivery_ || windowChannels_.empty()) {
        metering_ = Metering::none;
    } else if (!song_.empty()) {
        metering_ = trial ? Metering::deferred : Metering::following;
        if (metering_ == Metering::following) startFollowing();
    } else {
        metering_ = Metering::onWriter;
        meter_.reset();
    }
}

void WrittenPass::take(const PcmBuffer& chunk, int64_t firstFrame, int bits) {
    if (windowChannels_.empty() || firstFrame < 0 || firstFrame >= length_) return;
    const int64_t frames = std::min<int64_t>(chunk.frameLength(), length_ - firstFrame);
    const int64_t from = std::max(firstFrame, window_.firstFrame);
    const int64_t to = std::min(firstFrame + frames, window_.firstFrame + int64_t(window_.frameCount));
    if (!song_.empty()) {
        // The whole chunk, window included, into the kept rendering.
        for (size_t c = 0; c < song_.size(); ++c) {
            snapToSampleGridStreaming(chunk.channel(static_cast<int>(c)), song_[c].data() + firstFrame,
                             static_cast<size_t>(frames), bits);
        }
    } else if (from < to) {
        for (size_t c = 0; c < windowChannels_.size(); ++c) {
            snapToSampleGridStreaming(chunk.channel(static_cast<int>(c)) + (from - firstFrame),
                             windowOnly_[c].data() + (from - window_.firstFrame),
                             static_cast<size_t>(to - from), bits);
        }
    }
    if (from < to) kept_ += to - from;
    written_ = firstFrame + frames;
    if (metering_ == Metering::following) follower_->publish(written_);
    if (metering_ == Metering::onWriter) meterOnWriter(chunk, firstFrame, bits);
}

void WrittenPass::keep() {
    if (metering_ != Metering::deferred || !complete()) return;
    metering_ = Metering::following;
    startFollowing();
    follower_->publish(written_);
}

bool WrittenPass::complete() const {
    return !windowChannels_.empty() && kept_ == int64_t(window_.frameCount);
}

std::optional<AudioStats> WrittenPass::stats() const {
    if (!complete()) return std::nullopt;
    return measureLoudness(windowChannels_.data(), static_cast<int>(windowChannels_.size()), window_.frameCount,
                           static_cast<float>(format_.sampleRate));
}

bool WrittenPass::addDelivery(AudioStats& stats) {
    if (!complete() || written_ != length_) return false;
    DeliveryFigures figures;
    if (metering_ == Metering::following) {
        figures = follower_->finish();
        if (follower_->framesMeasured() != length_) return false;
    } else if (metering_ == Metering::onWriter) {
        if (meter_.framesMeasured() != length_) return false;
        figures = meter_.figures();
    } else {
        return false;
    }
    setDeliveryFigures(stats, figures);
    return true;
}

void WrittenPass::meterOnWriter(const PcmBuffer& chunk, int64_t firstFrame, int bits) {
    const auto frames = static_cast<size_t>(std::min<int64_t>(chunk.frameLength(), length_ - firstFrame));
    pointers_.resize(snapped_.size());
    for (size_t c = 0; c < snapped_.size(); ++c) {
        snapped_[c].resize(std::max(snapped_[c].size(), frames));
        snapToSampleGrid(chunk.channel(static_cast<int>(c)), snapped_[c].data(), frames, bits);
        pointers_[c] = snapped_[c].data();
    }
    meter_.process(pointers_.data(), static_cast<int64_t>(frames));
}

void WrittenPass::startFollowing() {
    std::vector<const float*> channels;
    for (const auto& samples : song_) channels.push_back(samples.data());
    follower_ = std::make_unique<FollowingMeter>(std::move(channels), format_.sampleRate);
}

}  // namespace korvanta

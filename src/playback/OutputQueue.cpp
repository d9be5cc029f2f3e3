#include "playback/OutputQueue.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace korvanta {

void OutputQueue::scheduleSegment(std::shared_ptr<SharedAudioFile> file, int64_t startFrame,
                                  uint32_t frameCount) {
    if (!file || startFrame < 0 || startFrame >= file->length()) return;
    const auto count = static_cast<uint32_t>(std::min<int64_t>(frameCount, file->length() - startFrame));
    if (count == 0) return;
    std::lock_guard lock(mutex_);
    Item item;
    item.id = nextId_++;
    item.file = std::move(file);
    item.position = startFrame;
    item.remaining = count;
    items_.push_back(std::move(item));
}

void OutputQueue::scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer, Completion done) {
    if (!buffer || buffer->frameLength() == 0) {
        if (done) done();
        return;
    }
    std::lock_guard lock(mutex_);
    Item item;
    item.id = nextId_++;
    item.remaining = buffer->frameLength();
    item.buffer = std::move(buffer);
    item.done = std::move(done);
    items_.push_back(std::move(item));
}

void OutputQueue::setPlaying(bool playing) { playing_.store(playing); }

void OutputQueue::stop() {
    std::deque<Item> discarded;
    {
        std::lock_guard lock(mutex_);
        playing_.store(false);
        discarded.swap(items_);
        stopCount_.fetch_add(1);
    }
    for (auto& item : discarded) {
        if (item.done) item.done();
    }
}

size_t OutputQueue::pendingItems() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

uint32_t OutputQueue::pull(float* const* channels, int channelCount, uint32_t frameCount) {
    uint32_t filled = 0;
    const float gain = volume_.load();
    while (filled < frameCount && playing_.load()) {
        // Take what the front item holds; a segment is read without the lock, so that stopping
        // never waits for a decode. A stop meanwhile makes the front item a different one.
        Item front;
        {
            std::lock_guard lock(mutex_);
            if (items_.empty()) {
                if (framesPulled_.load() > 0) starvedPulls_.fetch_add(1);
                break;
            }
            const Item& f = items_.front();
            front.id = f.id;
            front.file = f.file;
            front.position = f.position;
            front.buffer = f.buffer;
            front.offset = f.offset;
            front.remaining = f.remaining;
        }
        const uint32_t n = std::min(front.remaining, frameCount - filled);
        if (front.buffer) {
            const int sourceChannels = front.buffer->channelCount();
            for (int c = 0; c < channelCount; ++c) {
                float* out = channels[c] + filled;
                if (c < sourceChannels) {
                    const float* in = front.buffer->channel(c) + front.offset;
                    for (uint32_t i = 0; i < n; ++i) out[i] = in[i] * gain;
                } else {
                    std::fill(out, out + n, 0.0f);
                }
            }
        } else {
            const AudioFormat& format = front.file->processingFormat();
            if (!scratch_ || scratch_->frameCapacity() < n || scratch_->channelCount() != format.channelCount) {
                scratch_ = PcmBuffer::allocate(format, std::max<uint32_t>(n, 4096));
            }
            uint32_t got = 0;
            if (scratch_ && front.file->read(front.position, *scratch_, n)) got = scratch_->frameLength();
            for (int c = 0; c < channelCount; ++c) {
                float* out = channels[c] + filled;
                if (c < format.channelCount && got > 0) {
                    const float* in = scratch_->channel(c);
                    for (uint32_t i = 0; i < got; ++i) out[i] = in[i] * gain;
                }
                std::fill(out + got, out + n, 0.0f);
            }
        }
        Completion done;
        {
            std::lock_guard lock(mutex_);
            if (items_.empty() || items_.front().id != front.id) continue;  // stopped meanwhile
            Item& f = items_.front();
            f.remaining -= n;
            f.offset += n;
            f.position += n;
            if (f.remaining == 0) {
                done = std::move(f.done);
                items_.pop_front();
            }
        }
        filled += n;
        framesPulled_.fetch_add(n);
        if (done) done();
    }
    return filled;
}

}  // namespace korvanta

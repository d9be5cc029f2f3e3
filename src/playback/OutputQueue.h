// What an audio output plays: file segments and buffers scheduled in order, each buffer with a
// callback for when it has been played or discarded. The outputs pull from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/PcmBuffer.h"
#include "playback/SharedAudioFile.h"

namespace korvanta {

class OutputQueue {
public:
    // Called once per scheduled buffer, on the thread that pulled its last frame or that
    // stopped the queue; must only hand work to another thread.
    using Completion = std::function<void()>;

    // --- Any thread ------------------------------------------------------------------------------
    // `frameCount` frames of `file` from `startFrame` (cut at the file's end).
    void scheduleSegment(std::shared_ptr<SharedAudioFile> file, int64_t startFrame, uint32_t frameCount);
    // The buffer's frameLength frames; `done` may be empty.
    void scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer, Completion done);
    void setPlaying(bool playing);
    bool isPlaying() const { return playing_.load(); }
    // Discards everything scheduled and stops playing; the completions of discarded buffers run
    // before this returns (on the calling thread).
    void stop();
    // Pulls that found nothing scheduled while playing, after the first frame was pulled: the
    // feed fell behind (or the audio ended).
    uint64_t starvedPulls() const { return starvedPulls_.load(); }
    // How many times stop() has run: a puller holding converted audio of its own drops it when
    // this changes.
    uint64_t stopCount() const { return stopCount_.load(); }
    // Linear gain applied to every sample pulled.
    void setVolume(float gain) { volume_.store(gain); }
    float volume() const { return volume_.load(); }
    // Items scheduled and not yet fully pulled.
    size_t pendingItems() const;
    // Frames pulled since construction (silence not counted).
    uint64_t framesPulled() const { return framesPulled_.load(); }

    // --- The pulling thread (one at a time) ------------------------------------------------------
    // Fills up to `frameCount` frames of `channels` (`channelCount` arrays, the scheduled audio's
    // channel count) and returns how many were filled: 0 while paused or with nothing scheduled.
    // Segment frames that fail to read are played as silence. Never allocates once its scratch
    // buffer has grown to the largest pull.
    uint32_t pull(float* const* channels, int channelCount, uint32_t frameCount);

private:
    struct Item {
        uint64_t id = 0;
        std::shared_ptr<SharedAudioFile> file;  // segment
        int64_t position = 0;                   // segment: next frame of the file
        std::shared_ptr<const PcmBuffer> buffer;  // buffer
        uint32_t offset = 0;                      // buffer: next frame
        uint32_t remaining = 0;
        Completion done;
    };

    mutable std::mutex mutex_;  // guards items_ and nextId_
    std::deque<Item> items_;
    uint64_t nextId_ = 1;
    std::atomic<bool> playing_{false};
    std::atomic<float> volume_{1.0f};
    std::atomic<uint64_t> framesPulled_{0};
    std::atomic<uint64_t> stopCount_{0};
    std::atomic<uint64_t> starvedPulls_{0};
    std::unique_ptr<PcmBuffer> scratch_;  // pulling thread only
};

}  // namespace korvanta

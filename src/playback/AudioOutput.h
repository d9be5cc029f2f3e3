// The player's output: one voice into the sound device, fed with scheduled file segments and
// buffers (the buffers with completion callbacks), with play, pause, stop and a master volume.
#pragma once

#include <functional>
#include <memory>

#include "platform/PcmBuffer.h"
#include "playback/OutputQueue.h"
#include "playback/SharedAudioFile.h"

namespace korvanta {

// Every member is called on the main thread. Completions run on the output's own thread (or
// inside stop()) and must only post work to the main thread.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // Opens the device for audio of `format` (the format of everything scheduled next); a
    // device that refuses it gets the audio converted. Returns false when there is no device or
    // it cannot be opened; the output then plays nothing. An output may report a failure that
    // comes to light later through the lost handler.
    virtual bool start(const AudioFormat& format) = 0;
    virtual bool isRunning() const = 0;
    // Closes the device; what is scheduled stays.
    virtual void stopEngine() = 0;

    // Called on the main thread when the device has gone and no other took its place (the output
    // is then not running).
    void setDeviceLostHandler(std::function<void()> handler) { deviceLost_ = std::move(handler); }

    // The node.
    OutputQueue& queue() { return queue_; }
    void scheduleSegment(std::shared_ptr<SharedAudioFile> file, int64_t startFrame, uint32_t frameCount) {
        queue_.scheduleSegment(std::move(file), startFrame, frameCount);
    }
    void scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer, OutputQueue::Completion done) {
        queue_.scheduleBuffer(std::move(buffer), std::move(done));
    }
    void play() { queue_.setPlaying(true); }
    void pause() { queue_.setPlaying(false); }
    void stop() { queue_.stop(); }
    void setVolume(float gain) { queue_.setVolume(gain); }
    float volume() const { return queue_.volume(); }

protected:
    void reportDeviceLost() {
        if (deviceLost_) deviceLost_();
    }

private:
    OutputQueue queue_;
    std::function<void()> deviceLost_;
};

// A machine without sound: never starts.
class NoAudioOutput final : public AudioOutput {
public:
    bool start(const AudioFormat&) override { return false; }
    bool isRunning() const override { return false; }
    void stopEngine() override {}
};

}  // namespace korvanta

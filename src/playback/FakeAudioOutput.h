// An output without a device for tests and screenshots: audio leaves it only when the owner
// pulls frames, as a device would in real time.
#pragma once

#include <vector>

#include "playback/AudioOutput.h"

namespace korvanta {

class FakeAudioOutput final : public AudioOutput {
public:
    bool start(const AudioFormat& format) override {
        format_ = format;
        running_ = true;
        ++starts_;
        return true;
    }
    bool isRunning() const override { return running_; }
    void stopEngine() override { running_ = false; }

    // Pulls up to `frameCount` frames (in the format last started with) and returns them, one
    // vector per channel; fewer when paused or when less is scheduled. Completions of buffers that
    // finish run inside this call.
    std::vector<std::vector<float>> pull(uint32_t frameCount) {
        const int channels = format_.channelCount;
        std::vector<std::vector<float>> out(static_cast<size_t>(channels), std::vector<float>(frameCount));
        std::vector<float*> pointers;
        for (auto& c : out) pointers.push_back(c.data());
        const uint32_t got = running_ ? queue().pull(pointers.data(), channels, frameCount) : 0;
        for (auto& c : out) c.resize(got);
        return out;
    }
    // The device vanishes.
    void loseDevice() {
        running_ = false;
        reportDeviceLost();
    }

    const AudioFormat& format() const { return format_; }
    int starts() const { return starts_; }

private:
    AudioFormat format_{44100.0, 2};
    bool running_ = false;
    int starts_ = 0;
};

}  // namespace korvanta

// A block of de-interleaved 32-bit float samples, full scale ±1.0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvanta {

// Sample rate and channel count of a stream as the application processes it.
struct AudioFormat {
    double sampleRate = 0.0;
    int channelCount = 0;
    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

class PcmBuffer {
public:
    // Returns nullptr, never throws, when the buffer cannot or should not be made: a format
    // without a positive rate, a negative channel count, or more memory than one buffer may take
    // (see maxBufferBytes()).
    static std::unique_ptr<PcmBuffer> allocate(const AudioFormat& format, uint32_t frameCapacity);

    // The largest allocation one buffer may make, in bytes: half of physical memory, at most 8 GiB.
    static uint64_t maxBufferBytes();

    const AudioFormat& format() const { return format_; }
    int channelCount() const { return format_.channelCount; }
    double sampleRate() const { return format_.sampleRate; }

    uint32_t frameCapacity() const { return frameCapacity_; }
    uint32_t frameLength() const { return frameLength_; }
    // Values beyond the capacity are clamped to it.
    void setFrameLength(uint32_t frames) { frameLength_ = frames < frameCapacity_ ? frames : frameCapacity_; }

    float* channel(int c) { return channels_[static_cast<size_t>(c)]; }
    const float* channel(int c) const { return channels_[static_cast<size_t>(c)]; }
    float* const* floatChannelData() { return channels_.data(); }

private:
    PcmBuffer() = default;

    AudioFormat format_;
    uint32_t frameCapacity_ = 0;
    uint32_t frameLength_ = 0;
    struct Storage {
        float* samples = nullptr;
        size_t bytes = 0;
        bool large = false;  // from allocateLarge, else from new[]
        Storage() = default;
        Storage(const Storage&) = delete;
        Storage& operator=(const Storage&) = delete;
        ~Storage();
    };
    Storage storage_;
    std::vector<float*> channels_;
};

// The machine's physical memory in bytes (0 when unknown).
uint64_t physicalMemoryBytes();

}  // namespace korvanta

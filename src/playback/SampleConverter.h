// Turns the player's planar float audio into what a sound device takes: another sample rate,
// channel count or sample type, interleaved (libswresample).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/PcmBuffer.h"

struct SwrContext;

namespace korvanta {

enum class DeviceSampleType { uint8, int16, int32, float32 };

struct DeviceFormat {
    int sampleRate = 44100;
    int channelCount = 2;
    DeviceSampleType sampleType = DeviceSampleType::float32;
    int bytesPerSample() const;
    int bytesPerFrame() const { return bytesPerSample() * channelCount; }
    friend bool operator==(const DeviceFormat&, const DeviceFormat&) = default;
};

// One stream at a time; not thread-safe (the audio thread owns it).
class SampleConverter {
public:
    // Returns null when libswresample refuses the pair. Channels are mapped by the standard
    // layouts of their counts (mono spread to both sides, 5.1 folded down to stereo, …).
    static std::unique_ptr<SampleConverter> create(const AudioFormat& input, const DeviceFormat& output);
    ~SampleConverter();

    const AudioFormat& inputFormat() const { return input_; }
    const DeviceFormat& outputFormat() const { return output_; }

    // Converts `frameCount` frames (one array per input channel) and appends the device's bytes
    // to `out`. The resampler keeps a few frames back for its filter; they come out with the
    // next call.
    void convert(const float* const* channels, uint32_t frameCount, std::vector<uint8_t>& out);
    // Forgets what the resampler holds (after a stop or a seek).
    void reset();

private:
    SampleConverter(const AudioFormat& input, const DeviceFormat& output, SwrContext* context);
    AudioFormat input_;
    DeviceFormat output_;
    SwrContext* context_ = nullptr;
};

}  // namespace korvanta

// analyzeAudioFile: opens the file (or takes the caller's reader), reads its analysis window in one
// piece and measures it.
//
// The window is W = min(UInt32(sr · 120), L) frames, sr the file's rate in single precision and L
// its length. A file longer than sr · 120 frames is read from (L − W) / 2 (integer halving), i.e.
// its central two minutes; any other file from frame 0. What is measured on the window is
// described with measureLoudness().
//
// Memory: the window buffer (W frames × channels of float) and a few kilobytes per minute of
// audio for the window sums; nothing is kept between calls.

#include "engine/LoudnessMeter.h"

#include <algorithm>
#include <cstdint>

#include "engine/DeliveryMeasurement.h"
#include "engine/LoudnessMeasurement.h"
#include "platform/AudioFileReader.h"
#include "platform/MemoryDecoder.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

Result<AudioStats> analyzeAudioFile(const std::filesystem::path& path) {
    auto opened = AudioFileReader::open(path);
    if (!opened) return opened.error();
    return analyzeAudioFile(*opened.value());
}

MeasurementWindow measurementWindow(const AudioFormat& format, int64_t length) {
    const auto sampleRate = static_cast<float>(format.sampleRate);
    const float maxWindow = sampleRate * 120.0f;
    // The largest float below 2^32, so that the conversion cannot overflow.
    constexpr float kLargestWindow = 4294967040.0f;
    const uint32_t fullWindow =
        maxWindow > 0.0f ? static_cast<uint32_t>(std::min(maxWindow, kLargestWindow)) : 0;
    MeasurementWindow window;
    window.frameCount = static_cast<uint32_t>(std::min<int64_t>(fullWindow, std::max<int64_t>(length, 0)));
    window.firstFrame = double(length) > double(maxWindow) ? (length - window.frameCount) / 2 : 0;
    return window;
}

namespace {

Error emptyFile() { return Error{errc::kApp, errc::kEmptyAudioFile, "Audio file is empty"}; }

}  // namespace

Result<AudioStats> analyzeAudioFile(const DecodedAudio& audio) {
    if (audio.length < 1) return emptyFile();
    const MeasurementWindow window = measurementWindow(audio.format, audio.length);
    std::vector<const float*> channels;
    for (const auto& samples : audio.channels) channels.push_back(samples.data() + window.firstFrame);
    AudioStats stats = measureLoudness(channels.data(), static_cast<int>(channels.size()), window.frameCount,
                                       static_cast<float>(audio.format.sampleRate));
    addDeliveryFigures(stats, channels.data(), static_cast<int>(channels.size()), window.frameCount,
                       audio.format.sampleRate);
    return stats;
}

Result<AudioStats> analyzeAudioFile(AudioFileReader& file) {
    const int64_t length = file.length();
    if (length < 1) return emptyFile();

    const AudioFormat format = file.processingFormat();
    const MeasurementWindow window = measurementWindow(format, length);
    auto buffer = PcmBuffer::allocate(format, window.frameCount);
    if (!buffer) {
        return Error{errc::kApp, errc::kBufferNotCreated, "Nu s-a putut crea buffer-ul audio"};
    }
    file.setFramePosition(window.firstFrame);
    if (auto status = file.read(*buffer); !status) return status.error();

    AudioStats stats = measureLoudness(buffer->floatChannelData(), buffer->channelCount(),
                                       buffer->frameLength(), static_cast<float>(format.sampleRate));
    addDeliveryFigures(stats, buffer->floatChannelData(), buffer->channelCount(), buffer->frameLength(),
                       format.sampleRate);
    return stats;
}

}  // namespace korvanta

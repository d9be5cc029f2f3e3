// analyzeAudioFile: opens the file (or takes the caller's reader), reads its analysis window in one
// piece and measures it.
//
// The window is W = min(UInt32(sr · 120), L) frames, sr the file's rate in single precision and L
// its length. A file longer than sr · 120 frames is read from (L − W) / 2 (integer halving), i.e.
// its central two minutes; any other file from frame 0. What is measured on the window is
// described with measureLoudness().
//
// The delivery figures of the whole song, when asked for, come from the same reading: the frames
// before and after the window are read in blocks and measured with the window's own samples in
// order, so no frame is decoded twice.
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

Result<AudioStats> analyzeAudioFile(const std::filesystem::path& path, MeasurementScope scope) {
    auto opened = AudioFileReader::open(path);
    if (!opened) return opened.error();
    return analyzeAudioFile(*opened.value(), scope);
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

Result<AudioStats> analyzeAudioFile(const DecodedAudio& audio, MeasurementScope scope) {
    if (audio.length < 1) return emptyFile();
    const MeasurementWindow window = measurementWindow(audio.format, audio.length);
    std::vector<const float*> channels;
    for (const auto& samples : audio.channels) channels.push_back(samples.data() + window.firstFrame);
    AudioStats stats = measureLoudness(channels.data(), static_cast<int>(channels.size()), window.frameCount,
                                       static_cast<float>(audio.format.sampleRate));
    if (scope == MeasurementScope::wholeSong) {
        std::vector<const float*> song;
        for (const auto& samples : audio.channels) song.push_back(samples.data());
        addDeliveryFigures(stats, song.data(), static_cast<int>(song.size()), audio.length,
                           audio.format.sampleRate);
    }
    return stats;
}

namespace {

// Reads [from, to) in blocks through `meter`.
Status measureStretch(AudioFileReader& file, PcmBuffer& block, int64_t from, int64_t to, DeliveryMeter& meter) {
    file.setFramePosition(from);
    for (int64_t at = from; at < to;) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(block.frameCapacity(), to - at));
        if (auto status = file.read(block, n); !status) return status;
        if (block.frameLength() == 0) break;  // a file that reads short ends here
        meter.process(block.floatChannelData(), block.frameLength());
        at += block.frameLength();
    }
    return {};
}

}  // namespace

Result<DeliveryFigures> measureDelivery(AudioFileReader& file) {
    auto block = PcmBuffer::allocate(file.processingFormat(), 65536);
    if (!block) return Error{errc::kApp, errc::kBufferNotCreated, "Nu s-a putut crea buffer-ul audio"};
    DeliveryMeter meter;
    meter.prepare(file.processingFormat().channelCount, file.processingFormat().sampleRate);
    if (auto status = measureStretch(file, *block, 0, file.length(), meter); !status) return status.error();
    return meter.figures();
}

Result<AudioStats> analyzeAudioFile(AudioFileReader& file, MeasurementScope scope) {
    const int64_t length = file.length();
    if (length < 1) return emptyFile();

    const AudioFormat format = file.processingFormat();
    const MeasurementWindow window = measurementWindow(format, length);
    auto buffer = PcmBuffer::allocate(format, window.frameCount);
    if (!buffer) {
        return Error{errc::kApp, errc::kBufferNotCreated, "Nu s-a putut crea buffer-ul audio"};
    }
    const bool whole = scope == MeasurementScope::wholeSong;
    std::unique_ptr<PcmBuffer> block;
    DeliveryMeter meter;
    if (whole && length > window.frameCount) {
        block = PcmBuffer::allocate(format, 65536);
        if (!block) return Error{errc::kApp, errc::kBufferNotCreated, "Nu s-a putut crea buffer-ul audio"};
    }
    if (whole) meter.prepare(format.channelCount, format.sampleRate);
    if (block) {
        if (auto status = measureStretch(file, *block, 0, window.firstFrame, meter); !status) return status.error();
    }
    file.setFramePosition(window.firstFrame);
    if (auto status = file.read(*buffer); !status) return status.error();

    AudioStats stats = measureLoudness(buffer->floatChannelData(), buffer->channelCount(),
                                       buffer->frameLength(), static_cast<float>(format.sampleRate));
    if (whole) {
        meter.process(buffer->floatChannelData(), buffer->frameLength());
        if (block) {
            const int64_t after = window.firstFrame + buffer->frameLength();
            if (auto status = measureStretch(file, *block, after, length, meter); !status) return status.error();
        }
        setDeliveryFigures(stats, meter.figures());
    }
    return stats;
}

}  // namespace korvanta

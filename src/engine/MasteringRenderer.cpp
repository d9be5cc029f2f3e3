#include "engine/MasteringRenderer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>
#include <vector>

#include "engine/PeakLimiter.h"
#include "platform/PcmBuffer.h"
#include "platform/WavWriter.h"

namespace korvanta {

namespace {

constexpr const char* kHighQualityModeKey = "highQualityMode";

Error fileSystemError(const std::string& what, const std::filesystem::path& path,
                      const std::error_code& ec) {
    return Error{errc::kAudioFile, errc::kFileSystem,
                 what + " \"" + path.string() + "\": " + ec.message() + "."};
}

// Makes sure the output can be created: its folder exists and nothing is in its place.
Status prepareOutputLocation(const std::filesystem::path& output) {
    std::error_code ec;
    const std::filesystem::path folder = output.parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return fileSystemError("Could not create the folder", folder, ec);
    }
    if (std::filesystem::exists(std::filesystem::symlink_status(output, ec))) {
        std::filesystem::remove(output, ec);
        if (ec) return fileSystemError("Could not remove the old file", output, ec);
    }
    return {};
}

uint32_t framesForSeconds(double sampleRate, double seconds) {
    const double frames = sampleRate * seconds;
    if (!(frames > 0.0)) return 0;
    if (frames >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(frames);
}

}  // namespace

Status renderMasteringPass(const std::filesystem::path& input, const std::filesystem::path& output,
                           float targetLUFS, float limitThreshold, float gain, int bpm,
                           const MasteringProgress& progress, const MasteringCancelled& isCancelled,
                           Preferences& preferences) {
    auto reader = AudioFileReader::open(input);
    if (!reader) return reader.error();
    return renderMasteringPass(*reader.value(), output, targetLUFS, limitThreshold, gain, bpm,
                               progress, isCancelled, preferences);
}

Status renderMasteringPass(AudioFileReader& input, const std::filesystem::path& output,
                           float targetLUFS, float limitThreshold, float gain, int bpm,
                           const MasteringProgress& progress, const MasteringCancelled& isCancelled,
                           Preferences& preferences) {
    const AudioFormat format = input.processingFormat();
    const int64_t length = input.length();
    const double chunkSeconds = physicalMemoryBytes() > 8'000'000'000ull ? 2.0 : 1.0;
    const uint32_t chunkFrames = static_cast<uint32_t>(
        std::min<int64_t>(length, framesForSeconds(format.sampleRate, chunkSeconds)));

    std::unique_ptr<PcmBuffer> buffer = PcmBuffer::allocate(format, chunkFrames);
    if (!buffer) return Error{errc::kApp, errc::kBufferNotCreated, "Could not create audio buffer"};

    const bool highQuality = preferences.boolValue(kHighQualityModeKey).value_or(false);
    if (Status prepared = prepareOutputLocation(output); !prepared) return prepared;
    auto writer = WavWriter::create(output, format,
                                    highQuality ? WavSampleFormat::int24 : WavSampleFormat::int16);
    if (!writer) return writer.error();

    const LimiterTiming timing = limiterTimingForTempo(bpm, format.sampleRate);
    std::vector<std::unique_ptr<PeakLimiter>> limiters;
    for (int c = 0; c < format.channelCount; ++c) {
        limiters.push_back(std::make_unique<PeakLimiter>(gain, targetLUFS, limitThreshold, timing));
    }

    auto report = [&](double value) {
        if (progress) progress(value);
    };
    report(0.0);

    const uint32_t silenceFrames = framesForSeconds(format.sampleRate, 0.1);
    double lastReported = 0.0;
    int64_t position = 0;
    while (position < length) {
        if (isCancelled && isCancelled()) return cancelledError();

        const uint32_t frames =
            static_cast<uint32_t>(std::min<int64_t>(length - position, chunkFrames));
        input.setFramePosition(position);
        const Status read = input.read(*buffer, frames);
        if (!read || buffer->frameLength() == 0) {
            const uint32_t n = std::min(frames, silenceFrames);
            if (n == 0) break;
            buffer->setFrameLength(n);
            for (int c = 0; c < format.channelCount; ++c) {
                std::fill_n(buffer->channel(c), n, 0.0f);
            }
        }

        const uint32_t n = buffer->frameLength();
        for (int c = 0; c < format.channelCount; ++c) limiters[static_cast<size_t>(c)]->process(buffer->channel(c), n);

        if (Status written = writer.value()->write(*buffer); !written) return written;
        position += n;
        const double p = static_cast<double>(position) / static_cast<double>(length);
        if (p - lastReported >= 0.01) {
            report(p);
            lastReported = p;
        }
    }
    if (Status closed = writer.value()->close(); !closed) return closed;
    report(1.0);
    return {};
}

}  // namespace korvanta

#include "platform/MemoryDecoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

namespace korvanta {

namespace {

constexpr double kChunkSeconds = 1.0;

Error tooLarge() {
    return Error{errc::kApp, errc::kBufferNotCreated,
                 "The decoded audio does not fit in the memory allowed for it"};
}

}  // namespace

MemoryDecoder::MemoryDecoder(std::shared_ptr<const DecodedAudio> audio) : audio_(std::move(audio)) {
    assert(audio_ && audio_->channels.size() == static_cast<size_t>(audio_->format.channelCount));
}

AudioFormat MemoryDecoder::format() const { return audio_->format; }

int64_t MemoryDecoder::length() const { return audio_->length; }

Result<uint32_t> MemoryDecoder::read(int64_t start, float* const* channels, uint32_t frameCount) {
    if (start < 0 || start >= audio_->length) return 0u;
    const auto frames =
        static_cast<uint32_t>(std::min<int64_t>(frameCount, audio_->length - start));
    for (size_t c = 0; c < audio_->channels.size(); ++c) {
        std::memcpy(channels[c], audio_->channels[c].data() + start, frames * sizeof(float));
    }
    return frames;
}

const float* MemoryDecoder::samplesInMemory(int channel, int64_t start) const {
    if (channel < 0 || static_cast<size_t>(channel) >= audio_->channels.size()) return nullptr;
    if (start < 0 || start >= audio_->length) return nullptr;
    return audio_->channels[static_cast<size_t>(channel)].data() + start;
}

std::unique_ptr<AudioFileReader> readerOverMemory(std::shared_ptr<const DecodedAudio> audio,
                                                  std::filesystem::path path) {
    return std::make_unique<AudioFileReader>(std::make_unique<MemoryDecoder>(std::move(audio)),
                                             std::move(path));
}

uint64_t decodedBytes(const AudioFormat& format, int64_t frames) {
    if (frames <= 0 || format.channelCount <= 0) return 0;
    const uint64_t perFrame = uint64_t(format.channelCount) * sizeof(float);
    if (uint64_t(frames) > UINT64_MAX / perFrame) return UINT64_MAX;
    return uint64_t(frames) * perFrame;
}

Result<std::shared_ptr<const DecodedAudio>> decodeIntoMemory(AudioFileReader& reader,
                                                             uint64_t maxBytes,
                                                             const DecodeCancelled& isCancelled,
                                                             const DecodedChunk& onChunk) {
    const AudioFormat format = reader.processingFormat();
    const int channelCount = format.channelCount;
    const int64_t expected = std::max<int64_t>(reader.length() - reader.framePosition(), 0);
    const uint64_t frameBytes = decodedBytes(format, 1);
    const int64_t maxFrames =
        frameBytes == 0 ? 0 : static_cast<int64_t>(std::min<uint64_t>(maxBytes / frameBytes, INT64_MAX));
    if (expected > maxFrames) return tooLarge();

    const auto chunk = static_cast<uint32_t>(
        std::max(1.0, std::min(format.sampleRate * kChunkSeconds, 4194304.0)));
    auto audio = std::make_shared<DecodedAudio>();
    audio->format = format;
    try {
        // The reader's length is exact for every format (and what is read never exceeds it), so
        // the arrays are allocated once at their final size and decoded into directly.
        audio->channels.resize(static_cast<size_t>(channelCount));
        for (auto& samples : audio->channels) samples.resize(static_cast<size_t>(expected));
    } catch (const std::bad_alloc&) {
        return tooLarge();
    }

    std::vector<float*> at(static_cast<size_t>(channelCount));
    int64_t frames = 0;
    while (frames < expected && reader.framePosition() < reader.length()) {
        if (isCancelled && isCancelled()) return cancelledError();
        for (size_t c = 0; c < at.size(); ++c) at[c] = audio->channels[c].data() + frames;
        const auto wanted = static_cast<uint32_t>(std::min<int64_t>(chunk, expected - frames));
        auto got = reader.read(at.data(), wanted);
        if (!got) return got.error();
        if (got.value() == 0) break;
        frames += got.value();
        if (onChunk) onChunk(audio, frames);
    }
    for (auto& samples : audio->channels) samples.resize(static_cast<size_t>(frames));
    audio->length = frames;
    return std::shared_ptr<const DecodedAudio>(std::move(audio));
}

Result<std::shared_ptr<const DecodedAudio>> decodeIntoMemory(const std::filesystem::path& path,
                                                             uint64_t maxBytes,
                                                             const DecodeCancelled& isCancelled) {
    auto opened = AudioFileReader::open(path);
    if (!opened) return opened.error();
    return decodeIntoMemory(*opened.value(), maxBytes, isCancelled);
}

}  // namespace korvanta

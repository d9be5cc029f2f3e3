#include "platform/MemoryDecoder.h"

#include <sys/mman.h>

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

namespace korvanta {

namespace {

constexpr double kChunkSeconds = 1.0;

Error tooLarge() {
    return Error{errc::kApp, errc::kBufferNotCreated,
                 "The decoded audio does not fit in the memory allowed for it"};
}

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kLargeArray = size_t{4} << 20;

size_t roundedToHugePages(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocateLargeArray(size_t bytes) {
    if (bytes < kLargeArray || bytes > SIZE_MAX - kHugePage) return ::operator new(bytes);
    const size_t rounded = roundedToHugePages(bytes);
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
    (void)::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without it the pages are ordinary
    return p;
}

void freeLargeArray(void* p, size_t bytes) noexcept {
    if (bytes < kLargeArray || bytes > SIZE_MAX - kHugePage) ::operator delete(p);
    else std::free(p);
}

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
                                                             const DecodeCancelled& isCancelled) {
    const AudioFormat format = reader.processingFormat();
    const int channelCount = format.channelCount;
    const int64_t expected = std::max<int64_t>(reader.length() - reader.framePosition(), 0);
    const uint64_t frameBytes = decodedBytes(format, 1);
    const int64_t maxFrames =
        frameBytes == 0 ? 0 : static_cast<int64_t>(std::min<uint64_t>(maxBytes / frameBytes, INT64_MAX));
    if (expected > maxFrames) return tooLarge();

    const double chunk = std::max(1.0, std::min(format.sampleRate * kChunkSeconds, 4194304.0));
    auto buffer = PcmBuffer::allocate(format, static_cast<uint32_t>(chunk));
    if (!buffer) return Error{errc::kApp, errc::kBufferNotCreated, "Could not create audio buffer"};

    auto audio = std::make_shared<DecodedAudio>();
    audio->format = format;
    try {
        audio->channels.resize(static_cast<size_t>(channelCount));
        // The reader's length is exact for every format (and what is read never exceeds it), so
        // the arrays are allocated once at their final size.
        for (auto& samples : audio->channels) samples.reserve(static_cast<size_t>(expected));
    } catch (const std::bad_alloc&) {
        return tooLarge();
    }

    int64_t frames = 0;
    while (reader.framePosition() < reader.length()) {
        if (isCancelled && isCancelled()) return cancelledError();
        if (Status read = reader.read(*buffer); !read) return read.error();
        const uint32_t got = buffer->frameLength();
        if (got == 0) break;
        if (frames + got > maxFrames) return tooLarge();
        try {
            for (int c = 0; c < channelCount; ++c) {
                const float* from = buffer->channel(c);
                audio->channels[static_cast<size_t>(c)].insert(
                    audio->channels[static_cast<size_t>(c)].end(), from, from + got);
            }
        } catch (const std::bad_alloc&) {
            return tooLarge();
        }
        frames += got;
    }
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

// What the mastering pipeline does with an opened song, done to a decoder the fuzz input opened:
// decode it into memory (or, when it is too large for that, read it through from frame 0 as the
// float copy on disk does), then read again after moving forward and back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/AudioDecoder.h"
#include "platform/AudioFileReader.h"
#include "platform/MemoryDecoder.h"
#include "platform/PcmBuffer.h"

namespace korvanta::fuzz {

// The memory the pipeline allows a decoded song.
inline constexpr uint64_t kMaxInMemoryBytes = 256ull << 20;

// Reads through `decoder` (opened on `path`). With `exactLength`, reading from frame 0 must give
// exactly the decoder's length, as the interface promises for decoders that never read short
// (FFmpeg's); a shortfall ends the process, so libFuzzer reports it as a crash.
inline void readLikeThePipeline(std::unique_ptr<AudioDecoder> decoder, const std::filesystem::path& path,
                                bool exactLength) {
    AudioFileReader reader(std::move(decoder), path);
    const AudioFormat format = reader.processingFormat();
    if (!(format.sampleRate > 0.0) || format.channelCount <= 0) __builtin_trap();

    auto decoded = decodeIntoMemory(reader, kMaxInMemoryBytes, nullptr);
    if (decoded) {
        if (exactLength && decoded.value()->length != reader.length()) __builtin_trap();
    } else if (decoded.error().is(errc::kApp, errc::kBufferNotCreated)) {
        // Too large for memory: read it through in chunks.
        auto buffer = PcmBuffer::allocate(format, 65536);
        if (!buffer) return;
        reader.setFramePosition(0);
        while (reader.framePosition() < reader.length()) {
            if (!reader.read(*buffer) || buffer->frameLength() == 0) break;
        }
    }

    // Forward to a third of the way (a seek, or decoding forward), then back to the start (a
    // seek, or reopening the file).
    auto buffer = PcmBuffer::allocate(format, 4096);
    if (!buffer) return;
    reader.setFramePosition(reader.length() / 3);
    (void)reader.read(*buffer);
    reader.setFramePosition(0);
    (void)reader.read(*buffer);
}

}  // namespace korvanta::fuzz

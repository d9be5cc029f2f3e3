// The interface every decoding backend implements, and the registry that picks one for a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <variant>

#include "platform/Error.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

// One open, decodable stream. Not thread-safe: one owner at a time.
class AudioDecoder {
public:
    virtual ~AudioDecoder() = default;

    // The stream's own rate and channel count; no resampling or remixing happens.
    virtual AudioFormat format() const = 0;

    // The true number of audio frames: encoder delay and padding removed. Reading sequentially
    // from frame 0 yields exactly this many frames.
    virtual int64_t length() const = 0;

    // Decodes up to `frameCount` frames starting at frame `start` into `channels` (one array per
    // channel, each with room for `frameCount` floats). Returns the number of frames decoded,
    // which is smaller than requested only at the end of the stream. The frames returned for a
    // given `start` are exactly those a sequential read from frame 0 yields at that position.
    virtual Result<uint32_t> read(int64_t start, float* const* channels, uint32_t frameCount) = 0;

    // Where the samples of `channel` from frame `start` on lie, for a decoder that holds the whole
    // stream in memory (they stay valid and unchanged while the decoder lives); nullptr for the
    // others, and for a channel or frame outside the stream.
    virtual const float* samplesInMemory(int channel, int64_t start) const {
        (void)channel;
        (void)start;
        return nullptr;
    }
};

// What a backend answers when asked to open a file.
struct NotMine {};  // "this backend does not take this file; try the next"
using DecoderOpening = std::variant<std::unique_ptr<AudioDecoder>, NotMine, Error>;

DecoderOpening openWithSndfile(const std::filesystem::path& path);
DecoderOpening openWithFfmpeg(const std::filesystem::path& path);

// Tries the backends in order (libsndfile, then FFmpeg) and returns the first decoder that opens.
// Errors: AudioFile kNoSuchFile, kIsDirectory, kNotReadable for what the file system refuses, and
// kNotAudio when no backend takes the file.
Result<std::unique_ptr<AudioDecoder>> openDecoder(const std::filesystem::path& path);

}  // namespace korvanta

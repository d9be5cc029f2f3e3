// A file opened for reading: length, processing format, a settable read position, and reads into
// PCM buffers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/AudioDecoder.h"
#include "platform/Error.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

class AudioFileReader {
public:
    // Opens any accepted format: wav, aiff, aif, flac, ogg and mp3 with a frame-count header through
    // libsndfile; m4a, aac, header-less mp3 and whatever else FFmpeg decodes through FFmpeg.
    // Errors as openDecoder().
    static Result<std::unique_ptr<AudioFileReader>> open(const std::filesystem::path& path);

    explicit AudioFileReader(std::unique_ptr<AudioDecoder> decoder, std::filesystem::path path = {});

    const std::filesystem::path& path() const { return path_; }
    int64_t length() const { return length_; }
    const AudioFormat& processingFormat() const { return format_; }

    int64_t framePosition() const { return position_; }
    // Positions beyond the end are allowed; reads there yield 0 frames.
    void setFramePosition(int64_t frame) { position_ = frame < 0 ? 0 : frame; }

    // Decodes min(frameCount, capacity, frames left) frames from the read position into the
    // buffer, sets its frame length to the number read and advances the position by it. The
    // buffer must have the file's channel count. Errors: AudioFile kReadFailed.
    Status read(PcmBuffer& buffer, std::optional<uint32_t> frameCount = std::nullopt);

    // The same into the caller's arrays (one per channel of the file, each with room for
    // `frameCount` floats): decodes min(frameCount, frames left) frames and returns how many.
    Result<uint32_t> read(float* const* channels, uint32_t frameCount);

    // For a song held in memory: where the samples of `channel` from the read position on lie
    // (length() − framePosition() of them, valid while the reader lives); nullptr otherwise or at
    // the end. The position does not move.
    const float* samplesInMemory(int channel) const { return decoder_->samplesInMemory(channel, position_); }

private:
    std::unique_ptr<AudioDecoder> decoder_;
    std::filesystem::path path_;
    AudioFormat format_;
    int64_t length_ = 0;
    int64_t position_ = 0;
};

}  // namespace korvanta

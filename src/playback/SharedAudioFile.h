// An open audio file that several threads read from: the player's chunk worker and the output's
// audio thread. Every read holds the file's lock, so a read never sees another's position.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/AudioFileReader.h"

namespace korvanta {

class SharedAudioFile {
public:
    // Errors as AudioFileReader::open.
    static Result<std::shared_ptr<SharedAudioFile>> open(const std::filesystem::path& path);
    explicit SharedAudioFile(std::unique_ptr<AudioFileReader> reader);

    // Immutable after opening; any thread.
    int64_t length() const { return length_; }
    const AudioFormat& processingFormat() const { return format_; }
    const std::filesystem::path& path() const { return path_; }

    // Any thread. Reads min(frameCount, capacity, frames left from `startFrame`) frames into
    // `buffer` (the file's channel count). Errors as AudioFileReader::read.
    Status read(int64_t startFrame, PcmBuffer& buffer, uint32_t frameCount);

private:
    std::mutex mutex_;  // guards reader_ (its read position and decoder state)
    std::unique_ptr<AudioFileReader> reader_;
    const std::filesystem::path path_;
    const AudioFormat format_;
    const int64_t length_;
};

}  // namespace korvanta

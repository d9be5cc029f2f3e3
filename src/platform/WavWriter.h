// Writes RIFF/WAVE files from float buffers: 16- or 24-bit integer PCM, or 32-bit float.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/Error.h"
#include "platform/PcmBuffer.h"
#include "platform/SampleQuantizer.h"

namespace korvanta {

enum class WavSampleFormat { int16, int24, float32 };

class WavWriter {
public:
    // Creates a new file. An existing file at `path` is replaced only if the caller removed it
    // first: creation fails with AudioFile kWriteFailed when something is already there.
    static Result<std::unique_ptr<WavWriter>> create(const std::filesystem::path& path,
                                                     const AudioFormat& format,
                                                     WavSampleFormat sampleFormat);
    ~WavWriter();

    // Appends the buffer's frameLength frames. The buffer must have the file's channel count.
    Status write(const PcmBuffer& buffer);
    // Appends `frames` frames from planar arrays.
    Status write(const float* const* channels, int channelCount, uint32_t frames);

    // Finishes the header. Called by the destructor when not called before.
    Status close();

    int64_t framesWritten() const { return framesWritten_; }

private:
    WavWriter() = default;

    void* file_ = nullptr;  // SNDFILE*
    int fd_ = -1;
    std::filesystem::path path_;
    AudioFormat format_;
    WavSampleFormat sampleFormat_ = WavSampleFormat::int16;
    int64_t framesWritten_ = 0;
    std::vector<float> floatScratch_;
    std::vector<int32_t> intScratch_;
    std::vector<int16_t> shortScratch_;
};

}  // namespace korvanta

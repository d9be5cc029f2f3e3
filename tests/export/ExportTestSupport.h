// Independent checks of exported files: ffprobe/ffmpeg readings and a JPEG marker walk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Preferences.h"
#include "support/TestAudio.h"

namespace korvanta::test {

struct ProbedStream {
    std::string codecType;  // "audio", "video"
    std::string codecName;  // "aac", "mjpeg", ...
    int sampleRate = 0, channels = 0, width = 0, height = 0;
    double durationSeconds = -1.0;
    int64_t durationTs = -1;  // in the stream's time base (1/sample rate for AAC in MPEG-4)
    bool attachedPicture = false;
};

struct ProbedFile {
    std::string majorBrand;  // e.g. "M4A "
    std::vector<ProbedStream> streams;

    const ProbedStream* firstOfType(const std::string& type) const;
};

// Fails the test (and returns an empty record) when ffprobe cannot read `path`.
ProbedFile probeFile(const std::filesystem::path& path);

Bytes readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const Bytes& bytes);

// One frame of a lavfi source, e.g. "color=c=red:s=64x48", in the format `fileName`'s extension picks.
Bytes makeImage(const ScratchFolder& folder, const std::string& lavfiSource,
                const std::string& fileName, const std::string& outputOptions = "");

// Packed RGB24 pixels, decoded by the ffmpeg tool.
std::vector<uint8_t> decodeToRgb(const ScratchFolder& folder, const Bytes& image);

// The stored cover of an M4A file as ffmpeg copies it out (empty when none).
Bytes extractCover(const ScratchFolder& folder, const std::filesystem::path& m4a);

// Decoded by the ffmpeg tool to 32-bit float WAV and read back.
Signal decodeWithFfmpeg(const ScratchFolder& folder, const std::filesystem::path& path);

struct JpegLayout {
    bool startsWithSoi = false;
    bool baseline = false;     // SOF0
    bool progressive = false;  // SOF2
    int width = 0, height = 0;
    int firstLuminanceQuantizer = -1;  // DC entry of quantisation table 0
};
JpegLayout parseJpeg(const Bytes& jpeg);

}  // namespace korvanta::test

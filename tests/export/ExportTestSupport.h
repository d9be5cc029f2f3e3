// Independent checks of exported files for the export tests: ffprobe/ffmpeg readings and a JPEG
// marker walk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Preferences.h"
#include "support/TestAudio.h"

namespace korvanta::test {

// One stream as ffprobe reports it.
struct ProbedStream {
    std::string codecType;  // "audio", "video"
    std::string codecName;  // "aac", "mjpeg", ...
    int sampleRate = 0;
    int channels = 0;
    int width = 0;
    int height = 0;
    double durationSeconds = -1.0;
    int64_t durationTs = -1;  // in the stream's time base (1/sample rate for AAC in MPEG-4)
    bool attachedPicture = false;
};

struct ProbedFile {
    std::string formatName;  // e.g. "mov,mp4,m4a,3gp,3g2,mj2"
    std::string majorBrand;  // from the container's tags, e.g. "M4A "
    std::vector<ProbedStream> streams;

    const ProbedStream* firstOfType(const std::string& type) const;
};

// Runs ffprobe on `path`; fails the test (and returns an empty record) when it cannot.
ProbedFile probeFile(const std::filesystem::path& path);

Bytes readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const Bytes& bytes);

// An image made by ffmpeg from a lavfi video source, e.g. "color=c=red:s=64x48", written in the
// format `fileName`'s extension picks, and returned as bytes.
Bytes makeImage(const ScratchFolder& folder, const std::string& lavfiSource,
                const std::string& fileName, const std::string& outputOptions = "");

// Decodes an image with the ffmpeg tool into packed RGB24 pixels.
std::vector<uint8_t> decodeToRgb(const ScratchFolder& folder, const Bytes& image);

// The stored cover of an M4A file, as the bytes ffmpeg copies out of it (empty when none).
Bytes extractCover(const ScratchFolder& folder, const std::filesystem::path& m4a);

// Decodes a file with the ffmpeg tool to 32-bit float WAV and reads it back.
Signal decodeWithFfmpeg(const ScratchFolder& folder, const std::filesystem::path& path);

// What the markers of a JPEG file say about how it was coded.
struct JpegLayout {
    bool startsWithSoi = false;
    bool baseline = false;     // an SOF0 frame header
    bool progressive = false;  // an SOF2 frame header
    int width = 0;
    int height = 0;
    int firstLuminanceQuantizer = -1;  // DC entry of quantisation table 0
};
JpegLayout parseJpeg(const Bytes& jpeg);

}  // namespace korvanta::test

#include "ExportTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace korvanta::test {

namespace fs = std::filesystem;

namespace {
// The ffmpeg tool's output for `arguments`; the exit status in `status`.
std::string ffmpeg(const std::string& arguments, int& status) {
    return runCommand("ffmpeg -nostdin -v error " + arguments, &status);
}
}  // namespace

const ProbedStream* ProbedFile::firstOfType(const std::string& type) const {
    for (const auto& stream : streams) {
        if (stream.codecType == type) return &stream;
    }
    return nullptr;
}

ProbedFile probeFile(const fs::path& path) {
    int status = 0;
    const std::string text = runCommand("ffprobe -v error -print_format json -show_format -show_streams " +
                                            shellQuote(path.string()) + " 2>&1",
                                        &status);
    ProbedFile probed;
    EXPECT_EQ(status, 0) << "ffprobe failed on " << path << ": " << text;
    const auto json = nlohmann::json::parse(text, nullptr, false);
    EXPECT_FALSE(status == 0 && json.is_discarded()) << text;
    if (status != 0 || json.is_discarded()) return probed;

    const auto object = nlohmann::json::object();
    probed.majorBrand = json.value("format", object).value("tags", object).value("major_brand", "");
    for (const auto& item : json.value("streams", nlohmann::json::array())) {
        ProbedStream& stream = probed.streams.emplace_back();
        stream.codecType = item.value("codec_type", "");
        stream.codecName = item.value("codec_name", "");
        stream.sampleRate = std::stoi(item.value("sample_rate", "0"));
        stream.channels = item.value("channels", 0);
        stream.width = item.value("width", 0);
        stream.height = item.value("height", 0);
        if (item.contains("duration")) stream.durationSeconds = std::stod(item.value("duration", "-1"));
        stream.durationTs = item.value("duration_ts", int64_t{-1});
        stream.attachedPicture = item.value("disposition", object).value("attached_pic", 0) == 1;
    }
    return probed;
}

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes makeImage(const ScratchFolder& folder, const std::string& lavfiSource,
                const std::string& fileName, const std::string& outputOptions) {
    const fs::path target = folder / fileName;
    int status = 0;
    const std::string log = ffmpeg("-y -f lavfi -i " + shellQuote(lavfiSource) + " -frames:v 1 " +
                                       outputOptions + " " + shellQuote(target.string()) + " 2>&1",
                                   status);
    EXPECT_EQ(status, 0) << "ffmpeg could not make " << fileName << ": " << log;
    return readBytes(target);
}

std::vector<uint8_t> decodeToRgb(const ScratchFolder& folder, const Bytes& image) {
    const fs::path source = folder / "decode-me.img";
    writeBytes(source, image);
    int status = 0;
    const std::string pixels = ffmpeg("-i " + shellQuote(source.string()) + " -f rawvideo -pix_fmt rgb24 -", status);
    EXPECT_EQ(status, 0) << "ffmpeg could not decode the image";
    return std::vector<uint8_t>(pixels.begin(), pixels.end());
}

Bytes extractCover(const ScratchFolder& folder, const fs::path& m4a) {
    const fs::path target = folder / "extracted-cover.jpg";
    fs::remove(target);
    int status = 0;
    ffmpeg("-y -i " + shellQuote(m4a.string()) + " -map 0:v:0 -c copy -f image2 " + shellQuote(target.string()) +
               " 2>&1",
           status);
    return status == 0 ? readBytes(target) : Bytes{};
}

Signal decodeWithFfmpeg(const ScratchFolder& folder, const fs::path& path) {
    const fs::path target = folder / (path.stem().string() + "-decoded.wav");
    convertWithFfmpeg(path, target, "-map 0:a:0 -c:a pcm_f32le");
    return readAll(target);
}

JpegLayout parseJpeg(const Bytes& jpeg) {
    JpegLayout layout;
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return layout;
    layout.startsWithSoi = true;
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF;) {
        const uint8_t marker = jpeg[at + 1];
        const size_t length = (static_cast<size_t>(jpeg[at + 2]) << 8) | jpeg[at + 3];
        const size_t payload = at + 4;
        if (length < 2 || payload + length - 2 > jpeg.size() || marker == 0xDA) break;  // SOS: coded data follows
        if (marker == 0xC0 || marker == 0xC2) {
            (marker == 0xC0 ? layout.baseline : layout.progressive) = true;
            layout.height = (jpeg[payload + 1] << 8) | jpeg[payload + 2];
            layout.width = (jpeg[payload + 3] << 8) | jpeg[payload + 4];
        } else if (marker == 0xDB) {
            // Tables: one byte of precision and id, then 64 entries (8-bit for precision 0).
            for (size_t t = payload; t < payload + length - 2;) {
                const int precision = jpeg[t] >> 4;
                if ((jpeg[t] & 0x0F) == 0 && layout.firstLuminanceQuantizer < 0) {
                    layout.firstLuminanceQuantizer = precision == 0 ? jpeg[t + 1] : ((jpeg[t + 1] << 8) | jpeg[t + 2]);
                }
                t += 1 + 64 * (precision == 0 ? 1 : 2);
            }
        }
        at = payload + length - 2;
    }
    return layout;
}

}  // namespace korvanta::test

// WAV writing: integer quantisation (nearest, clipped, NaN to 0) and its block forms, float files
// that keep values beyond full scale, headers other tools read, and never writing over anything.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "ReaderTestSupport.h"
#include "platform/SampleQuantizer.h"

namespace korvanta::test {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

TEST(WavWriter, QuantisesToNearestAndClips) {
    struct Case {
        float x;
        int bits;
        int32_t expected;
        const char* why;
    };
    const Case cases[] = {
        {1.5f, 16, 32767, "beyond full scale clips, never wraps to negative"},
        {1.0f, 16, 32767, "+1.0 is one step short of 2^15"},
        {-1.0f, 16, -32768, "-1.0 is exactly -2^15"},
        {-1.5f, 16, -32768, "below full scale clips"},
        {0.5f, 16, 16384, "x · 2^15"},
        {0.6f / 32768, 16, 1, "rounds to nearest, up"},
        {0.4f / 32768, 16, 0, "rounds to nearest, down"},
        {-0.6f / 32768, 16, -1, "rounds to nearest, negative"},
        {kNaN, 16, 0, "NaN becomes silence"},
        {kInf, 16, 32767, "+inf clips"},
        {-kInf, 16, -32768, "-inf clips"},
        {1.0f, 24, 8388607, "+1.0 at 24 bits"},
        {-1.0f, 24, -8388608, "-1.0 at 24 bits"},
        {2.0f, 24, 8388607, "clips at 24 bits"},
        {0.25f, 24, 2097152, "x · 2^23"},
        {0.6f / 8388608, 24, 1, "rounds to nearest at 24 bits"},
        {kNaN, 24, 0, "NaN at 24 bits"},
    };
    for (const auto& q : cases) {
        EXPECT_EQ(quantizeSample(q.x, q.bits), q.expected) << q.why << " (x = " << q.x << ")";
    }
}

// Random values over and beyond full scale, with NaN, infinities, exact ties and range edges.
std::vector<float> awkwardSamples(size_t count, unsigned seed) {
    const float special[] = {kNaN, kInf, -kInf, 1.0f, -1.0f, 32767.5f / 32768, -32768.5f / 32768,
                             0.5f / 32768, 1.5f / 32768, -2.5f / 32768, 0.5f / 8388608,
                             8388606.5f / 8388608, std::numeric_limits<float>::denorm_min(), -0.0f,
                             3e38f};
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> level(-1.2f, 1.2f);
    std::vector<float> samples(count);
    for (size_t i = 0; i < count; ++i) {
        samples[i] = i % 7 == 3 ? special[(i / 7) % std::size(special)] : level(random);
    }
    return samples;
}

TEST(SampleQuantizer, BlockFormsGiveTheOneSampleIntegers) {
    for (int channels : {1, 2, 3}) {
        for (size_t frames : {size_t{0}, size_t{5}, size_t{8}, size_t{1003}}) {
            const size_t first = 3;  // reading from an offset, unaligned
            std::vector<std::vector<float>> planes;
            std::vector<const float*> pointers;
            for (int c = 0; c < channels; ++c) {
                planes.push_back(awkwardSamples(first + frames, 17u * unsigned(c) + unsigned(frames)));
            }
            for (const auto& plane : planes) pointers.push_back(plane.data());

            std::vector<int16_t> out16(frames * size_t(channels) + 1, 0x5555);
            std::vector<int32_t> out24(frames * size_t(channels) + 1, 0x5555);
            quantizeInterleaved16(pointers.data(), channels, first, frames, out16.data());
            quantizeInterleaved24(pointers.data(), channels, first, frames, out24.data());
            for (size_t i = 0; i < frames; ++i) {
                for (int c = 0; c < channels; ++c) {
                    const float x = planes[size_t(c)][first + i];
                    const size_t at = i * size_t(channels) + size_t(c);
                    ASSERT_EQ(out16[at], quantizeSample(x, 16)) << "x = " << x;
                    ASSERT_EQ(out24[at], int32_t(uint32_t(quantizeSample(x, 24)) << 8)) << "x = " << x;
                }
            }
            EXPECT_EQ(out16.back(), 0x5555) << "wrote past the end";
            EXPECT_EQ(out24.back(), 0x5555) << "wrote past the end";
        }
    }
}

// In place, and past the caches into an array at every alignment (its first few samples are
// written one by one), with nothing written beyond the end.
TEST(SampleQuantizer, SnapsToTheFileGrid) {
    for (int bits : {16, 24}) {
        const std::vector<float> original = awkwardSamples(1001, unsigned(bits));
        std::vector<float> inPlace = original;
        snapToSampleGrid(inPlace.data(), inPlace.data(), inPlace.size(), bits);
        for (size_t offset = 0; offset < 4; ++offset) {
            std::vector<float> streamed(original.size() + 5, 7.0f);
            snapToSampleGridStreaming(original.data(), streamed.data() + offset, original.size(), bits);
            for (size_t i = 0; i < original.size(); ++i) {
                const float expected =
                    float(quantizeSample(original[i], bits)) / float(int32_t{1} << (bits - 1));
                ASSERT_EQ(std::memcmp(&inPlace[i], &expected, sizeof(float)), 0)
                    << "x = " << original[i] << " at " << bits << " bits";
                ASSERT_EQ(std::memcmp(&streamed[offset + i], &expected, sizeof(float)), 0)
                    << "streamed, x = " << original[i] << " at " << bits << " bits, offset " << offset;
            }
            EXPECT_EQ(streamed[offset + original.size()], 7.0f) << "wrote past the end";
        }
    }
}

struct FileCase {
    const char* name;
    WavSampleFormat format;
    const char* codec;  // what ffprobe must see
    int bits;           // 0: float
};

class WavFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(WavFiles, WriteWhatIsReadBack) {
    ScratchFolder folder;
    // Three channels of their own, more frames than one internal block, special values first.
    Signal signal = makeNoise(48000, 3, 0.25, 0.8f, 3);
    const float special[] = {1.5f, -1.0f, kNaN, -2.25f, 1.0f, 0.5f};
    for (size_t i = 0; i < std::size(special); ++i) signal.channels[1][i] = special[i];
    const auto path = folder / "out.wav";

    auto writer = WavWriter::create(path, {48000, 3}, GetParam().format);
    ASSERT_TRUE(writer.ok()) << writer.error().description();
    auto buffer = PcmBuffer::allocate({48000, 3}, 5000);
    for (size_t at = 0; at < signal.frameCount(); at += 5000) {  // pieces must join seamlessly
        const auto n = static_cast<uint32_t>(std::min<size_t>(5000, signal.frameCount() - at));
        for (int c = 0; c < 3; ++c) std::copy_n(signal.channels[c].begin() + at, n, buffer->channel(c));
        buffer->setFrameLength(n);
        ASSERT_TRUE(writer.value()->write(*buffer).ok());
    }
    EXPECT_EQ(writer.value()->framesWritten(), static_cast<int64_t>(signal.frameCount()));
    ASSERT_TRUE(writer.value()->close().ok());

    EXPECT_EQ(ffprobeStreamField(path, "codec_name"), GetParam().codec) << "a RIFF/WAVE file of this format";
    EXPECT_EQ(ffprobeStreamField(path, "sample_rate"), "48000");
    EXPECT_EQ(ffprobeStreamField(path, "channels"), "3");

    const Signal back = readAll(path);
    ASSERT_EQ(back.frameCount(), signal.frameCount());
    const int bits = GetParam().bits;
    for (int c = 0; c < 3; ++c) {
        for (size_t i = 0; i < signal.frameCount(); ++i) {
            const float x = signal.channels[c][i];
            const float expected =
                bits > 0 ? static_cast<float>(quantizeSample(x, bits) / std::ldexp(1.0, bits - 1)) : x;
            if (std::isnan(expected)) {
                ASSERT_TRUE(std::isnan(back.channels[c][i])) << "float files keep NaN as it is";
            } else {
                ASSERT_EQ(back.channels[c][i], expected)
                    << "channel " << c << " frame " << i << ": integer files hold the quantised "
                    << "value, float files keep the value, beyond ±1.0 too";
            }
        }
    }
}

TEST_P(WavFiles, ZeroFramesMakeAValidFile) {
    ScratchFolder folder;
    auto writer = WavWriter::create(folder / "empty.wav", {44100, 2}, GetParam().format);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(writer.value()->close().ok());
    EXPECT_EQ(ffprobeStreamField(folder / "empty.wav", "codec_name"), GetParam().codec)
        << "another tool reads the empty file as a WAV of this format";
    auto reader = AudioFileReader::open(folder / "empty.wav");
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.value()->length(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryDepth, WavFiles,
                         ::testing::Values(FileCase{"int16", WavSampleFormat::int16, "pcm_s16le", 16},
                                           FileCase{"int24", WavSampleFormat::int24, "pcm_s24le", 24},
                                           FileCase{"float32", WavSampleFormat::float32, "pcm_f32le", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WavWriter, RefusesToReplaceAFileAndBadPlacesFormatsAndWrites) {
    ScratchFolder folder;
    const auto create = [&](const char* name, AudioFormat format = {44100, 2}) {
        return WavWriter::create(folder / name, format, WavSampleFormat::int16);
    };
    writeFile(folder / "keep.wav", "the user's own file");
    auto existing = create("keep.wav");
    ASSERT_FALSE(existing.ok()) << "callers remove an old file first; create never replaces one";
    EXPECT_TRUE(existing.error().is(errc::kAudioFile, errc::kWriteFailed));
    EXPECT_EQ(readFile(folder / "keep.wav"), "the user's own file");
    std::filesystem::create_directory(folder / "folder.wav");
    EXPECT_FALSE(create("folder.wav").ok());
    auto missing = create("no/such/x.wav");
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().is(errc::kAudioFile, errc::kWriteFailed));
    EXPECT_FALSE(create("a.wav", {44100, 0}).ok()) << "no channels";
    EXPECT_FALSE(create("b.wav", {0, 2}).ok()) << "no rate";

    auto writer = create("c.wav");
    ASSERT_TRUE(writer.ok());
    auto mono = PcmBuffer::allocate({44100, 1}, 16);
    mono->setFrameLength(16);
    EXPECT_FALSE(writer.value()->write(*mono).ok()) << "the buffer must have the file's channel count";
    ASSERT_TRUE(writer.value()->close().ok());
    auto stereo = PcmBuffer::allocate({44100, 2}, 16);
    stereo->setFrameLength(16);
    EXPECT_FALSE(writer.value()->write(*stereo).ok()) << "nothing is written after close";
}

// Tried by a user other than root (root may write anywhere), in a place that user can reach.
TEST(WavWriter, RefusesAReadOnlyFolder) {
    std::string why;
    const auto reachable = scratchFolderOthersCanReach(&why);
    if (!reachable) GTEST_SKIP() << why;
    std::filesystem::create_directory(*reachable / "open");
    std::filesystem::create_directory(*reachable / "readonly");
    ::chmod((*reachable / "open").c_str(), 0777);
    ::chmod((*reachable / "readonly").c_str(), 0555);
    const auto createIn = [](const std::filesystem::path& target) {
        return runUnprivileged([&] {
            auto writer = WavWriter::create(target, {44100, 2}, WavSampleFormat::int24);
            if (writer.ok()) return writer.value()->close().ok() ? 0 : 3;
            return writer.error().is(errc::kAudioFile, errc::kWriteFailed) ? 1 : 2;
        });
    };
    EXPECT_EQ(createIn(*reachable / "open" / "x.wav"), 0)
        << "the unprivileged child can write where it may, so the next refusal is the folder's";
    const auto target = *reachable / "readonly" / "x.wav";
    EXPECT_EQ(createIn(target), 1) << "a folder without write permission gives a write error (0: created)";
    EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace korvanta::test

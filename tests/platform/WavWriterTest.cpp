// WAV writing: integer quantisation (nearest, clipped, NaN to 0), float files that keep values
// beyond full scale, headers other tools read, and never writing over anything.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ReaderTestSupport.h"

namespace korvanta::test {
namespace {

struct QuantisationCase {
    float x;
    int bits;
    int32_t expected;
    const char* why;
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

const QuantisationCase kQuantisation[] = {
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

TEST(WavWriter, QuantisesToNearestAndClips) {
    for (const auto& q : kQuantisation) {
        EXPECT_EQ(quantizeSample(q.x, q.bits), q.expected) << q.why << " (x = " << q.x << ")";
    }
}

struct FileCase {
    const char* name;
    WavSampleFormat format;
    const char* codec;  // what ffprobe must see
    int bits;           // 0: float
};

const FileCase kFiles[] = {
    {"int16", WavSampleFormat::int16, "pcm_s16le", 16},
    {"int24", WavSampleFormat::int24, "pcm_s24le", 24},
    {"float32", WavSampleFormat::float32, "pcm_f32le", 0},
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
    // Written in pieces through both entry points, to check that pieces join seamlessly.
    for (size_t at = 0; at < signal.frameCount(); at += 5000) {
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
    for (int c = 0; c < 3; ++c) {
        for (size_t i = 0; i < signal.frameCount(); ++i) {
            const float x = signal.channels[c][i];
            float expected = x;
            if (GetParam().bits > 0) {
                expected = static_cast<float>(quantizeSample(x, GetParam().bits) /
                                              std::ldexp(1.0, GetParam().bits - 1));
            }
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

INSTANTIATE_TEST_SUITE_P(EveryDepth, WavFiles, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WavWriter, NeverWritesOverWhatIsThere) {
    ScratchFolder folder;
    writeBytes(folder / "keep.wav", "the user's own file");
    auto writer = WavWriter::create(folder / "keep.wav", {44100, 2}, WavSampleFormat::int16);
    ASSERT_FALSE(writer.ok()) << "callers remove an old file first; create never replaces one";
    EXPECT_TRUE(writer.error().is(errc::kAudioFile, errc::kWriteFailed));
    EXPECT_EQ(readBytes(folder / "keep.wav"), "the user's own file");

    std::filesystem::create_directory(folder / "folder.wav");
    EXPECT_FALSE(WavWriter::create(folder / "folder.wav", {44100, 2}, WavSampleFormat::int16).ok());
}

TEST(WavWriter, RefusesAPlaceThatCannotBeWritten) {
    ScratchFolder folder;
    auto missing = WavWriter::create(folder / "no" / "such" / "x.wav", {44100, 2}, WavSampleFormat::int16);
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().is(errc::kAudioFile, errc::kWriteFailed));

    // A read-only folder, tried by a user other than root (root may write anywhere), in a place
    // that user can reach.
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

TEST(WavWriter, RefusesMismatchedOrLateWrites) {
    ScratchFolder folder;
    EXPECT_FALSE(WavWriter::create(folder / "a.wav", {44100, 0}, WavSampleFormat::int16).ok())
        << "no channels";
    EXPECT_FALSE(WavWriter::create(folder / "b.wav", {0, 2}, WavSampleFormat::int16).ok()) << "no rate";

    auto writer = WavWriter::create(folder / "c.wav", {44100, 2}, WavSampleFormat::int16);
    ASSERT_TRUE(writer.ok());
    auto mono = PcmBuffer::allocate({44100, 1}, 16);
    mono->setFrameLength(16);
    EXPECT_FALSE(writer.value()->write(*mono).ok()) << "the buffer must have the file's channel count";
    ASSERT_TRUE(writer.value()->close().ok());
    auto stereo = PcmBuffer::allocate({44100, 2}, 16);
    stereo->setFrameLength(16);
    EXPECT_FALSE(writer.value()->write(*stereo).ok()) << "nothing is written after close";
}

}  // namespace
}  // namespace korvanta::test

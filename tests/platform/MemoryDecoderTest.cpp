#include "platform/MemoryDecoder.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ReaderTestSupport.h"

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;

// Bit for bit, so that -0.0 and 0.0 differ.
bool bitIdentical(const Signal& a, const Signal& b) {
    if (a.channels.size() != b.channels.size()) return false;
    for (size_t c = 0; c < a.channels.size(); ++c) {
        const auto& x = a.channels[c];
        const auto& y = b.channels[c];
        if (x.size() != y.size()) return false;
        if (!x.empty() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) != 0) return false;
    }
    return true;
}

struct FormatCase {
    const char* name;
    const char* extension;
    const char* ffmpegOptions;  // nullptr: the 16-bit WAV itself
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class MemoryDecoderFormatTest : public ::testing::TestWithParam<FormatCase> {};

// Whatever the backend, the samples in memory are those the file's own reader gives at any
// position: the pipeline's figures and masters depend on it bit for bit.
TEST_P(MemoryDecoderFormatTest, ReadsEqualTheFilesReadsAtEveryPosition) {
    const FormatCase& c = GetParam();
    ScratchFolder scratch;
    const fs::path wav = scratch / "source.wav";
    writeWav(wav, makeNoise(44100.0, 2, 5.0, 0.3f, 7), WavSampleFormat::int16);
    fs::path input = wav;
    if (c.ffmpegOptions) {
        input = scratch / (std::string("song.") + c.extension);
        convertWithFfmpeg(wav, input, c.ffmpegOptions);
    }
    auto file = AudioFileReader::open(input);
    ASSERT_TRUE(file.ok()) << file.error().description();
    auto decoded = decodeIntoMemory(input, UINT64_MAX, {});
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();

    const int64_t length = file.value()->length();
    EXPECT_EQ(decoded.value()->length, length) << "every frame of the file, no more";
    EXPECT_EQ(decoded.value()->format, file.value()->processingFormat());
    auto memory = readerOverMemory(decoded.value(), input);
    EXPECT_EQ(memory->length(), length);
    EXPECT_EQ(memory->path(), input) << "the reader names the song it holds";

    // Start, an odd spot inside, across the last frame, and beyond the end (nothing there).
    const std::pair<int64_t, uint32_t> spans[] = {
        {0, 4096}, {77777, 12345}, {length - 1000, 4096}, {length + 10, 100}};
    for (const auto& [start, frames] : spans) {
        const Signal fromFile = readRange(*file.value(), start, frames);
        EXPECT_TRUE(bitIdentical(fromFile, readRange(*memory, start, frames))) << c.name << " at " << start;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MemoryDecoderFormatTest,
    ::testing::Values(FormatCase{"Wav16", "wav", nullptr},
                      FormatCase{"Mp3", "mp3", "-c:a libmp3lame -q:a 2"},
                      FormatCase{"Mp3WithoutHeader", "mp3", "-c:a libmp3lame -q:a 2 -write_xing 0"},
                      FormatCase{"M4a", "m4a", "-c:a aac -b:a 128k"},
                      FormatCase{"Flac", "flac", "-c:a flac"},
                      FormatCase{"Ogg", "ogg", "-c:a libvorbis"}),
    [](const auto& info) { return std::string(info.param.name); });

class MemoryDecoderTest : public ::testing::Test {
protected:
    fs::path song(double seconds, int channels = 2) {
        const fs::path path = scratch_.path() / ("song-" + std::to_string(songs_++) + ".wav");
        writeWav(path, makeNoise(22050.0, channels, seconds, 0.5f, 3));
        return path;
    }
    ScratchFolder scratch_;
    int songs_ = 0;
};

TEST_F(MemoryDecoderTest, CancellationIsAskedBeforeEveryChunkAndStopsTheDecoding) {
    const fs::path path = song(6.0);
    int asks = 0;
    auto all = decodeIntoMemory(path, UINT64_MAX, [&] {
        ++asks;
        return false;
    });
    ASSERT_TRUE(all.ok());
    EXPECT_GE(asks, 6) << "six seconds are decoded in chunks of about a second, each asked first";

    int asksUntilStop = 0;
    auto stopped = decodeIntoMemory(path, UINT64_MAX, [&] { return ++asksUntilStop == 3; });
    ASSERT_FALSE(stopped.ok());
    EXPECT_TRUE(stopped.error().is("KorvantaApp", 100)) << stopped.error().description();
    EXPECT_EQ(stopped.error().message, "The process was canceled by the user");
    EXPECT_EQ(asksUntilStop, 3) << "nothing is decoded (or asked) after the answer true";
}

// The limit is on the planar float size: channels × frames × 4 bytes, inclusive.
TEST_F(MemoryDecoderTest, RefusesSongsLargerThanTheMemoryAllowed) {
    const fs::path path = song(1.0, 3);
    auto reader = AudioFileReader::open(path);
    ASSERT_TRUE(reader.ok());
    const uint64_t size = decodedBytes(reader.value()->processingFormat(), reader.value()->length());
    EXPECT_EQ(size, uint64_t(reader.value()->length()) * 3 * sizeof(float));

    auto fits = decodeIntoMemory(path, size, {});
    EXPECT_TRUE(fits.ok()) << "exactly the allowed size fits";
    auto tooLarge = decodeIntoMemory(path, size - 1, {});
    ASSERT_FALSE(tooLarge.ok());
    EXPECT_TRUE(tooLarge.error().is("KorvantaApp", 2)) << tooLarge.error().description();
}

TEST_F(MemoryDecoderTest, DecodesFromTheReadersPositionAndPassesOnOpeningErrors) {
    const fs::path path = song(2.0);
    auto reader = AudioFileReader::open(path);
    ASSERT_TRUE(reader.ok());
    reader.value()->setFramePosition(1000);
    auto rest = decodeIntoMemory(*reader.value(), UINT64_MAX, {});
    ASSERT_TRUE(rest.ok());
    EXPECT_EQ(rest.value()->length, reader.value()->length() - 1000);
    EXPECT_EQ(reader.value()->framePosition(), reader.value()->length()) << "left at the end";
    const Signal whole = readAll(path);
    EXPECT_EQ(rest.value()->channels[1][0], whole.channels[1][1000]) << "the first frame is frame 1000";

    const fs::path missing = scratch_.path() / "missing.wav";
    auto failed = decodeIntoMemory(missing, UINT64_MAX, {});
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), AudioFileReader::open(missing).error()) << "passed on unchanged";
}

// Passes read the same song at once, each through its own reader.
TEST_F(MemoryDecoderTest, ReadersOverOneSongKeepTheirOwnPositions) {
    auto decoded = decodeIntoMemory(song(1.0), UINT64_MAX, {});
    ASSERT_TRUE(decoded.ok());
    auto first = readerOverMemory(decoded.value());
    auto second = readerOverMemory(decoded.value());
    auto buffer = PcmBuffer::allocate(first->processingFormat(), 500);
    ASSERT_TRUE(buffer);
    ASSERT_TRUE(first->read(*buffer).ok());
    EXPECT_EQ(first->framePosition(), 500);
    EXPECT_EQ(second->framePosition(), 0) << "reading one reader moves no other";
    ASSERT_TRUE(second->read(*buffer).ok());
    EXPECT_EQ(buffer->channel(0)[0], decoded.value()->channels[0][0]);
}

}  // namespace
}  // namespace korvanta::test

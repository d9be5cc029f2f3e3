// Every accepted format opens with its true length, decodes to what was encoded, and yields the
// same samples at a position whether the reader got there by seeking or by reading from the start.
// Each format is checked through the registry (what the application uses) and through the FFmpeg
// backend alone, which must handle any of them correctly when libsndfile refuses a file.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

#include "ReaderTestSupport.h"

namespace korvanta::test {
namespace {

constexpr double kRate = 44100.0;
constexpr double kSeconds = 2.5;

enum class ExpectedLength {
    source,       // the encoder's delay and padding are removed
    aacPackets,   // raw ADTS keeps the encoder's delay: one 1024-frame block per packet
    mp3Packets,   // MP3 without a frame-count header: one 1152-frame block per packet
};

struct FormatCase {
    const char* name;
    const char* file;     // the extension picks the container
    const char* options;  // ffmpeg output options
    int gridBits;         // lossless at this depth (the source is put on its grid); 0: lossy
    bool floatSource;     // a lossless float format: the source keeps arbitrary values
    ExpectedLength length;
    int lag;              // frames by which decoded audio trails the source
};

const FormatCase kFormats[] = {
    {"wav16", "pcm16.wav", "-c:a pcm_s16le", 16, false, ExpectedLength::source, 0},
    {"wav24", "pcm24.wav", "-c:a pcm_s24le", 24, false, ExpectedLength::source, 0},
    {"wavFloat", "float.wav", "-c:a pcm_f32le", 0, true, ExpectedLength::source, 0},
    {"aiff", "pcm16.aiff", "-c:a pcm_s16be", 16, false, ExpectedLength::source, 0},
    {"aif", "pcm24.aif", "-c:a pcm_s24be", 24, false, ExpectedLength::source, 0},
    {"flac16", "pcm16.flac", "-c:a flac -sample_fmt s16", 16, false, ExpectedLength::source, 0},
    {"flac24", "pcm24.flac", "-c:a flac -sample_fmt s32", 24, false, ExpectedLength::source, 0},
    {"oggVorbis", "vorbis.ogg", "-c:a libvorbis -q:a 5", 0, false, ExpectedLength::source, 0},
    {"mp3WithHeader", "lame.mp3", "-c:a libmp3lame -b:a 192k", 0, false, ExpectedLength::source, 0},
    {"mp3WithoutHeader", "bare.mp3", "-c:a libmp3lame -b:a 192k -write_xing 0", 0, false,
     ExpectedLength::mp3Packets, 1105},
    {"m4a", "aac.m4a", "-c:a aac -b:a 192k", 0, false, ExpectedLength::source, 0},
    {"m4aAlac16", "alac16.m4a", "-c:a alac -sample_fmt s16p", 16, false, ExpectedLength::source, 0},
    {"m4aAlac24", "alac24.m4a", "-c:a alac -sample_fmt s32p", 24, false, ExpectedLength::source, 0},
    {"adts", "raw.aac", "-c:a aac -b:a 192k", 0, false, ExpectedLength::aacPackets, 1024},
};

// Lossless sources: noise, which leaves no sample value untested. Lossy sources: two tones per
// channel at different frequencies (so a channel swap shows) over quiet noise, which codecs keep
// closely enough to compare. The float source goes beyond full scale, which float files keep.
Signal sourceFor(const FormatCase& format) {
    if (format.gridBits > 0) return onGrid(makeNoise(kRate, 2, kSeconds, 0.9f, 11), format.gridBits);
    if (format.floatSource) {
        Signal s = makeNoise(kRate, 2, kSeconds, 0.9f, 12);
        s.channels[0][1000] = 1.5f;
        s.channels[1][2000] = -2.25f;
        return s;
    }
    Signal noise = makeNoise(kRate, 2, kSeconds, 0.01f, 13);
    return makeSignal(kRate, 2, noise.frameCount(), [&](int c, size_t i) {
        const double t = static_cast<double>(i) / kRate;
        return static_cast<float>(0.4 * std::sin(2 * M_PI * (330.0 + 220.0 * c) * t) +
                                  0.2 * std::sin(2 * M_PI * (1900.0 + 700.0 * c) * t)) +
               noise.channels[c][i];
    });
}

using Param = std::tuple<FormatCase, Backend>;

class AudioFormats : public ::testing::TestWithParam<Param> {
protected:
    static void SetUpTestSuite() { folder_ = new ScratchFolder(); }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
        encoded_.clear();
    }

    const FormatCase& format() const { return std::get<0>(GetParam()); }
    Backend backend() const { return std::get<1>(GetParam()); }

    // The source of this format and the file encoded from it, made once per format.
    std::filesystem::path encoded() {
        const std::string name = format().file;
        if (!encoded_.count(name)) {
            sources_[name] = sourceFor(format());
            const auto wav = *folder_ / (name + ".source.wav");
            writeWav(wav, sources_[name], WavSampleFormat::float32);
            convertWithFfmpeg(wav, *folder_ / name, format().options);
            encoded_[name] = *folder_ / name;
        }
        return encoded_[name];
    }
    const Signal& source() { return sources_[format().file]; }

    std::unique_ptr<AudioFileReader> open() {
        auto reader = openWith(backend(), encoded());
        EXPECT_TRUE(reader.ok()) << (reader.ok() ? "" : reader.error().description());
        return reader.ok() ? std::move(reader).value() : nullptr;
    }

    int64_t expectedLength() {
        switch (format().length) {
        case ExpectedLength::source: return static_cast<int64_t>(source().frameCount());
        case ExpectedLength::aacPackets: return ffprobePacketCount(encoded()) * 1024;
        case ExpectedLength::mp3Packets: return ffprobePacketCount(encoded()) * 1152;
        }
        return -1;
    }

    static inline ScratchFolder* folder_ = nullptr;
    static inline std::map<std::string, std::filesystem::path> encoded_;
    static inline std::map<std::string, Signal> sources_;
};

TEST_P(AudioFormats, OpensWithItsRateChannelsAndTrueLength) {
    auto reader = open();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->processingFormat(), (AudioFormat{kRate, 2})) << "no resampling or remixing";
    EXPECT_EQ(reader->length(), expectedLength())
        << "delay and padding removed where the file records them, counted exactly otherwise";
    const Signal all = readSequential(*reader);
    EXPECT_EQ(static_cast<int64_t>(all.frameCount()), reader->length())
        << "a sequential read yields exactly the stated length";
}

TEST_P(AudioFormats, DecodesWhatWasEncoded) {
    auto reader = open();
    ASSERT_TRUE(reader);
    const Signal decoded = readSequential(*reader);
    ASSERT_EQ(decoded.channelCount(), 2);
    if (format().gridBits > 0 || format().floatSource) {
        ASSERT_EQ(decoded.frameCount(), source().frameCount());
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(decoded.channels[c], source().channels[c])
                << "lossless files return the source samples bit for bit, channel " << c;
        }
        return;
    }
    EXPECT_NEAR(bestLag(source(), decoded, 2048), format().lag, 2)
        << "the audio starts where this kind of file puts it";
    for (int c = 0; c < 2; ++c) {
        EXPECT_GT(correlation(source(), decoded, c, format().lag), 0.98)
            << "channel " << c << " carries its own source channel";
        EXPECT_NEAR(rmsDb(decoded, c), rmsDb(source(), c), 0.5) << "full scale is ±1.0";
    }
}

TEST_P(AudioFormats, SeekThenReadEqualsSequentialRead) {
    auto reader = open();
    ASSERT_TRUE(reader);
    const Signal all = readSequential(*reader);
    const int64_t length = reader->length();
    ASSERT_GT(length, 40000);
    constexpr uint32_t kFrames = 3000;
    // Start, middle, off any block boundary, across the end, then backwards after going forwards,
    // and forwards again past where the last read ended.
    const int64_t positions[] = {0, length / 2, 12345, length - 1000, length / 4, 1, length / 2 + 4321};
    for (int64_t p : positions) {
        const Signal part = readRange(*reader, p, kFrames);
        const auto expected = static_cast<size_t>(std::min<int64_t>(kFrames, length - p));
        ASSERT_EQ(part.frameCount(), expected) << "at " << p;
        for (int c = 0; c < 2; ++c) {
            const std::vector<float> want(all.channels[c].begin() + p,
                                          all.channels[c].begin() + p + static_cast<int64_t>(expected));
            EXPECT_EQ(part.channels[c], want) << "frames at " << p << ", channel " << c;
        }
    }
}

std::string paramName(const ::testing::TestParamInfo<Param>& info) {
    return std::string(std::get<0>(info.param).name) +
           (std::get<1>(info.param) == Backend::registry ? "" : "_ffmpegOnly");
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, AudioFormats,
                         ::testing::Combine(::testing::ValuesIn(kFormats),
                                            ::testing::Values(Backend::registry, Backend::ffmpeg)),
                         paramName);

// Songs often carry a cover picture, which FFmpeg shows as a video stream next to the audio.
TEST(AudioFormatsWithCover, CoverDoesNotHideOrDelayTheAudio) {
    ScratchFolder folder;
    FormatCase tones{"tones", "", "", 0, false, ExpectedLength::source, 0};
    const Signal source = sourceFor(tones);
    writeWav(folder / "source.wav", source, WavSampleFormat::float32);
    int status = 0;
    runCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc=d=1:s=300x300 -frames:v 1 " +
                   shellQuote((folder / "cover.png").string()),
               &status);
    ASSERT_EQ(status, 0);
    const std::string cover = "-i " + shellQuote((folder / "cover.png").string()) +
                              " -map 0:a -map 1:v -c:v mjpeg -disposition:v attached_pic ";
    const std::pair<const char*, std::string> files[] = {
        {"cover.m4a", cover + "-c:a aac -b:a 192k"},
        {"cover.mp3", cover + "-c:a libmp3lame -b:a 192k -id3v2_version 3"},
    };
    for (const auto& [name, options] : files) {
        convertWithFfmpeg(folder / "source.wav", folder / name, options);
        ASSERT_EQ(ffprobeStreamField(folder / name, "codec_type"), "audio");
        ASSERT_NE(runCommand("ffprobe -v error -show_streams " + shellQuote((folder / name).string()))
                      .find("codec_type=video"),
                  std::string::npos)
            << name << " carries its cover as a picture stream";
        const Signal decoded = readAll(folder / name);
        EXPECT_EQ(decoded.frameCount(), source.frameCount()) << name;
        ASSERT_EQ(decoded.channelCount(), 2) << name;
        EXPECT_GT(correlation(source, decoded, 0, 0), 0.98) << name << ": the audio, in its place";
    }
}

}  // namespace
}  // namespace korvanta::test

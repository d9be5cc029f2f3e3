// Every accepted format, layout and rate opens with its true length and decodes to what was
// encoded; seeks land exactly; reads follow one contract whatever the backend.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "ReaderTestSupport.h"

namespace korvanta::test {
namespace {

constexpr double kRate = 44100.0;

enum class ExpectedLength {
    ofSource,    // the encoder's delay and padding are removed
    aacPackets,  // raw ADTS keeps the encoder's delay: one 1024-frame block per packet
    mp3Packets,  // MP3 without a frame-count header: one 1152-frame block per packet
};
using enum ExpectedLength;

struct FormatCase {
    const char* name;
    const char* file;         // the extension picks the container
    const char* options;      // ffmpeg output options
    int gridBits = 0;         // lossless at this depth (the source is put on its grid); 0: lossy
    bool floatSource = false;  // a lossless float format: the source keeps arbitrary values
    ExpectedLength length = ofSource;
    int lag = 0;              // frames by which decoded audio trails the source
};

const FormatCase kFormats[] = {
    {"wav16", "pcm16.wav", "-c:a pcm_s16le", 16},
    {"wav24", "pcm24.wav", "-c:a pcm_s24le", 24},
    {"wavFloat", "float.wav", "-c:a pcm_f32le", 0, true},
    {"aiff", "pcm16.aiff", "-c:a pcm_s16be", 16},
    {"aif", "pcm24.aif", "-c:a pcm_s24be", 24},
    {"flac16", "pcm16.flac", "-c:a flac -sample_fmt s16", 16},
    {"flac24", "pcm24.flac", "-c:a flac -sample_fmt s32", 24},
    {"oggVorbis", "vorbis.ogg", "-c:a libvorbis -q:a 5"},
    {"mp3WithHeader", "lame.mp3", "-c:a libmp3lame -b:a 192k"},
    {"mp3WithoutHeader", "bare.mp3", "-c:a libmp3lame -b:a 192k -write_xing 0", 0, false, mp3Packets, 1105},
    {"m4a", "aac.m4a", "-c:a aac -b:a 192k"},
    {"m4aAlac16", "alac16.m4a", "-c:a alac -sample_fmt s16p", 16},
    {"m4aAlac24", "alac24.m4a", "-c:a alac -sample_fmt s32p", 24},
    {"adts", "raw.aac", "-c:a aac -b:a 192k", 0, false, aacPackets, 1024},
};

// Lossless: noise, which leaves no sample value untested; float goes beyond full scale. Lossy: two
// tones per channel at frequencies of its own (a channel swap shows) over quiet noise.
Signal sourceFor(const FormatCase& format) {
    if (format.gridBits > 0) return onGrid(makeNoise(kRate, 2, 2.5, 0.9f, 11), format.gridBits);
    if (!format.floatSource) {
        return tonesOverNoise(kRate, 2, 2.5, {{0.4, 330, 220}, {0.2, 1900, 700}}, 0.01f, 13);
    }
    Signal s = makeNoise(kRate, 2, 2.5, 0.9f, 12);
    s.channels[0][1000] = 1.5f;
    s.channels[1][2000] = -2.25f;
    return s;
}

// Lossless: the source bit for bit. Lossy: each channel carries its own source channel, `lag`
// frames late, at its level.
void expectSameAudio(const Signal& source, const Signal& decoded, bool lossless, int lag) {
    ASSERT_EQ(decoded.channelCount(), source.channelCount());
    for (int c = 0; c < source.channelCount(); ++c) {
        if (lossless) {
            EXPECT_EQ(decoded.channels[c], source.channels[c]) << "lossless channel " << c;
        } else {
            EXPECT_GT(correlation(source, decoded, c, lag), 0.98) << "channel " << c << " holds its own";
            EXPECT_NEAR(rmsDb(decoded, c), rmsDb(source, c), 0.5) << "channel " << c << ", full scale ±1";
        }
    }
}

class AudioFormats : public ::testing::TestWithParam<std::tuple<FormatCase, Backend>> {
protected:
    static void SetUpTestSuite() { folder_ = std::make_unique<ScratchFolder>(); }
    static void TearDownTestSuite() {
        folder_.reset();
        sources_.clear();
    }

    const FormatCase& format() const { return std::get<0>(GetParam()); }

    // Each format is encoded once, for both backends.
    std::filesystem::path encoded() {
        const auto path = *folder_ / format().file;
        if (!sources_.count(format().file)) {
            const auto wav = path.string() + ".source.wav";
            writeWav(wav, sources_[format().file] = sourceFor(format()), WavSampleFormat::float32);
            convertWithFfmpeg(wav, path, format().options);
        }
        return path;
    }

    int64_t expectedLength(const Signal& source) {
        switch (format().length) {
        case ofSource: return static_cast<int64_t>(source.frameCount());
        case aacPackets: return ffprobePacketCount(encoded()) * 1024;
        case mp3Packets: return ffprobePacketCount(encoded()) * 1152;
        }
        return -1;
    }

    static inline std::unique_ptr<ScratchFolder> folder_;
    static inline std::map<std::string, Signal> sources_;
};

TEST_P(AudioFormats, TrueLengthEncodedSamplesAndExactSeeks) {
    auto opened = openWith(std::get<1>(GetParam()), encoded());
    ASSERT_TRUE(opened.ok()) << opened.error().description();
    AudioFileReader& reader = *opened.value();
    const Signal& source = sources_[format().file];
    EXPECT_EQ(reader.processingFormat(), (AudioFormat{kRate, 2})) << "no resampling or remixing";
    const int64_t length = reader.length();
    EXPECT_EQ(length, expectedLength(source))
        << "delay and padding removed where the file records them, counted exactly otherwise";

    const Signal all = readSequential(reader);
    ASSERT_EQ(all.channelCount(), 2);
    const bool lossless = format().gridBits > 0 || format().floatSource;
    expectSameAudio(source, all, lossless, format().lag);
    if (!lossless) {
        EXPECT_NEAR(bestLag(source, all, 2048), format().lag, 2)
            << "the audio starts where this kind of file puts it";
    }
    ASSERT_EQ(static_cast<int64_t>(all.frameCount()), length)
        << "a sequential read yields exactly the stated length";

    ASSERT_GT(length, 40000);
    constexpr uint32_t kFrames = 3000;
    // Start, middle, off any block boundary, across the end, backwards, forwards past the last read.
    const int64_t positions[] = {0, length / 2, 12345, length - 1000, length / 4, 1, length / 2 + 4321};
    for (int64_t p : positions) {
        const Signal part = readRange(reader, p, kFrames);
        const int64_t n = std::min<int64_t>(kFrames, length - p);
        ASSERT_EQ(static_cast<int64_t>(part.frameCount()), n) << "at " << p;
        for (int c = 0; c < 2; ++c) {
            const auto from = all.channels[c].begin() + p;
            EXPECT_EQ(part.channels[c], std::vector<float>(from, from + n)) << "at " << p << ", ch " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, AudioFormats,
                         ::testing::Combine(::testing::ValuesIn(kFormats),
                                            ::testing::Values(Backend::registry, Backend::ffmpeg)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == Backend::registry ? "" : "_ffmpegOnly");
                         });

// Songs often carry a cover picture, which FFmpeg shows as a video stream next to the audio.
TEST(AudioFormatsWithCover, CoverDoesNotHideOrDelayTheAudio) {
    ScratchFolder folder;
    const Signal source = sourceFor({"tones", "", ""});
    writeWav(folder / "source.wav", source, WavSampleFormat::float32);
    const std::string png = shellQuote((folder / "cover.png").string());
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=d=1:s=300x300 -frames:v 1 " + png));
    const std::string cover = "-i " + png + " -map 0:a -map 1:v -c:v mjpeg -disposition:v attached_pic ";
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

struct LayoutCase {
    const char* name;
    const char* file;
    const char* options;
    double sampleRate;
    int channelCount;
    int gridBits;  // lossless at this depth; 0: lossy
};

const LayoutCase kLayouts[] = {
    {"monoWav", "mono.wav", "-c:a pcm_s16le", 44100, 1, 16},
    {"monoM4a", "mono.m4a", "-c:a aac -b:a 128k", 44100, 1, 0},
    {"monoMp3", "mono.mp3", "-c:a libmp3lame -b:a 128k", 44100, 1, 0},
    {"sixChannelWav", "six.wav", "-c:a pcm_s24le", 48000, 6, 24},
    {"sixChannelFlac", "six.flac", "-c:a flac -sample_fmt s16", 48000, 6, 16},
    {"sixChannelM4a", "six.m4a", "-c:a aac -b:a 384k", 48000, 6, 0},
    {"rate22050Wav", "r22.wav", "-c:a pcm_s16le", 22050, 2, 16},
    {"rate22050M4a", "r22.m4a", "-c:a aac -b:a 128k", 22050, 2, 0},
    {"rate22050Mp3", "r22.mp3", "-c:a libmp3lame -b:a 96k", 22050, 2, 0},
    {"rate48000Flac", "r48.flac", "-c:a flac -sample_fmt s32", 48000, 2, 24},
    {"rate48000M4a", "r48.m4a", "-c:a aac -b:a 192k", 48000, 2, 0},
    {"rate96000Wav", "r96.wav", "-c:a pcm_s24le", 96000, 2, 24},
    {"rate96000Flac", "r96.flac", "-c:a flac -sample_fmt s32", 96000, 2, 24},
    {"rate96000M4a", "r96.m4a", "-c:a aac -b:a 256k", 96000, 2, 0},
};

class LayoutsAndRates : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutsAndRates, KeepRateChannelsAndChannelOrder) {
    const LayoutCase& layout = GetParam();
    ScratchFolder folder;
    // A low tone of its own per channel, so that a channel landing elsewhere shows; low enough for
    // every channel of a 5.1 AAC stream (LFE included) to keep it.
    Signal source =
        tonesOverNoise(layout.sampleRate, layout.channelCount, 1.5, {{0.5, 55, 11}}, 0.005f, 21);
    if (layout.gridBits > 0) source = onGrid(std::move(source), layout.gridBits);
    writeWav(folder / "source.wav", source, WavSampleFormat::float32);
    convertWithFfmpeg(folder / "source.wav", folder / layout.file, layout.options);

    auto opened = AudioFileReader::open(folder / layout.file);
    ASSERT_TRUE(opened.ok()) << opened.error().description();
    AudioFileReader& reader = *opened.value();
    EXPECT_EQ(reader.processingFormat(), (AudioFormat{layout.sampleRate, layout.channelCount}))
        << "the file's own rate and channel count, never resampled or remixed";
    EXPECT_EQ(reader.length(), static_cast<int64_t>(source.frameCount()))
        << "these formats record the encoder's delay and padding, so the length is the source's";

    const Signal decoded = readSequential(reader);
    ASSERT_EQ(decoded.frameCount(), source.frameCount());
    expectSameAudio(source, decoded, layout.gridBits > 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutsAndRates, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// The contract for both backends: a read yields min(count, capacity, frames left), sets the
// buffer's frame length to it and advances the position by it; at or past the end, nothing and no
// error.
class ReaderSemantics : public ::testing::TestWithParam<FormatCase> {
protected:
    void SetUp() override {
        writeWav(folder_ / "source.wav", makeNoise(44100, 2, 0.5, 0.5f, 5), WavSampleFormat::float32);
        convertWithFfmpeg(folder_ / "source.wav", folder_ / GetParam().file, GetParam().options);
        auto opened = AudioFileReader::open(folder_ / GetParam().file);
        ASSERT_TRUE(opened.ok()) << opened.error().description();
        reader_ = std::move(opened).value();
    }

    ScratchFolder folder_;
    std::unique_ptr<AudioFileReader> reader_;
};

TEST_P(ReaderSemantics, ReadsTheSmallestOfCountCapacityAndFramesLeft) {
    AudioFileReader& reader = *reader_;
    ASSERT_EQ(reader.length(), 22050);
    auto buffer = PcmBuffer::allocate(reader.processingFormat(), 4096);
    ASSERT_TRUE(buffer);
    struct Step {
        int64_t setPosition;  // -1: keep
        std::optional<uint32_t> count;
        uint32_t expectedFrames;
        int64_t expectedPosition;
        const char* why;
    };
    const Step steps[] = {
        {-1, 1000u, 1000, 1000, "a count below the capacity is honoured"},
        {-1, std::nullopt, 4096, 5096, "no count: the buffer's capacity"},
        {-1, 100000u, 4096, 9192, "a count above the capacity is cut to it"},
        {-1, 0u, 0, 9192, "a count of 0 reads nothing"},
        {22050 - 10, std::nullopt, 10, 22050, "only the frames left at the end"},
        {-1, std::nullopt, 0, 22050, "at the end: nothing, and no error"},
        {30000, std::nullopt, 0, 30000, "past the end: nothing, and no error"},
        {-7, 5u, 5, 5, "a negative position is taken as 0"},
    };
    for (const Step& step : steps) {
        if (step.setPosition != -1) reader.setFramePosition(step.setPosition);
        buffer->setFrameLength(123);  // must be replaced by what the read yields
        auto status = reader.read(*buffer, step.count);
        ASSERT_TRUE(status.ok()) << step.why << ": " << status.error().description();
        EXPECT_EQ(buffer->frameLength(), step.expectedFrames) << step.why;
        EXPECT_EQ(reader.framePosition(), step.expectedPosition) << step.why;
    }
}

TEST_P(ReaderSemantics, RefusesABufferWithAnotherChannelCount) {
    auto mono = PcmBuffer::allocate({44100, 1}, 1024);
    auto status = reader_->read(*mono);
    ASSERT_FALSE(status.ok()) << "the decoder writes one array per channel of the file";
    EXPECT_TRUE(status.error().is(errc::kAudioFile, errc::kReadFailed));
    EXPECT_EQ(mono->frameLength(), 0u);
    EXPECT_EQ(reader_->framePosition(), 0) << "a refused read does not move the position";
}

INSTANTIATE_TEST_SUITE_P(BothBackends, ReaderSemantics,
                         ::testing::Values(FormatCase{"libsndfile", "clip.wav", "-c:a pcm_s16le"},
                                           FormatCase{"ffmpeg", "clip.m4a", "-c:a aac -b:a 128k"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvanta::test

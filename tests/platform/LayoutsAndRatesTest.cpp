// Files keep their own sample rate and channel count, and every channel comes back in its place:
// mono, 6 channels, and 22.05, 48 and 96 kHz, in lossless and lossy formats.
#include <gtest/gtest.h>

#include <cmath>

#include "ReaderTestSupport.h"

namespace korvanta::test {
namespace {

struct LayoutCase {
    const char* name;
    const char* file;
    const char* options;
    double sampleRate;
    int channelCount;
    int gridBits;  // lossless at this depth; 0: lossy (length and content compared loosely)
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

// One low tone per channel, each at its own frequency, so that a channel that lands elsewhere
// correlates poorly with its source; low enough for every channel of a 5.1 AAC stream (the LFE
// channel included) to keep it.
Signal layoutSource(const LayoutCase& layout) {
    Signal noise = makeNoise(layout.sampleRate, layout.channelCount, 1.5, 0.005f, 21);
    Signal s = makeSignal(layout.sampleRate, layout.channelCount, noise.frameCount(), [&](int c, size_t i) {
        const double t = static_cast<double>(i) / layout.sampleRate;
        return static_cast<float>(0.5 * std::sin(2 * M_PI * (55.0 + 11.0 * c) * t)) + noise.channels[c][i];
    });
    return layout.gridBits > 0 ? onGrid(std::move(s), layout.gridBits) : s;
}

class LayoutsAndRates : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutsAndRates, KeepRateChannelsAndChannelOrder) {
    const LayoutCase& layout = GetParam();
    ScratchFolder folder;
    const Signal source = layoutSource(layout);
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
    ASSERT_EQ(decoded.channelCount(), layout.channelCount);
    ASSERT_EQ(decoded.frameCount(), source.frameCount());
    for (int c = 0; c < layout.channelCount; ++c) {
        if (layout.gridBits > 0) {
            EXPECT_EQ(decoded.channels[c], source.channels[c]) << "lossless channel " << c;
        } else {
            EXPECT_GT(correlation(source, decoded, c, 0), 0.98)
                << "channel " << c << " holds its own tone, with no delay";
            EXPECT_NEAR(rmsDb(decoded, c), rmsDb(source, c), 0.5) << "channel " << c;
        }
    }

}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutsAndRates, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvanta::test

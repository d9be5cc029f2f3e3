#include "export/AacEncoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ExportTestSupport.h"

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;

// Index of the first frame whose magnitude reaches `threshold` in channel 0, or -1.
int64_t firstFrameAbove(const Signal& signal, float threshold) {
    const auto& samples = signal.channels.at(0);
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) >= threshold) return static_cast<int64_t>(i);
    }
    return -1;
}

class AacEncoderTest : public ::testing::Test {
protected:
    std::unique_ptr<AacEncoder> encoderFor(const std::string& name, const Signal& input) {
        writeWav(folder / name, input);
        auto encoder = AacEncoder::create(folder / name);
        EXPECT_TRUE(encoder) << encoder.error().description();
        return encoder ? std::move(encoder).value() : nullptr;
    }

    ScratchFolder folder;
};

struct FormatCase {
    double inputRate;
    int channels;
    int expectedRate;     // the encoded stream's rate
    int64_t bitRate = 0;  // 0: 128 kb/s per channel
};

class AacEncoderFormats : public AacEncoderTest, public ::testing::WithParamInterface<FormatCase> {};

// The encoder's start delay must be hidden by the file, not heard as a shift.
TEST_P(AacEncoderFormats, KeepsLengthAndTimingOfTheInput) {
    const FormatCase c = GetParam();
    const double seconds = 1.5;
    const size_t onset = static_cast<size_t>(0.5 * c.inputRate);
    // Silence, then a 1 kHz tone from 0.5 s on.
    const Signal input = makeSignal(c.inputRate, c.channels, size_t(seconds * c.inputRate), [&](int channel, size_t i) {
        if (i < onset) return 0.0f;
        return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * (i + 40 * channel) / c.inputRate));
    });
    auto encoder = encoderFor("input.wav", input);
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder->sampleRate(), c.expectedRate);
    EXPECT_EQ(encoder->bitRate(), c.bitRate ? c.bitRate : 128000 * c.channels);
    double lastFraction = -1.0;
    encoder->setProgressHandler([&](double fraction) { lastFraction = fraction; });
    const fs::path output = folder / "output.m4a";
    const Status encoded = encoder->encode(output);
    ASSERT_TRUE(encoded) << encoded.error().description();
    EXPECT_DOUBLE_EQ(lastFraction, 1.0);

    const ProbedFile probed = probeFile(output);
    const ProbedStream* audio = probed.firstOfType("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codecName, "aac");
    EXPECT_EQ(audio->sampleRate, c.expectedRate);
    EXPECT_EQ(audio->channels, c.channels);
    EXPECT_EQ(probed.firstOfType("video"), nullptr) << "no cover was set";
    // The stated length (where decoders cut the end padding) is the input's; the resampler may
    // add or drop a frame.
    const double expectedFrames = seconds * c.expectedRate;
    EXPECT_NEAR(static_cast<double>(audio->durationTs), expectedFrames, 2.0);

    // The ffmpeg tool honours the edit list's start but still decodes the last frame's padding.
    const Signal decoded = decodeWithFfmpeg(folder, output);
    ASSERT_EQ(decoded.channelCount(), c.channels);
    EXPECT_GE(static_cast<double>(decoded.frameCount()), expectedFrames - 2.0);
    EXPECT_LE(static_cast<double>(decoded.frameCount()), expectedFrames + 1024.0 + 2.0);
    const double onsetSeconds = static_cast<double>(firstFrameAbove(decoded, 0.1f)) / decoded.sampleRate;
    EXPECT_NEAR(onsetSeconds, 0.5, 0.003) << "priming must not shift the audio";

    // Our own reader cuts at the stated length.
    const Signal read = readAll(output);
    EXPECT_NEAR(static_cast<double>(read.frameCount()), expectedFrames, 2.0);
    EXPECT_NEAR(static_cast<double>(firstFrameAbove(read, 0.1f)) / read.sampleRate, 0.5, 0.003);
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndChannels, AacEncoderFormats,
    ::testing::Values(FormatCase{44100, 2, 44100}, FormatCase{48000, 2, 48000},
                      FormatCase{44100, 1, 44100}, FormatCase{48000, 1, 48000},
                      FormatCase{96000, 2, 96000}, FormatCase{22050, 2, 22050},
                      FormatCase{8000, 1, 8000, 48000},  // capped by the AAC frame size: 6144 bits per 1024 frames
                      FormatCase{44100, 6, 44100},   // 5.1
                      FormatCase{192000, 2, 48000},  // not an AAC rate: resampled
                      FormatCase{176400, 2, 44100},  // 44.1 kHz family
                      FormatCase{37800, 1, 48000}),
    [](const auto& info) {
        return std::to_string(static_cast<int>(info.param.inputRate)) + "Hz_" +
               std::to_string(info.param.channels) + "ch";
    });

// AAC at 256 kb/s keeps a plain sine to well within 1 %.
TEST_F(AacEncoderTest, DecodedAudioMatchesTheInput) {
    const Signal input = makeSine(44100, 2, 1.0, 440.0, 0.5f);
    auto encoder = encoderFor("sine.wav", input);
    ASSERT_TRUE(encoder);
    ASSERT_TRUE(encoder->encode(folder / "sine.m4a"));
    const Signal decoded = decodeWithFfmpeg(folder, folder / "sine.m4a");
    ASSERT_EQ(decoded.channelCount(), 2);
    double error = 0.0, energy = 0.0;
    const size_t n = std::min(decoded.frameCount(), input.frameCount());
    for (int c = 0; c < 2; ++c) {
        for (size_t i = 2048; i + 2048 < n; ++i) {
            const double d = decoded.channels[c][i] - input.channels[c][i];
            error += d * d;
            energy += double(input.channels[c][i]) * input.channels[c][i];
        }
    }
    EXPECT_LT(10.0 * std::log10(error / energy), -40.0) << "signal-to-error ratio above 40 dB";
}

TEST_F(AacEncoderTest, StoresTheCoverAsAnAttachedPicture) {
    auto cover = makeCoverJpeg(makeImage(folder, "testsrc=s=120x90", "cover.png"));
    ASSERT_TRUE(cover) << cover.error().description();
    auto encoder = encoderFor("song.wav", makeSine(44100, 2, 0.5, 440.0, 0.5f));
    ASSERT_TRUE(encoder);
    encoder->setCoverArt(cover.value());
    encoder->setFastStart(true);
    ASSERT_TRUE(encoder->encode(folder / "song.m4a"));

    const ProbedFile probed = probeFile(folder / "song.m4a");
    EXPECT_EQ(probed.majorBrand, "M4A ") << "an M4A file, not a generic MP4";
    const ProbedStream* video = probed.firstOfType("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codecName, "mjpeg");
    EXPECT_TRUE(video->attachedPicture);
    EXPECT_EQ(video->width, 120);
    EXPECT_EQ(video->height, 90);
    EXPECT_EQ(extractCover(folder, folder / "song.m4a"), cover->data) << "the JPEG given, byte for byte";
}

TEST_F(AacEncoderTest, CancellationLeavesNoFileAndReportsCancelled) {
    auto encoder = encoderFor("long.wav", makeNoise(44100, 2, 3.0, 0.3f, 7));
    ASSERT_TRUE(encoder);
    double lastFraction = -1.0;
    bool increasing = true;
    encoder->setProgressHandler([&](double fraction) {
        increasing = increasing && fraction >= lastFraction;
        lastFraction = fraction;
    });
    encoder->setCancellationCheck([&] { return lastFraction >= 0.3; });
    const Status encoded = encoder->encode(folder / "long.m4a");
    ASSERT_FALSE(encoded);
    EXPECT_EQ(encoded.error(), cancelledError());
    EXPECT_TRUE(increasing);
    EXPECT_GE(lastFraction, 0.3);
    EXPECT_LT(lastFraction, 1.0) << "stopped part-way";
    EXPECT_FALSE(fs::exists(folder / "long.m4a")) << "a cancelled encode leaves no partial file";
}

TEST_F(AacEncoderTest, RefusesWhatItCannotEncode) {
    writeWav(folder / "nine.wav", makeNoise(44100, 9, 0.2, 0.3f));  // AAC cannot carry 9 channels
    writeWav(folder / "empty.wav", Signal{44100, {{}, {}}});
    const struct {
        const char* input;
        const char* domain;
        int code;
    } cases[] = {{"nine.wav", errc::kAacEncoder, errc::kEncoderUnavailable},
                 {"empty.wav", errc::kAacEncoder, errc::kNoAudio},
                 {"missing.wav", errc::kAudioFile, errc::kNoSuchFile}};
    for (const auto& c : cases) {
        auto encoder = AacEncoder::create(folder / c.input);
        ASSERT_FALSE(encoder) << c.input;
        EXPECT_TRUE(encoder.error().is(c.domain, c.code)) << c.input << ": " << encoder.error().description();
    }
}

TEST_F(AacEncoderTest, OutputThatCannotBeCreatedFailsAndAnExistingFileIsNeverOverwritten) {
    writeBytes(folder / "taken.m4a", Bytes{1, 2, 3});
    for (const fs::path& output : {folder / "taken.m4a", folder / "taken.m4a" / "below-a-file.m4a"}) {
        SCOPED_TRACE(output.string());
        auto encoder = encoderFor("a.wav", makeSine(44100, 2, 0.2, 440.0, 0.5f));
        ASSERT_TRUE(encoder);
        const Status encoded = encoder->encode(output);
        ASSERT_FALSE(encoded);
        EXPECT_TRUE(encoded.error().is(errc::kAacEncoder, errc::kOutputFailed));
        EXPECT_EQ(readBytes(folder / "taken.m4a"), (Bytes{1, 2, 3})) << "the existing file is untouched";
        EXPECT_FALSE(encoder->encode(folder / "other.m4a")) << "one file per encoder";
    }
}

}  // namespace
}  // namespace korvanta::test

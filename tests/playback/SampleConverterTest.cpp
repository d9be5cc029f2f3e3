#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "playback/SampleConverter.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

// Converts the whole signal in device-sized pieces and returns the device's float frames.
std::vector<float> convert(const Signal& s, const DeviceFormat& out) {
    auto converter = SampleConverter::create({s.sampleRate, s.channelCount()}, out);
    EXPECT_TRUE(converter);
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at < s.frameCount(); at += 1024) {
        const auto n = uint32_t(std::min<size_t>(1024, s.frameCount() - at));
        std::vector<const float*> planes;
        for (const auto& c : s.channels) planes.push_back(c.data() + at);
        converter->convert(planes.data(), n, bytes);
    }
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// Upward zero crossings of one interleaved channel per second.
double frequencyOf(const std::vector<float>& interleaved, int channels, int channel, double rate) {
    int crossings = 0;
    size_t frames = interleaved.size() / size_t(channels);
    for (size_t i = 1; i < frames; ++i) {
        if (interleaved[(i - 1) * channels + channel] < 0 && interleaved[i * channels + channel] >= 0) ++crossings;
    }
    return crossings / (double(frames) / rate);
}

struct ConversionCase {
    double inputRate;
    int inputChannels;
    int outputRate;
};

class SampleConverterTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(SampleConverterTest, KeepsPitchAndLengthOnAStereoDevice) {
    const auto c = GetParam();
    const Signal tone = makeSine(c.inputRate, c.inputChannels, 1.0, 1000.0, 0.5f);
    const DeviceFormat device{c.outputRate, 2, DeviceSampleType::float32};
    const auto out = convert(tone, device);
    const double frames = double(out.size()) / 2.0;
    EXPECT_NEAR(frames, c.outputRate, c.outputRate * 0.01) << "one second stays one second";
    EXPECT_NEAR(frequencyOf(out, 2, 0, c.outputRate), 1000.0, 3.0) << "the pitch is kept";
    EXPECT_NEAR(frequencyOf(out, 2, 1, c.outputRate), 1000.0, 3.0) << "the right side sounds too";
}

INSTANTIATE_TEST_SUITE_P(Formats, SampleConverterTest,
                         ::testing::Values(ConversionCase{96000.0, 2, 48000}, ConversionCase{96000.0, 6, 48000},
                                           ConversionCase{44100.0, 1, 44100}, ConversionCase{44100.0, 2, 48000},
                                           ConversionCase{22050.0, 1, 48000}),
                         [](const auto& info) {
                             return std::to_string(int(info.param.inputRate)) + "Hz" +
                                    std::to_string(info.param.inputChannels) + "chTo" +
                                    std::to_string(info.param.outputRate);
                         });

TEST(SampleConverterIdentityTest, TheSameFormatOnlyInterleaves) {
    const Signal noise = makeNoise(44100.0, 2, 0.05, 0.7f, 5);
    const auto out = convert(noise, DeviceFormat{44100, 2, DeviceSampleType::float32});
    ASSERT_EQ(out.size(), noise.frameCount() * 2);
    for (size_t i = 0; i < noise.frameCount(); ++i) {
        ASSERT_EQ(out[2 * i], noise.channels[0][i]) << i;
        ASSERT_EQ(out[2 * i + 1], noise.channels[1][i]) << i;
    }
}

}  // namespace
}  // namespace korvanta::test

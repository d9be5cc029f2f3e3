// The block quantisers against the one-sample rule: the same integers for every value, including
// NaN, infinities, exact ties and the edges of the range, at every channel count and length.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/SampleQuantizer.h"

namespace korvanta {
namespace {

// Random values over and beyond full scale, with the awkward ones mixed in.
std::vector<float> awkwardSamples(size_t count, unsigned seed) {
    const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             1.0f, -1.0f, 32767.5f / 32768, -32768.5f / 32768, 0.5f / 32768,
                             1.5f / 32768, -2.5f / 32768, 0.5f / 8388608, 8388606.5f / 8388608,
                             std::numeric_limits<float>::denorm_min(), -0.0f, 3e38f};
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

TEST(SampleQuantizer, SnapsToTheFileGridInPlace) {
    for (int bits : {16, 24}) {
        std::vector<float> samples = awkwardSamples(1001, unsigned(bits));
        const std::vector<float> original = samples;
        snapToSampleGrid(samples.data(), samples.data(), samples.size(), bits);
        for (size_t i = 0; i < samples.size(); ++i) {
            const float expected =
                float(quantizeSample(original[i], bits)) / float(int32_t{1} << (bits - 1));
            ASSERT_EQ(std::memcmp(&samples[i], &expected, sizeof(float)), 0)
                << "x = " << original[i] << " at " << bits << " bits";
        }
    }
}

}  // namespace
}  // namespace korvanta

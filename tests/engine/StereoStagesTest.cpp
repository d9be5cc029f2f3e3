#include "engine/StereoStages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "EngineTestSupport.h"

namespace korvanta::test {
namespace {

std::vector<float> tone(size_t frames, double frequency, float amplitude) {
    return makeSine(44100, 1, double(frames) / 44100, frequency, amplitude).channels[0];
}

double rms(const std::vector<float>& x, size_t from) {
    double sum = 0.0;
    for (size_t i = from; i < x.size(); ++i) sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(x.size() - from));
}

TEST(SoftClip, BendsOnlyBeyondTheKneeAndStaysWithinFullScale) {
    const struct {
        float in, expected;
        const char* why;
    } cases[] = {
        {0.5f, 0.5f, "below the knee nothing changes"},
        {0.95f, 0.95f, "the knee itself is not bent"},
        {-0.95f, -0.95f, "nor its negative"},
        {1.0f, 0.957444f, "1.0 maps to about 0.957"},
        {-1.0f, -0.957444f, "the curve is odd-symmetric"},
        {50.0f, 1.0f, "far beyond the knee the output approaches full scale"},
    };
    for (const auto& c : cases) {
        auto buffer = makeBuffer({44100, {{c.in}}});
        applySoftClip(*buffer);
        EXPECT_NEAR(buffer->channel(0)[0], c.expected, 1e-6) << c.why;
    }
}

TEST(StereoStages, LeaveBuffersOtherThanStereoUntouched) {
    for (int channels : {1, 3}) {
        Signal in{44100, {}};
        for (int c = 0; c < channels; ++c) in.channels.push_back(tone(4096, 3000.0 + 500 * c, 0.5f));
        auto buffer = makeBuffer(in);
        applyStereoWidth(*buffer, 44100.0f, 2.0f);
        applyMidEnhancement(*buffer, 2.0f);
        for (int c = 0; c < channels; ++c) {
            EXPECT_EQ(channelOf(*buffer, c), in.channels[size_t(c)])
                << channels << "-channel audio is never widened or mid-enhanced";
        }
    }
}

// Side level out / side level in for `mid` plus a side tone at `sideHz`, after widening by
// `width`; measured from 50 ms on, as the high-pass starts from zero in every buffer.
double sideGain(double midHz, double sideHz, float width) {
    const size_t frames = 44100, settle = 2205;
    const auto mid = tone(frames, midHz, midHz > 0 ? 0.3f : 0.0f), side = tone(frames, sideHz, 0.1f);
    Signal in{44100, {mid, mid}};
    for (size_t i = 0; i < frames; ++i) in.channels[0][i] += side[i], in.channels[1][i] -= side[i];
    auto buffer = makeBuffer(in);
    applyStereoWidth(*buffer, 44100.0f, width);
    std::vector<float> outSide(frames);
    for (size_t i = 0; i < frames; ++i) outSide[i] = 0.5f * (buffer->channel(0)[i] - buffer->channel(1)[i]);
    return rms(outSide, settle) / rms(side, settle);
}

TEST(StereoWidth, RemovesSideBelowTheCrossoverAndScalesItAbove) {
    EXPECT_LT(sideGain(1000, 40, 2.0f), 0.03) << "side content below 500 Hz is removed even at width 2";
    EXPECT_NEAR(sideGain(0, 5000, 1.5f), 1.5, 0.03) << "side content above the crossover is multiplied by the width";
}

TEST(StereoWidth, ScalesFramesBeyondPointNineDownToIt) {
    // A centred 0.95 has no side, so only the safety scaling can change it.
    auto buffer = makeBuffer({44100, {std::vector<float>(64, 0.95f), std::vector<float>(64, 0.95f)}});
    applyStereoWidth(*buffer, 44100.0f, 2.0f);
    for (int c = 0; c < 2; ++c) {
        for (float v : channelOf(*buffer, c)) ASSERT_FLOAT_EQ(v, 0.9f) << "frames above 0.9 are scaled to 0.9";
    }
}

TEST(StereoWidth, StartsFromZeroHistoryInEveryBuffer) {
    const Signal in{44100, {tone(2048, 900, 0.4f), tone(2048, 1300, 0.4f)}};
    auto first = makeBuffer(in), second = makeBuffer(in);
    applyStereoWidth(*first, 44100.0f, 1.8f);
    applyStereoWidth(*second, 44100.0f, 1.8f);
    EXPECT_EQ(channelOf(*first, 0), channelOf(*second, 0)) << "nothing is carried from one buffer to the next";
}

TEST(MidEnhancement, ScalesTheMidAndKeepsTheSide) {
    auto buffer = makeBuffer({44100, {{0.5f, 0.0f}, {0.1f, 0.4f}}});
    applyMidEnhancement(*buffer, 2.0f);
    // Frame 0: mid 0.3 → 0.6, side 0.2. Frame 1: mid 0.2 → 0.4, side −0.2.
    EXPECT_FLOAT_EQ(buffer->channel(0)[0], 0.8f);
    EXPECT_FLOAT_EQ(buffer->channel(1)[0], 0.4f);
    EXPECT_FLOAT_EQ(buffer->channel(0)[1], 0.2f);
    EXPECT_FLOAT_EQ(buffer->channel(1)[1], 0.6f);
}

TEST(MasterGain, MultipliesEveryChannelByTheDecibelFactorWithinTheFrameLength) {
    auto buffer = PcmBuffer::allocate({48000, 3}, 8);
    buffer->setFrameLength(4);
    for (int c = 0; c < 3; ++c) std::fill_n(buffer->channel(c), 8, 0.25f);
    applyMasterGain(*buffer, -20.0f);
    for (int c = 0; c < 3; ++c) {
        for (uint32_t i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(buffer->channel(c)[i], 0.025f) << "−20 dB is a factor of 0.1";
        for (uint32_t i = 4; i < 8; ++i) EXPECT_EQ(buffer->channel(c)[i], 0.25f) << "frames past the length are not audio";
    }
}

}  // namespace
}  // namespace korvanta::test

// PCM buffers: refused (nullptr, never an exception or the out-of-memory killer) when absurd,
// silent and with separate channels when made.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/PcmBuffer.h"

namespace korvanta {
namespace {

TEST(PcmBuffer, RefusesWhatCannotOrShouldNotBeAllocated) {
    constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
    struct Case {
        AudioFormat format;
        uint32_t frames;
        const char* why;
    };
    const Case cases[] = {
        {{44100, 64}, kMax, "about a terabyte"},
        {{44100, 2}, kMax, "32 GiB, beyond the per-buffer limit"},
        {{0, 2}, 1024, "no sample rate"},
        {{std::nan(""), 2}, 1024, "NaN sample rate"},
        {{44100, -1}, 1024, "negative channel count"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<PcmBuffer> buffer;
        EXPECT_NO_THROW(buffer = PcmBuffer::allocate(c.format, c.frames)) << c.why;
        EXPECT_EQ(buffer, nullptr) << c.why;
    }
}

TEST(PcmBuffer, StartsSilentWithSeparateChannels) {
    auto buffer = PcmBuffer::allocate({48000, 3}, 1000);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameCapacity(), 1000u);
    EXPECT_EQ(buffer->frameLength(), 0u) << "no frames hold data yet";
    for (int c = 0; c < 3; ++c) {
        for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(buffer->channel(c)[i], 0.0f) << "silence at first";
    }
    for (uint32_t i = 0; i < 1000; ++i) buffer->channel(1)[i] = 1.0f;
    EXPECT_EQ(buffer->channel(0)[999], 0.0f) << "channels do not overlap";
    EXPECT_EQ(buffer->channel(2)[0], 0.0f) << "channels do not overlap";
    EXPECT_EQ(buffer->floatChannelData()[1], buffer->channel(1));

    buffer->setFrameLength(5000);
    EXPECT_EQ(buffer->frameLength(), 1000u) << "the frame length never exceeds the capacity";
}

}  // namespace
}  // namespace korvanta

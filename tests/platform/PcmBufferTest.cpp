// PCM buffers: refused (nullptr, never an exception or the out-of-memory killer) when absurd,
// silent and with separate channels when made; large ones in whole, zeroed, aligned mappings.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>

#include "platform/LargeAllocation.h"
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
    // A small buffer from the heap, and one of two minutes from a mapping of its own.
    for (const uint32_t frames : {1000u, 48000u * 120u}) {
        auto buffer = PcmBuffer::allocate({48000, 3}, frames);
        ASSERT_TRUE(buffer);
        EXPECT_EQ(buffer->frameCapacity(), frames);
        EXPECT_EQ(buffer->frameLength(), 0u) << "no frames hold data yet";
        for (int c = 0; c < 3; ++c) {
            for (uint32_t i = 0; i < frames; ++i) ASSERT_EQ(buffer->channel(c)[i], 0.0f) << "silence at first";
        }
        for (uint32_t i = 0; i < frames; ++i) buffer->channel(1)[i] = 1.0f;
        EXPECT_EQ(buffer->channel(0)[frames - 1], 0.0f) << "channels do not overlap";
        EXPECT_EQ(buffer->channel(2)[0], 0.0f) << "channels do not overlap";
        EXPECT_EQ(buffer->floatChannelData()[1], buffer->channel(1));

        buffer->setFrameLength(frames + 4000);
        EXPECT_EQ(buffer->frameLength(), frames) << "the frame length never exceeds the capacity";
    }
}

TEST(LargeAllocation, IsZeroedAlignedAndWholeForEverySize) {
    constexpr size_t kHugePage = size_t{2} << 20;
    for (const size_t bytes : {kLargeAllocationBytes, kLargeAllocationBytes + 1, size_t{85} << 20}) {
        auto* memory = static_cast<unsigned char*>(allocateLarge(bytes));
        ASSERT_NE(memory, nullptr) << bytes;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % kHugePage, 0u) << "aligned for huge pages";
        EXPECT_EQ(memory[0], 0);
        EXPECT_EQ(memory[bytes - 1], 0) << "zeroed up to its last byte";
        std::memset(memory, 0x5a, bytes);  // every byte asked for can be written
        EXPECT_EQ(memory[bytes / 2], 0x5a);
        freeLarge(memory, bytes);
    }
    EXPECT_EQ(allocateLarge(0), nullptr);
    EXPECT_EQ(allocateLarge(SIZE_MAX), nullptr) << "refused, never wrapped around";
    freeLarge(nullptr, 123);  // ignored
}

TEST(LargeAllocation, RunsGivenBackAreReusedOnlyWhereZerosAreNotPromised) {
    constexpr size_t kBig = size_t{24} << 20, kSmall = size_t{10} << 20;
    auto* big = static_cast<unsigned char*>(allocateLargeUninitialized(kBig));
    ASSERT_NE(big, nullptr);
    big[0] = big[kBig - 1] = 7;
    freeLarge(big, kBig);
    // A smaller request takes the larger run, which goes back whole however it is given back.
    auto* small = static_cast<unsigned char*>(allocateLargeUninitialized(kSmall));
    EXPECT_EQ(small, big);
    small[0] = 9;
    freeLarge(small, kSmall);
    auto* again = static_cast<unsigned char*>(allocateLargeUninitialized(kBig));
    EXPECT_EQ(again, big) << "the whole run came back";
    again[kBig - 1] = 1;  // still mapped to its end
    freeLarge(again, kBig);

    auto* zeroed = static_cast<unsigned char*>(allocateLarge(kBig));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_NE(zeroed, big) << "zeroed memory is always a fresh mapping";
    EXPECT_EQ(zeroed[0], 0);
    EXPECT_EQ(zeroed[kBig - 1], 0);
    freeLarge(zeroed, kBig);

    // Runs left unused for the lifetime go back to the system.
    EXPECT_GE(spareLargeBytes(), kBig);
    setSpareLargeLifetime(std::chrono::milliseconds(20));
    for (int waited = 0; spareLargeBytes() != 0 && waited < 5000; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(spareLargeBytes(), 0u);
    setSpareLargeLifetime(std::chrono::milliseconds(kSpareLargeLifetimeMs));
}

}  // namespace
}  // namespace korvanta

// Signals in and out of audio buffers.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/PcmBuffer.h"
#include "support/TestAudio.h"

namespace korvanta::test {

inline std::shared_ptr<PcmBuffer> makeBuffer(const Signal& s) {
    std::shared_ptr<PcmBuffer> b = PcmBuffer::allocate({s.sampleRate, s.channelCount()}, uint32_t(s.frameCount()));
    b->setFrameLength(uint32_t(s.frameCount()));
    for (int c = 0; c < s.channelCount(); ++c) std::copy_n(s.channels[size_t(c)].begin(), s.frameCount(), b->channel(c));
    return b;
}

inline std::vector<float> channelOf(const PcmBuffer& b, int c) {
    return {b.channel(c), b.channel(c) + b.frameLength()};
}

}  // namespace korvanta::test

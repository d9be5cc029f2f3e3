// A test signal as a buffer, for the spectrum tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "support/TestAudio.h"

namespace korvanta::test {

// Frames [first, first + count) of `signal` (by default all of it).
inline std::unique_ptr<PcmBuffer> bufferOf(const Signal& signal, size_t first = 0, size_t count = SIZE_MAX) {
    count = std::min(count, signal.frameCount() - first);
    auto buffer = PcmBuffer::allocate({signal.sampleRate, signal.channelCount()}, static_cast<uint32_t>(count));
    for (int c = 0; c < signal.channelCount(); ++c) {
        std::copy_n(signal.channels[c].begin() + static_cast<ptrdiff_t>(first), count, buffer->channel(c));
    }
    buffer->setFrameLength(static_cast<uint32_t>(count));
    return buffer;
}

}  // namespace korvanta::test

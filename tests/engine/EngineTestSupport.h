// Signals in and out of audio buffers, and what ffprobe says of a rendered file.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
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

// The stream `entries` of `file` as ffprobe prints them, comma-separated, e.g. "flt,2".
inline std::string probeStream(const std::filesystem::path& file, const std::string& entries) {
    const std::string out = runCommand("ffprobe -v error -show_entries stream=" + entries + " -of csv=p=0 " +
                                       shellQuote(file.string()));
    return out.substr(0, out.find('\n'));
}

}  // namespace korvanta::test

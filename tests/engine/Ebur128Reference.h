// libebur128 as the independent loudness reference of the loudness tests.
#pragma once

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/TestAudio.h"

namespace korvanta::test {

struct Figures {
    double truePeakDb = 0.0, integratedLufs = 0.0, rangeLu = 0.0;
};

inline Figures libebur128(const Signal& s) {
    ebur128_state* st = ebur128_init(unsigned(s.channelCount()), unsigned(s.sampleRate),
                                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_LRA);
    std::vector<float> interleaved;
    interleaved.reserve(s.frameCount() * size_t(s.channelCount()));
    for (size_t i = 0; i < s.frameCount(); ++i) {
        for (const auto& ch : s.channels) interleaved.push_back(ch[i]);
    }
    ebur128_add_frames_float(st, interleaved.data(), s.frameCount());
    Figures r;
    ebur128_loudness_global(st, &r.integratedLufs);
    ebur128_loudness_range(st, &r.rangeLu);
    double peak = 0.0;
    for (unsigned c = 0; c < unsigned(s.channelCount()); ++c) {
        double p = 0.0;
        ebur128_true_peak(st, c, &p);
        peak = std::max(peak, p);
    }
    r.truePeakDb = 20.0 * std::log10(peak);
    ebur128_destroy(&st);
    return r;
}

}  // namespace korvanta::test

// Every loudness window is a whole number of 100 ms segments, so the meter keeps one weighted
// sum of squares per segment and builds the 400 ms blocks and 3 s windows from them at the end.

#include "engine/R128LoudnessMeter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <numeric>

namespace korvanta {

namespace {

constexpr double kAbsoluteGateLufs = -70.0;
constexpr double kRelativeGateLu = -10.0;
constexpr double kRangeRelativeGateLu = -20.0;
constexpr double kLoudnessOffset = -0.691;

double loudnessOf(double meanSquare) { return kLoudnessOffset + 10.0 * std::log10(meanSquare); }
double meanSquareOf(double lufs) { return std::pow(10.0, (lufs - kLoudnessOffset) / 10.0); }

// Mean squares of windows of `length` segments starting at every segment.
std::vector<double> windowPowers(const std::vector<double>& segments, size_t length,
                                 int64_t segmentFrames) {
    std::vector<double> powers;
    if (segments.size() < length) return powers;
    double sum = std::accumulate(segments.begin(), segments.begin() + long(length), 0.0);
    const double frames = double(segmentFrames) * double(length);
    powers.push_back(sum / frames);
    for (size_t k = length; k < segments.size(); ++k) {
        // Re-summed rather than slid, so that rounding never accumulates along a long song.
        sum = std::accumulate(segments.begin() + long(k + 1 - length), segments.begin() + long(k + 1), 0.0);
        powers.push_back(sum / frames);
    }
    return powers;
}

std::vector<double> above(const std::vector<double>& powers, double threshold) {
    std::vector<double> kept;
    std::copy_if(powers.begin(), powers.end(), std::back_inserter(kept),
                 [&](double z) { return z > threshold; });
    return kept;
}

double mean(const std::vector<double>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
}

}  // namespace

KWeightingDesign KWeightingDesign::forSampleRate(double sampleRate) {
    KWeightingDesign d;
    // High shelf: +4 dB above about 1.7 kHz.
    {
        const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
        const double k = std::tan(std::numbers::pi * f0 / sampleRate);
        const double vh = std::pow(10.0, gainDb / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        d.shelfB[0] = (vh + vb * k / q + k * k) / a0;
        d.shelfB[1] = 2.0 * (k * k - vh) / a0;
        d.shelfB[2] = (vh - vb * k / q + k * k) / a0;
        d.shelfA[0] = 1.0;
        d.shelfA[1] = 2.0 * (k * k - 1.0) / a0;
        d.shelfA[2] = (1.0 - k / q + k * k) / a0;
    }
    // High-pass at about 38 Hz.
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        const double k = std::tan(std::numbers::pi * f0 / sampleRate);
        const double a0 = 1.0 + k / q + k * k;
        d.highPassB[0] = 1.0;
        d.highPassB[1] = -2.0;
        d.highPassB[2] = 1.0;
        d.highPassA[0] = 1.0;
        d.highPassA[1] = 2.0 * (k * k - 1.0) / a0;
        d.highPassA[2] = (1.0 - k / q + k * k) / a0;
    }
    return d;
}

double KWeightingDesign::magnitudeDb(double frequencyHz, double sampleRate) const {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequencyHz / sampleRate);
    const auto stage = [&](const double* b, const double* a) {
        return (b[0] + b[1] * z1 + b[2] * z1 * z1) / (a[0] + a[1] * z1 + a[2] * z1 * z1);
    };
    return 20.0 * std::log10(std::abs(stage(shelfB, shelfA) * stage(highPassB, highPassA)));
}

void R128LoudnessMeter::prepare(int channelCount, double sampleRate) {
    design_ = KWeightingDesign::forSampleRate(sampleRate);
    const int count = std::max(channelCount, 0);
    channels_.assign(static_cast<size_t>(count), ChannelState{});
    for (int c = 0; c < count; ++c) {
        double w = c < 3 ? 1.0 : 1.41;
        if (count == 6 && c == 3) w = 0.0;
        channels_[static_cast<size_t>(c)].weight = w;
    }
    segmentFrames_ = sampleRate >= 1.0 ? static_cast<int64_t>((sampleRate + 5.0) / 10.0) : 0;
    segmentFilled_ = 0;
    segmentSum_ = 0.0;
    segments_.clear();
}

void R128LoudnessMeter::process(const float* const* channels, int64_t frameCount) {
    if (segmentFrames_ < 1) return;
    const KWeightingDesign& d = design_;
    const double sb0 = d.shelfB[0], sb1 = d.shelfB[1], sb2 = d.shelfB[2];
    const double sa1 = d.shelfA[1], sa2 = d.shelfA[2];
    const double ha1 = d.highPassA[1], ha2 = d.highPassA[2];
    for (int64_t done = 0; done < frameCount;) {
        const int64_t n = std::min(segmentFrames_ - segmentFilled_, frameCount - done);
        double sum = 0.0;
        for (size_t c = 0; c < channels_.size(); ++c) {
            ChannelState st = channels_[c];
            const float* x = channels[c] + done;
            double squares = 0.0;
            // Direct form I, shelf then high-pass; the high-pass numerator is 1, −2, 1.
            for (int64_t i = 0; i < n; ++i) {
                const double in = x[i];
                const double s = sb0 * in + sb1 * st.x1 + sb2 * st.x2 - sa1 * st.s1 - sa2 * st.s2;
                const double y = (s - 2.0 * st.s1 + st.s2) - ha1 * st.y1 - ha2 * st.y2;
                st.x2 = st.x1;
                st.x1 = in;
                st.s2 = st.s1;
                st.s1 = s;
                st.y2 = st.y1;
                st.y1 = y;
                squares += y * y;
            }
            // Denormal histories after silence cost time and change nothing audible.
            for (double* h : {&st.x1, &st.x2, &st.s1, &st.s2, &st.y1, &st.y2}) {
                if (std::fabs(*h) < 1e-30) *h = 0.0;
            }
            channels_[c] = st;
            sum += st.weight * squares;
        }
        segmentSum_ += sum;
        segmentFilled_ += n;
        done += n;
        if (segmentFilled_ == segmentFrames_) {
            segments_.push_back(segmentSum_);
            segmentSum_ = 0.0;
            segmentFilled_ = 0;
        }
    }
}

double R128LoudnessMeter::integratedLufs() const {
    const std::vector<double> blocks = windowPowers(segments_, 4, segmentFrames_);
    const std::vector<double> loud = above(blocks, meanSquareOf(kAbsoluteGateLufs));
    if (loud.empty()) return -std::numeric_limits<double>::infinity();
    const double relativeGate = mean(loud) * std::pow(10.0, kRelativeGateLu / 10.0);
    const std::vector<double> kept = above(loud, relativeGate);
    if (kept.empty()) return -std::numeric_limits<double>::infinity();
    return loudnessOf(mean(kept));
}

double R128LoudnessMeter::loudnessRangeLu() const {
    const std::vector<double> windows = windowPowers(segments_, 30, segmentFrames_);
    const std::vector<double> loud = above(windows, meanSquareOf(kAbsoluteGateLufs));
    if (loud.empty()) return 0.0;
    const double relativeGate = mean(loud) * std::pow(10.0, kRangeRelativeGateLu / 10.0);
    std::vector<double> kept = above(loud, relativeGate);
    if (kept.empty()) return 0.0;
    std::sort(kept.begin(), kept.end());
    const auto at = [&](double fraction) {
        return kept[static_cast<size_t>(double(kept.size() - 1) * fraction + 0.5)];
    };
    return loudnessOf(at(0.95)) - loudnessOf(at(0.10));
}

}  // namespace korvanta

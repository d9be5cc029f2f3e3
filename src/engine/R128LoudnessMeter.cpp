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

using Vec2 = double __attribute__((vector_size(2 * sizeof(double))));

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

// The K-weighting recursion on as many channels as V has lanes: direct form I, shelf then
// high-pass (the high-pass numerator is 1, −2, 1).
template <typename V>
struct KWeightingLanes {
    explicit KWeightingLanes(const KWeightingDesign& d)
        : sb0(d.shelfB[0]), sb1(d.shelfB[1]), sb2(d.shelfB[2]), sa1(d.shelfA[1]), sa2(d.shelfA[2]),
          ha1(d.highPassA[1]), ha2(d.highPassA[2]) {}

    // Filters one frame of every lane and adds the squares of the weighted samples to `squares`.
    [[gnu::always_inline]] void step(const V& in, V& squares) {
        const V s = (sb0 * in + sb1 * x1 + sb2 * x2) - sa2 * s2 - sa1 * s1;
        const V y = ((s - 2.0 * s1) + s2) - ha2 * y2 - ha1 * y1;
        x2 = x1;
        x1 = in;
        s2 = s1;
        s1 = s;
        y2 = y1;
        y1 = y;
        squares += y * y;
    }

    double sb0, sb1, sb2, sa1, sa2, ha1, ha2;
    V x1{}, x2{}, s1{}, s2{}, y1{}, y2{};
};

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// Whether this processor runs the AVX2 and FMA forms of the recursion.
bool hasAvx2Fma() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
    }();
    return supported;
}
#endif

// The frames after which the K-weighting has forgotten where it started to within 1e−20, from
// its slowest pole of radius r: (n + 1) · r^n, the envelope of a double pole, in steps of 256.
// −1 when the filter does not settle within 2^24 frames.
int64_t settlingFramesOf(const KWeightingDesign& d) {
    double radius = 0.0;
    for (const double* a : {d.shelfA, d.highPassA}) {
        const double discriminant = a[1] * a[1] - 4.0 * a[2];
        const double r = discriminant < 0.0
                             ? std::sqrt(a[2])
                             : 0.5 * (std::fabs(a[1]) + std::sqrt(discriminant));  // the larger root's size
        radius = std::max(radius, r);
    }
    if (!(radius < 1.0)) return -1;
    const double limit = std::log(1e-20), perFrame = std::log(radius);
    for (int64_t n = 256; n < (int64_t{1} << 24); n += 256) {
        if (std::log(double(n + 1)) + double(n) * perFrame < limit) return n;
    }
    return -1;
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
    segments_.clear();
    settlingFrames_ = segmentFrames_ > 0 ? settlingFramesOf(design_) : -1;
    if (settlingFrames_ > stretchFrames() / 4) settlingFrames_ = -1;
    // Enough stretches that their channels fill whole vectors of four lanes.
    stretchesPerBatch_ = 4 / std::gcd<int64_t>(std::max<int64_t>(count, 1), 4);
    stretchesMeasured_ = 0;
    fedInOrder_ = 0;
    completedAt_ = -1;
}

namespace {

// Two channels side by side through the K-weighting (`b` null: the second lane hears silence).
[[gnu::always_inline]] inline void filterPair(KWeightingLanes<Vec2>& state, const float* a, const float* b, int64_t n,
                                              Vec2& sum) {
    // Local copies stay in registers through the loop.
    KWeightingLanes<Vec2> k = state;
    Vec2 squares = sum;
    if (b) {
        for (int64_t i = 0; i < n; ++i) k.step(Vec2{double(a[i]), double(b[i])}, squares);
    } else {
        for (int64_t i = 0; i < n; ++i) k.step(Vec2{double(a[i]), 0.0}, squares);
    }
    state = k;
    sum = squares;
}

void filterPairBaseline(KWeightingLanes<Vec2>& k, const float* a, const float* b, int64_t n, Vec2& squares) {
    filterPair(k, a, b, n, squares);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// With fused multiply-adds each recursion step waits on one operation instead of two.
__attribute__((target("avx2,fma"))) void filterPairFma(KWeightingLanes<Vec2>& k, const float* a, const float* b,
                                                       int64_t n, Vec2& squares) {
    filterPair(k, a, b, n, squares);
}
#endif

void filterPairBest(KWeightingLanes<Vec2>& k, const float* a, const float* b, int64_t n, Vec2& squares) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    if (hasAvx2Fma()) return filterPairFma(k, a, b, n, squares);
#endif
    filterPairBaseline(k, a, b, n, squares);
}

}  // namespace

void R128LoudnessMeter::process(const float* const* channels, int64_t frameCount) {
    if (segmentFrames_ < 1 || frameCount <= 0) return;
    fedInOrder_ += frameCount;
    // Every channel's Σy² runs on across calls until its 100 ms segment is full, and histories
    // are flushed only there, so that the figures do not depend on how the signal was cut into
    // blocks.
    for (int64_t done = 0; done < frameCount;) {
        const int64_t n = std::min(segmentFrames_ - segmentFilled_, frameCount - done);
        const bool segmentEnds = segmentFilled_ + n == segmentFrames_;
        // Channels in pairs, one per lane of a two-double vector: the two recursions run side by
        // side. A lone last channel is paired with silence.
        for (size_t c = 0; c < channels_.size(); c += 2) {
            const bool pair = c + 1 < channels_.size();
            ChannelState& a = channels_[c];
            ChannelState& b = pair ? channels_[c + 1] : channels_[c];
            KWeightingLanes<Vec2> k(design_);
            k.x1 = Vec2{a.x1, pair ? b.x1 : 0.0}, k.x2 = Vec2{a.x2, pair ? b.x2 : 0.0};
            k.s1 = Vec2{a.s1, pair ? b.s1 : 0.0}, k.s2 = Vec2{a.s2, pair ? b.s2 : 0.0};
            k.y1 = Vec2{a.y1, pair ? b.y1 : 0.0}, k.y2 = Vec2{a.y2, pair ? b.y2 : 0.0};
            Vec2 squares{a.squares, pair ? b.squares : 0.0};
            filterPairBest(k, channels[c] + done, pair ? channels[c + 1] + done : nullptr, n, squares);
            // Denormal histories after silence cost time and change nothing audible.
            const auto flush = [segmentEnds](double v) { return segmentEnds && std::fabs(v) < 1e-30 ? 0.0 : v; };
            const auto keep = [&](ChannelState& state, int lane) {
                state.x1 = flush(k.x1[lane]), state.x2 = flush(k.x2[lane]);
                state.s1 = flush(k.s1[lane]), state.s2 = flush(k.s2[lane]);
                state.y1 = flush(k.y1[lane]), state.y2 = flush(k.y2[lane]);
                state.squares = squares[lane];
            };
            keep(a, 0);
            if (pair) keep(b, 1);
        }
        segmentFilled_ += n;
        done += n;
        if (segmentEnds) {
            double sum = 0.0;
            for (ChannelState& state : channels_) {
                sum += state.weight * state.squares;
                state.squares = 0.0;
            }
            segments_.push_back(sum);
            segmentFilled_ = 0;
        }
    }
}

namespace {

using Vec4 = double __attribute__((vector_size(4 * sizeof(double))));

// Four lanes of the K-weighting, each a channel of one stretch.
struct LaneSource {
    const float* settling[4];  // each lane's `warm` frames before its first counted one
    const float* samples[4];   // each lane's first counted frame
    double* sums[4];           // each lane's Σy² per segment
};

// Runs the four lanes from silence through `warm` settling frames, then `segmentCount` segments
// of `segmentFrames`; sums[lane][s] is the lane's Σy² of segment s.
template <typename V>
[[gnu::always_inline]] inline void runLanes(const KWeightingDesign& d, const LaneSource& src, int64_t warm,
                                            int64_t segmentFrames, int64_t segmentCount) {
    KWeightingLanes<V> k(d);
    {
        const float *w0 = src.settling[0], *w1 = src.settling[1], *w2 = src.settling[2], *w3 = src.settling[3];
        V unused{};
        for (int64_t i = 0; i < warm; ++i) k.step(V{double(w0[i]), double(w1[i]), double(w2[i]), double(w3[i])}, unused);
    }
    const float *p0 = src.samples[0], *p1 = src.samples[1], *p2 = src.samples[2], *p3 = src.samples[3];
    for (int64_t s = 0; s < segmentCount; ++s) {
        V squares{};
        const int64_t from = s * segmentFrames, to = from + segmentFrames;
        for (int64_t i = from; i < to; ++i) {
            const V in{double(p0[i]), double(p1[i]), double(p2[i]), double(p3[i])};
            k.step(in, squares);
        }
        for (int l = 0; l < 4; ++l) src.sums[l][s] = squares[l];
    }
}

void runLanesBaseline(const KWeightingDesign& d, const LaneSource& src, int64_t warm, int64_t segmentFrames,
                      int64_t segmentCount) {
    runLanes<Vec4>(d, src, warm, segmentFrames, segmentCount);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target("avx2,fma"))) void runLanesAvx2(const KWeightingDesign& d, const LaneSource& src, int64_t warm,
                                                  int64_t segmentFrames, int64_t segmentCount) {
    runLanes<Vec4>(d, src, warm, segmentFrames, segmentCount);
}
#endif

void runLanesBest(const KWeightingDesign& d, const LaneSource& src, int64_t warm, int64_t segmentFrames,
                  int64_t segmentCount) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    if (hasAvx2Fma()) return runLanesAvx2(d, src, warm, segmentFrames, segmentCount);
#endif
    runLanesBaseline(d, src, warm, segmentFrames, segmentCount);
}

}  // namespace

bool R128LoudnessMeter::inStretches() const {
    return fedInOrder_ == 0 && settlingFrames_ >= 0 && !channels_.empty() && segmentFrames_ > 0;
}

void R128LoudnessMeter::processAvailable(const float* const* channels, int64_t available, bool complete) {
    if (completedAt_ >= 0) return;
    if (!inStretches()) {
        if (available > fedInOrder_) {
            std::vector<const float*> rest(channels_.size());
            for (size_t c = 0; c < rest.size(); ++c) rest[c] = channels[c] + fedInOrder_;
            process(rest.data(), available - fedInOrder_);
        }
        if (complete) completedAt_ = std::max(available, fedInOrder_);
        return;
    }
    const int64_t whole = available / stretchFrames();
    int64_t batches = (whole - stretchesMeasured_) / stretchesPerBatch_;
    if (batches > 0) {
        measureStretches(channels, stretchesMeasured_, batches * stretchesPerBatch_, kStretchSegments);
    }
    if (!complete) return;
    // The whole stretches that do not fill the lanes, then what is left of the last one.
    if (whole > stretchesMeasured_) measureStretches(channels, stretchesMeasured_, whole - stretchesMeasured_,
                                                     kStretchSegments);
    const int64_t segmentsLeft = (available - whole * stretchFrames()) / segmentFrames_;
    if (segmentsLeft > 0) measureStretches(channels, whole, 1, segmentsLeft);
    completedAt_ = std::max<int64_t>(available, 0);
}

void R128LoudnessMeter::measureStretches(const float* const* channels, int64_t first, int64_t count,
                                         int64_t segmentsEach) {
    const auto channelCount = static_cast<int64_t>(channels_.size());
    const int64_t lanes = count * channelCount;
    // Lane j is channel j % channelCount of stretch first + j / channelCount.
    std::vector<double> sums(static_cast<size_t>(lanes * segmentsEach));
    std::vector<double> unused(static_cast<size_t>(segmentsEach));
    // The first stretch settles on the silence before the signal.
    const std::vector<float> silence(first == 0 ? static_cast<size_t>(settlingFrames_) : 0);
    for (int64_t j0 = 0; j0 < lanes; j0 += 4) {
        LaneSource src{};
        for (int l = 0; l < 4; ++l) {
            // Lanes past the last repeat the first one; their sums are dropped.
            const bool used = j0 + l < lanes;
            const int64_t j = used ? j0 + l : j0;
            const int64_t start = (first + j / channelCount) * stretchFrames();
            src.samples[l] = channels[j % channelCount] + start;
            src.settling[l] = start == 0 ? silence.data() : src.samples[l] - settlingFrames_;
            src.sums[l] = used ? sums.data() + j * segmentsEach : unused.data();
        }
        runLanesBest(design_, src, settlingFrames_, segmentFrames_, segmentsEach);
    }
    for (int64_t s = 0; s < count; ++s) {
        for (int64_t segment = 0; segment < segmentsEach; ++segment) {
            double sum = 0.0;
            for (int64_t c = 0; c < channelCount; ++c) {
                sum += channels_[static_cast<size_t>(c)].weight *
                       sums[static_cast<size_t>((s * channelCount + c) * segmentsEach + segment)];
            }
            segments_.push_back(sum);
        }
    }
    stretchesMeasured_ = first + count;
}

void R128LoudnessMeter::processWhole(const float* const* channels, int64_t frameCount) {
    processAvailable(channels, frameCount, true);
}

int64_t R128LoudnessMeter::nextBatchEnd() const {
    if (!inStretches()) return fedInOrder_ + 1;
    return (stretchesMeasured_ + stretchesPerBatch_) * stretchFrames();
}

int64_t R128LoudnessMeter::framesMeasured() const {
    if (completedAt_ >= 0) return completedAt_;
    return inStretches() ? stretchesMeasured_ * stretchFrames() : fedInOrder_;
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

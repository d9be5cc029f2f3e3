// How the measurement runs fast without changing its figures:
//
// Every quantity it reports is a sum of squares over fixed windows (100 ms RMS windows, 400 ms
// loudness blocks). The window edges cut the timeline into elementary segments; one pass over the
// samples accumulates, per segment, the raw Σx² of all channels and the channel-weighted Σy² of
// the K-weighted signal, and every window sum is then a sum of a few segment sums. No weighted
// copy of the audio is ever stored.
//
// The K-weighting recursion is serial per channel, so each channel is cut into a few long tiles
// that run side by side in the lanes of one vector, each from zero history. The first
// kSettleFrames (rounded up to a segment edge) of every tile but the first are then filtered again
// by a scalar pass that starts from the true history, taken from the end of the preceding tile;
// the vector lane's sums count only after that point. By then the lane's error (the decaying
// response to the history it lacked, poles of radius ≤ 0.9951) is below 1e-17 of the signal's
// level, far under single-precision rounding.
//
// Squares are summed in float over runs of at most kRunFrames samples and carried in double.

#include "engine/LoudnessMeasurement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <type_traits>
#include <vector>

namespace korvanta {

namespace {

// K-weighting: the high-pass (b = 1, −2, 1) and then the shelving stage, BS.1770 48 kHz values.
constexpr float kHighPassA1 = -1.99004745483398f;
constexpr float kHighPassA2 = 0.99007225036621f;
constexpr float kShelfB0 = 1.53512485958697f;
constexpr float kShelfB1 = -2.69169618940638f;
constexpr float kShelfB2 = 1.19839281085285f;
constexpr float kShelfA1 = -1.69065929318241f;
constexpr float kShelfA2 = 0.73248077421585f;

constexpr float kSurroundWeight = 1.41f;  // channels from index 2 up
constexpr double kAbsoluteGate = 1e-7;    // −70 dB block power
constexpr double kRelativeGate = 0.1;     // 10 dB below the mean of the absolutely gated blocks

constexpr int kLanes = 8;
constexpr int64_t kRunFrames = 64;          // longest float partial sum
constexpr int64_t kSettleFrames = 8192;     // re-filtered head of every tile after the first
constexpr int64_t kMinTileFrames = 1 << 16; // shorter tiles would waste work on heads

// The kLanes lanes are held in one vector of 8 floats where AVX2 is available, else in two of 4
// (SSE2, NEON). Both give bit-identical results: the same single-precision operations per lane.
using Vec8 = float __attribute__((vector_size(8 * sizeof(float))));
using Vec4 = float __attribute__((vector_size(4 * sizeof(float))));
using Bits8 = int32_t __attribute__((vector_size(8 * sizeof(int32_t))));
using Bits4 = int32_t __attribute__((vector_size(4 * sizeof(int32_t))));

// The history of the two cascaded stages: the last two inputs, the last two high-pass outputs
// (which are also the shelf's last two inputs) and the last two shelf outputs.
template <typename T>
struct KState {
    T x1{}, x2{}, h1{}, h2{}, s1{}, s2{};
};

// One K-weighted sample. The term with the newest output is subtracted last, which keeps the
// loop-carried dependency to one multiply and one subtract per stage. (Vectors travel by
// reference: a 32-byte vector passed by value has no fixed ABI without AVX.)
template <typename T>
[[gnu::always_inline]] inline void kWeight(KState<T>& st, const T& x, T& y) {
    const T h = (x + st.x2) - (st.x1 + st.x1) - kHighPassA2 * st.h2 - kHighPassA1 * st.h1;
    const T s = kShelfB0 * h + kShelfB1 * st.h1 + kShelfB2 * st.h2 - kShelfA2 * st.s2 -
                kShelfA1 * st.s1;
    st.x2 = st.x1;
    st.x1 = x;
    st.h2 = st.h1;
    st.h1 = h;
    st.s2 = st.s1;
    st.s1 = s;
    y = s;
}

// Per-segment sums over the whole window. Segment e spans [edges[e], edges[e + 1]).
struct SegmentSums {
    std::vector<int64_t> edges;       // sorted, unique; first 0, last the frame count
    std::vector<double> raw;          // Σ x², all channels together
    std::vector<double> weighted;     // Σ weight(c) · y², y the K-weighted signal
    float peak = 0.0f;                // largest |x| seen

    size_t segmentAt(int64_t frame) const {  // the segment holding `frame`
        return static_cast<size_t>(std::upper_bound(edges.begin(), edges.end(), frame) -
                                   edges.begin()) - 1;
    }
    size_t edgeIndex(int64_t frame) const {  // `frame` must be an edge
        return static_cast<size_t>(std::lower_bound(edges.begin(), edges.end(), frame) -
                                   edges.begin());
    }
    // Σ over segments [edgeIndex(from), edgeIndex(to)).
    double sum(const std::vector<double>& values, int64_t from, int64_t to) const {
        const size_t a = edgeIndex(from);
        const size_t b = edgeIndex(to);
        double total = 0.0;
        for (size_t e = a; e < b; ++e) total += values[e];
        return total;
    }
};

// Windows of `length` frames starting at 0, step, 2·step, … while start < frames − length.
struct WindowSeries {
    int64_t length = 0;
    int64_t step = 0;
    int64_t count = 0;

    WindowSeries(int64_t frames, int64_t length_, int64_t step_) : length(length_), step(step_) {
        if (length < 1 || step < 1 || frames - length <= 0) return;
        count = (frames - length - 1) / step + 1;
    }
    int64_t start(int64_t k) const { return k * step; }
};

// A stretch [begin, end) of one channel, filtered from zero history (the vector pass) and counted
// from `countFrom` on, an edge or `end`.
struct Tile {
    const float* samples = nullptr;  // the channel's first frame
    float weight = 1.0f;
    int64_t begin = 0;
    int64_t end = 0;
    int64_t countFrom = 0;
    KState<float> state;  // the history after the tile's last frame, once processed
};

// Filters [from, to) of `tile` through its state; sums count from max(from, countFrom).
void runScalar(Tile& tile, int64_t from, int64_t to, int64_t countFrom, SegmentSums& sums) {
    const float* x = tile.samples;
    KState<float>& st = tile.state;
    float peak = sums.peak;

    const int64_t quietEnd = std::clamp(countFrom, from, to);
    for (int64_t p = from; p < quietEnd; ++p) {
        float y;
        kWeight(st, x[p], y);
        peak = std::max(peak, std::fabs(x[p]));
    }
    int64_t p = quietEnd;
    while (p < to) {
        const size_t e = sums.segmentAt(p);
        const int64_t segmentEnd = std::min(to, sums.edges[e + 1]);
        double raw = 0.0;
        double weighted = 0.0;
        while (p < segmentEnd) {
            const int64_t runEnd = std::min(segmentEnd, p + kRunFrames);
            float rawRun = 0.0f;
            float weightedRun = 0.0f;
            for (; p < runEnd; ++p) {
                const float v = x[p];
                float y;
                kWeight(st, v, y);
                rawRun += v * v;
                weightedRun += y * y;
                peak = std::max(peak, std::fabs(v));
            }
            raw += rawRun;
            weighted += weightedRun;
        }
        sums.raw[e] += raw;
        sums.weighted[e] += double(tile.weight) * weighted;
    }
    sums.peak = peak;
}

// Lane sums of one run, for lanes held in kLanes / N vectors V of N floats each.
template <typename V>
struct LaneVectors {
    static constexpr int kWidth = sizeof(V) / sizeof(float);
    static constexpr int kCount = kLanes / kWidth;
    V v[kCount];

    float lane(int l) const { return v[l / kWidth][l % kWidth]; }
};

// Filters frames [from, to) of every lane; adds x² and y² to the run sums and |x| to the peaks.
template <typename V>
[[gnu::always_inline]] inline void filterLanes(const std::array<const float*, kLanes>& src,
                                               int64_t from, int64_t to,
                                               KState<V> (&st)[LaneVectors<V>::kCount],
                                               LaneVectors<V>& raw, LaneVectors<V>& weighted,
                                               LaneVectors<V>& peak) {
    using Bits = std::conditional_t<std::is_same_v<V, Vec8>, Bits8, Bits4>;
    constexpr int kWidth = LaneVectors<V>::kWidth;
    const float* const p0 = src[0];
    const float* const p1 = src[1];
    const float* const p2 = src[2];
    const float* const p3 = src[3];
    const float* const p4 = src[4];
    const float* const p5 = src[5];
    const float* const p6 = src[6];
    const float* const p7 = src[7];
    for (int64_t i = from; i < to; ++i) {
        V x[LaneVectors<V>::kCount];
        if constexpr (kWidth == 8) {
            x[0] = V{p0[i], p1[i], p2[i], p3[i], p4[i], p5[i], p6[i], p7[i]};
        } else {
            static_assert(kWidth == 4);
            x[0] = V{p0[i], p1[i], p2[i], p3[i]};
            x[1] = V{p4[i], p5[i], p6[i], p7[i]};
        }
        for (int g = 0; g < LaneVectors<V>::kCount; ++g) {
            V y;
            kWeight(st[g], x[g], y);
            raw.v[g] += x[g] * x[g];
            weighted.v[g] += y * y;
            const V magnitude = reinterpret_cast<V>(reinterpret_cast<Bits>(x[g]) & 0x7fffffff);
            peak.v[g] = magnitude > peak.v[g] ? magnitude : peak.v[g];
        }
    }
}

// Runs up to kLanes tiles side by side from zero history over their first `frames` frames
// (every tile must be at least that long) and leaves each tile's history in its state.
template <typename V>
[[gnu::always_inline]] inline void runLanesWith(Tile* const* tiles, int tileCount, int64_t frames,
                                                SegmentSums& sums) {
    constexpr int kCount = LaneVectors<V>::kCount;
    std::array<const float*, kLanes> src{};
    std::array<size_t, kLanes> nextEdge{};  // index of the lane's next segment edge
    std::array<double, kLanes> raw{};
    std::array<double, kLanes> weighted{};
    for (int l = 0; l < kLanes; ++l) {
        // Spare lanes repeat the first tile; nothing of theirs is counted.
        const Tile& t = *tiles[l < tileCount ? l : 0];
        src[static_cast<size_t>(l)] = t.samples + t.begin;
        if (l < tileCount) nextEdge[static_cast<size_t>(l)] = sums.segmentAt(t.begin) + 1;
    }

    KState<V> st[kCount] = {};
    LaneVectors<V> peak{};
    int64_t n = 0;
    while (n < frames) {
        int64_t run = std::min(kRunFrames, frames - n);
        for (int l = 0; l < tileCount; ++l) {
            const int64_t position = tiles[l]->begin + n;
            run = std::min(run, sums.edges[nextEdge[static_cast<size_t>(l)]] - position);
        }
        LaneVectors<V> rawRun{};
        LaneVectors<V> weightedRun{};
        filterLanes(src, n, n + run, st, rawRun, weightedRun, peak);
        n += run;
        for (int l = 0; l < tileCount; ++l) {
            const auto lane = static_cast<size_t>(l);
            raw[lane] += rawRun.lane(l);
            weighted[lane] += weightedRun.lane(l);
            const Tile& t = *tiles[l];
            const size_t edge = nextEdge[lane];
            if (t.begin + n == sums.edges[edge]) {
                if (sums.edges[edge - 1] >= t.countFrom) {
                    sums.raw[edge - 1] += raw[lane];
                    sums.weighted[edge - 1] += double(t.weight) * weighted[lane];
                }
                raw[lane] = 0.0;
                weighted[lane] = 0.0;
                nextEdge[lane] = edge + 1;
            }
        }
    }
    for (int l = 0; l < tileCount; ++l) {
        const auto lane = static_cast<size_t>(l);
        Tile& t = *tiles[l];
        // The unfinished segment's part so far; the rest of it is added by whoever runs on.
        const size_t edge = nextEdge[lane];
        if (n > 0 && sums.edges[edge - 1] >= t.countFrom) {
            sums.raw[edge - 1] += raw[lane];
            sums.weighted[edge - 1] += double(t.weight) * weighted[lane];
        }
        const KState<V>& s = st[l / LaneVectors<V>::kWidth];
        const int i = l % LaneVectors<V>::kWidth;
        t.state = KState<float>{s.x1[i], s.x2[i], s.h1[i], s.h2[i], s.s1[i], s.s2[i]};
        sums.peak = std::max(sums.peak, peak.lane(l));
    }
}

void runLanesBaseline(Tile* const* tiles, int tileCount, int64_t frames, SegmentSums& sums) {
    runLanesWith<Vec4>(tiles, tileCount, frames, sums);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target("avx2"))) void runLanesAvx2(Tile* const* tiles, int tileCount,
                                                  int64_t frames, SegmentSums& sums) {
    runLanesWith<Vec8>(tiles, tileCount, frames, sums);
}
#endif

void runLanes(Tile* const* tiles, int tileCount, int64_t frames, SegmentSums& sums) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    static const bool hasAvx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    if (hasAvx2) {
        runLanesAvx2(tiles, tileCount, frames, sums);
        return;
    }
#endif
    runLanesBaseline(tiles, tileCount, frames, sums);
}

// The edges of every RMS window and loudness block, plus 0 and `frames`.
std::vector<int64_t> segmentEdges(int64_t frames, const WindowSeries& rmsWindows,
                                  const WindowSeries& blocks) {
    std::vector<int64_t> edges;
    edges.reserve(static_cast<size_t>(2 * (rmsWindows.count + blocks.count) + 2));
    edges.push_back(0);
    edges.push_back(frames);
    for (const WindowSeries* series : {&rmsWindows, &blocks}) {
        for (int64_t k = 0; k < series->count; ++k) {
            edges.push_back(series->start(k));
            edges.push_back(series->start(k) + series->length);
        }
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    return edges;
}

// Cuts every channel into tiles and runs them; fills `sums`.
void accumulate(const float* const* channels, int channelCount, int64_t frames,
                SegmentSums& sums) {
    // Enough tiles per channel that whole vectors fill up, as long as tiles stay long.
    const int wanted = kLanes / std::gcd(channelCount, kLanes);
    const int tilesPerChannel =
        static_cast<int>(std::clamp<int64_t>(frames / kMinTileFrames, 1, wanted));
    const int64_t tileFrames = frames / tilesPerChannel;

    std::vector<Tile> tiles;
    tiles.reserve(static_cast<size_t>(channelCount * tilesPerChannel));
    for (int j = 0; j < tilesPerChannel; ++j) {
        for (int c = 0; c < channelCount; ++c) {
            Tile t;
            t.samples = channels[c];
            t.weight = c >= 2 ? kSurroundWeight : 1.0f;
            t.begin = j * tileFrames;
            t.end = j + 1 == tilesPerChannel ? frames : t.begin + tileFrames;
            t.countFrom = t.begin;
            if (j > 0) {
                const auto settled = std::lower_bound(sums.edges.begin(), sums.edges.end(),
                                                      t.begin + kSettleFrames);
                t.countFrom = settled == sums.edges.end() ? t.end : std::min(*settled, t.end);
            }
            tiles.push_back(t);
        }
    }

    // Vector pass over the common length, then each tile's own remainder.
    for (size_t first = 0; first < tiles.size(); first += kLanes) {
        const int count = static_cast<int>(std::min<size_t>(kLanes, tiles.size() - first));
        std::array<Tile*, kLanes> group{};
        int64_t common = std::numeric_limits<int64_t>::max();
        for (int l = 0; l < count; ++l) {
            group[static_cast<size_t>(l)] = &tiles[first + static_cast<size_t>(l)];
            common = std::min(common, group[static_cast<size_t>(l)]->end -
                                          group[static_cast<size_t>(l)]->begin);
        }
        runLanes(group.data(), count, common, sums);
        for (int l = 0; l < count; ++l) {
            Tile& t = *group[static_cast<size_t>(l)];
            runScalar(t, t.begin + common, t.end, t.countFrom, sums);
        }
    }

    // The heads the vector pass did not count, from the true history of the tile before.
    for (size_t i = static_cast<size_t>(channelCount); i < tiles.size(); ++i) {
        Tile head = tiles[i];
        head.state = tiles[i - static_cast<size_t>(channelCount)].state;
        runScalar(head, head.begin, head.countFrom, head.begin, sums);
    }
}

// 10 · log10 or 20 · log10 of a linear figure, raised first to the smallest positive float.
double decibels(double value, double factor) {
    return factor * std::log10(std::max(value, double(std::numeric_limits<float>::denorm_min())));
}

double mean(const std::vector<double>& values) {
    if (values.empty()) return 0.0;
    return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
}

}  // namespace

AudioStats measureLoudness(const float* const* channels, int channelCount, uint32_t frameCount,
                           float sampleRate) {
    const int64_t frames = channelCount > 0 ? int64_t(frameCount) : 0;
    const auto framesOf = [](float seconds) {
        return static_cast<int64_t>(seconds);  // Int(): truncation
    };
    const int64_t win = framesOf(sampleRate * 0.1f);
    const int64_t hop = framesOf(sampleRate * 0.05f);
    const int64_t block = framesOf(sampleRate * 0.4f);

    const WindowSeries rmsWindows(frames, win, hop);
    const WindowSeries blocks(frames, block, win);

    SegmentSums sums;
    sums.edges = segmentEdges(frames, rmsWindows, blocks);
    sums.raw.assign(sums.edges.size(), 0.0);
    sums.weighted.assign(sums.edges.size(), 0.0);
    if (frames > 0) accumulate(channels, channelCount, frames, sums);

    // Loud-part RMS: the loudest 5 % (at least one) of the 100 ms RMS values.
    std::vector<double> rmsSeries;
    rmsSeries.reserve(static_cast<size_t>(rmsWindows.count));
    for (int64_t k = 0; k < rmsWindows.count; ++k) {
        const int64_t s = rmsWindows.start(k);
        const double sum = sums.sum(sums.raw, s, s + win);
        rmsSeries.push_back(std::sqrt(sum / (double(win) * double(channelCount))));
    }
    double rmsLinear = 0.0;
    if (!rmsSeries.empty()) {
        const auto loudest = std::min<size_t>(
            std::max<size_t>(1, static_cast<size_t>(double(rmsSeries.size()) * 0.05)),
            rmsSeries.size());
        // Descending, NaN (from non-finite samples) first, so that the order stays well defined.
        const auto louder = [](double a, double b) {
            return std::isnan(a) ? !std::isnan(b) : a > b;
        };
        std::nth_element(rmsSeries.begin(), rmsSeries.begin() + long(loudest) - 1,
                         rmsSeries.end(), louder);
        double squares = 0.0;
        for (size_t i = 0; i < loudest; ++i) squares += rmsSeries[i] * rmsSeries[i];
        rmsLinear = std::sqrt(squares / double(loudest));
    }

    // Gated loudness over the 400 ms blocks.
    std::vector<double> powers;
    powers.reserve(static_cast<size_t>(blocks.count));
    for (int64_t k = 0; k < blocks.count; ++k) {
        const int64_t s = blocks.start(k);
        powers.push_back(sums.sum(sums.weighted, s, s + block) / double(block));
    }
    std::vector<double> gated;
    std::copy_if(powers.begin(), powers.end(), std::back_inserter(gated),
                 [](double z) { return z > kAbsoluteGate; });
    if (gated.empty()) gated = powers;
    const double relativeGate = kRelativeGate * mean(gated);
    std::vector<double> kept;
    std::copy_if(gated.begin(), gated.end(), std::back_inserter(kept),
                 [&](double z) { return z > relativeGate; });
    if (kept.empty()) kept = std::move(gated);
    const double meanPower = mean(kept);

    AudioStats stats;
    stats.lufs = static_cast<float>(decibels(meanPower, 10.0) - 0.691 - 0.5);
    stats.peak = static_cast<float>(decibels(sums.peak, 20.0));
    stats.rms = static_cast<float>(decibels(rmsLinear, 20.0) + 0.4);
    return stats;
}

}  // namespace korvanta

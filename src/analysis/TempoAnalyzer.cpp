#include "analysis/TempoAnalyzer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>

#include "platform/AudioFileReader.h"
#include "platform/MemoryDecoder.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

namespace {

constexpr double kDefaultTempo = 120.0;
constexpr double kMaxSecondsRead = 120.0;
constexpr uint32_t kMinFramesRead = 1024;  // at or below this many frames: the default tempo
constexpr int kBlockSize = BPMAnalyzer::BASE_SPLIT_SAMPLE_SIZE;
constexpr int kTempoStep = 2;
constexpr int kCandidateCount = (BPMAnalyzer::MAX_BPM - BPMAnalyzer::MIN_BPM) / kTempoStep + 1;  // 51
constexpr size_t kCacheCapacity = 25;

// π rounded down to single precision. It is part of the estimate's definition: the phases of long
// envelopes depend on it, and with them which of two near-equal candidates wins.
constexpr float kPi = 3.1415925f;

// Sums with eight independent partial sums: the compiler keeps them in vector registers without
// reassociating anything itself, and the result is closer to the exact sum than a running total.
float dotProduct(const float* a, const float* b, size_t n) {
    float acc[8] = {};
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int l = 0; l < 8; ++l) acc[l] += a[i + l] * b[i + l];
    }
    for (; i < n; ++i) acc[0] += a[i] * b[i];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
}

// The most recently used tempos by path. Created on first use and never destroyed, so that a
// detection still running on another thread at process exit finds it intact.
class TempoCache {
public:
    static TempoCache& shared() {
        static TempoCache* cache = new TempoCache();
        return *cache;
    }

    std::optional<double> find(const std::string& key) {
        std::lock_guard guard(mutex_);
        const auto it = index_.find(key);
        if (it == index_.end()) return std::nullopt;
        entries_.splice(entries_.begin(), entries_, it->second);  // now the most recent
        return it->second->second;
    }

    void store(const std::string& key, double tempo) {
        std::lock_guard guard(mutex_);
        if (const auto it = index_.find(key); it != index_.end()) {
            it->second->second = tempo;
            entries_.splice(entries_.begin(), entries_, it->second);
            return;
        }
        entries_.emplace_front(key, tempo);
        index_[key] = entries_.begin();
        if (entries_.size() > kCacheCapacity) {
            index_.erase(entries_.back().first);
            entries_.pop_back();
        }
    }

    void clear() {
        std::lock_guard guard(mutex_);
        index_.clear();
        entries_.clear();
    }

private:
    using Entries = std::list<std::pair<std::string, double>>;  // most recent first
    std::mutex mutex_;
    Entries entries_;
    std::unordered_map<std::string, Entries::iterator> index_;
};

// Block RMS values divided by the largest when that is above 0; `blockAt(b)` gives the samples of
// block b (blockSize of them).
template <typename BlockAt>
std::vector<float> normalisedEnvelope(size_t blocks, size_t blockSize, BlockAt&& blockAt) {
    std::vector<float> values(blocks);
    float largest = 0.0f;
    for (size_t b = 0; b < blocks; ++b) {
        const float* x = blockAt(b);
        const float meanSquare = dotProduct(x, x, blockSize) / static_cast<float>(blockSize);
        const float rms = meanSquare > 0.0f ? std::sqrt(meanSquare) : 0.0f;
        values[b] = rms;
        if (rms > largest) largest = rms;
    }
    if (largest > 0.0f) {
        for (float& v : values) v /= largest;
    }
    return values;
}

// How many frames of a song of `length` frames at `sampleRate` the estimate uses: at most its
// first 120 seconds.
int64_t framesToRead(double sampleRate, int64_t length) {
    const double limit = sampleRate * kMaxSecondsRead;
    const int64_t maxFrames = (limit > 0.0 && limit < 4294967296.0) ? static_cast<int64_t>(limit) : 0;
    return std::min<int64_t>(length, maxFrames);
}

// The estimate for `frames` frames of planar samples. The envelope is that of the mono mix (the
// channel sum, in channel order, scaled by 1 / channelCount), mixed one block at a time.
double estimateFromChannels(const float* const* channels, int channelCount, size_t frames,
                            double sampleRate) {
    if (frames <= kMinFramesRead || channelCount <= 0) return kDefaultTempo;
    const auto block = static_cast<size_t>(kBlockSize);
    if (frames <= block) return kDefaultTempo;
    const size_t blocks = frames / block;
    std::vector<float> envelope;
    if (channelCount == 1) {
        envelope = normalisedEnvelope(blocks, block, [&](size_t b) { return channels[0] + b * block; });
    } else {
        std::vector<float> mono(block);
        const float scale = 1.0f / static_cast<float>(channelCount);
        envelope = normalisedEnvelope(blocks, block, [&](size_t b) {
            const size_t first = b * block;
            std::copy_n(channels[0] + first, block, mono.begin());
            for (int c = 1; c < channelCount; ++c) {
                const float* other = channels[c] + first;
                for (size_t i = 0; i < block; ++i) mono[i] += other[i];
            }
            for (size_t i = 0; i < block; ++i) mono[i] *= scale;
            return mono.data();
        });
    }
    return BPMAnalyzer::estimateFromEnvelope(envelope, kBlockSize, sampleRate);
}

// The estimate for an opened song, uncached. Only reading fails; everything else that stands in
// the way of an estimate gives the default tempo.
Result<double> estimateReader(AudioFileReader& reader) {
    const AudioFormat format = reader.processingFormat();
    const int64_t wanted = framesToRead(format.sampleRate, reader.length());
    if (wanted <= static_cast<int64_t>(kMinFramesRead)) return kDefaultTempo;
    const auto frames = static_cast<uint32_t>(wanted);

    auto buffer = PcmBuffer::allocate(format, frames);
    if (!buffer) return kDefaultTempo;
    reader.setFramePosition(0);
    if (auto status = reader.read(*buffer, frames); !status) return status.error();
    return estimateFromChannels(buffer->floatChannelData(), buffer->channelCount(),
                                buffer->frameLength(), format.sampleRate);
}

// The estimate for a file, uncached. Only opening and reading fail.
Result<double> estimateFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return kDefaultTempo;

    auto opened = AudioFileReader::open(path);
    if (!opened) return opened.error();
    return estimateReader(*opened.value());
}

// Caches what `estimate` gives under `key` when it is a tempo in range.
template <typename Estimate>
Result<int> cachedTempo(const std::string& key, Estimate&& estimate) {
    if (auto cached = TempoCache::shared().find(key)) return static_cast<int>(std::trunc(*cached));

    Result<double> estimated = estimate();
    if (!estimated) return estimated.error();
    const double tempo = estimated.value();
    if (tempo >= BPMAnalyzer::MIN_BPM && tempo <= BPMAnalyzer::MAX_BPM) {
        TempoCache::shared().store(key, tempo);
    }
    return static_cast<int>(std::trunc(tempo));
}

}  // namespace

std::vector<float> BPMAnalyzer::envelope(std::span<const float> samples, int blockSize) {
    if (blockSize < 1 || samples.size() <= static_cast<size_t>(blockSize)) return {};
    const auto block = static_cast<size_t>(blockSize);
    return normalisedEnvelope(samples.size() / block, block,
                              [&](size_t b) { return samples.data() + b * block; });
}

double BPMAnalyzer::estimateFromEnvelope(std::span<const float> envelope, int blockSize,
                                         double sampleRate) {
    if (envelope.empty() || blockSize < 1 || !(sampleRate > 0.0)) return kDefaultTempo;
    const float envelopeRate = static_cast<float>(sampleRate) / static_cast<float>(blockSize);
    if (!std::isfinite(envelopeRate) || !(envelopeRate > 0.0f)) return kDefaultTempo;

    const size_t n = envelope.size();
    std::vector<float> sines(n), cosines(n);
    double bestTempo = 0.0;
    float bestMagnitude = 0.0f;  // only a positive magnitude can win
    for (int i = 0; i < kCandidateCount; ++i) {
        const float tempo = static_cast<float>(MIN_BPM + kTempoStep * i);
        const float cyclesPerValue = (tempo / 60.0f) / envelopeRate;
        for (size_t k = 0; k < n; ++k) {
            const float phase = 2.0f * kPi * static_cast<float>(k) * cyclesPerValue;
            sines[k] = std::sin(phase);
            cosines[k] = std::cos(phase);
        }
        const float s = dotProduct(envelope.data(), sines.data(), n);
        const float c = dotProduct(envelope.data(), cosines.data(), n);
        const float magnitude = std::sqrt(s * s + c * c);
        if (std::isfinite(magnitude) && magnitude > bestMagnitude) {
            bestMagnitude = magnitude;
            bestTempo = tempo;
        }
    }
    return bestMagnitude > 0.0f ? bestTempo : kDefaultTempo;
}

Result<int> BPMAnalyzer::detectTempo(const std::filesystem::path& path) {
    return detectTempo(path, path.string());
}

Result<int> BPMAnalyzer::detectTempo(const std::filesystem::path& readFrom, const std::string& key) {
    return cachedTempo(key, [&] { return estimateFile(readFrom); });
}

Result<int> BPMAnalyzer::detectTempo(AudioFileReader& reader, const std::string& key) {
    return cachedTempo(key, [&] { return estimateReader(reader); });
}

Result<int> BPMAnalyzer::detectTempo(const DecodedAudio& audio, const std::string& key) {
    return cachedTempo(key, [&]() -> Result<double> {
        const int64_t frames = framesToRead(audio.format.sampleRate, audio.length);
        std::vector<const float*> channels;
        for (const auto& samples : audio.channels) channels.push_back(samples.data());
        return estimateFromChannels(channels.data(), static_cast<int>(channels.size()),
                                    static_cast<size_t>(std::max<int64_t>(frames, 0)),
                                    audio.format.sampleRate);
    });
}

void BPMAnalyzer::clearCache() { TempoCache::shared().clear(); }

}  // namespace korvanta

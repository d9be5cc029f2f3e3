#include "reference/SpectralAnalyzer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <math.h>  // exp10f
#include <limits>
#include <memory>
#include <optional>

#include "platform/AudioFileReader.h"
#include "reference/AverageSpectrum.h"

namespace korvanta {

namespace {

// Decibels of a linear magnitude, floored at kMagnitudeFloor; NaN reads as the floor.
float magnitudeDb(float magnitude) {
    return 20.0f * std::log10(magnitude > kMagnitudeFloor ? magnitude : kMagnitudeFloor);
}

// trunc(x) for a bin index computed in float, saturated far outside the spectrum so that the
// conversion is always defined. Precondition: x is not NaN.
int64_t truncatedBin(float x) {
    constexpr float kLimit = 1.0e9f;
    return static_cast<int64_t>(std::clamp(x, -kLimit, kLimit));
}

float meanOf(const std::vector<float>& values, int64_t first, int64_t last) {
    double sum = 0.0;
    for (int64_t k = first; k <= last; ++k) sum += values[static_cast<size_t>(k)];
    return static_cast<float>(sum / static_cast<double>(last - first + 1));
}

SpectralProfile profileFromSpectrum(const std::optional<std::vector<float>>& average,
                                    std::string name) {
    SpectralProfile profile;
    profile.referenceFileName = std::move(name);
    if (average) {
        const std::vector<float>& avg = *average;
        profile.frequencies.reserve(kProfilePointCount);
        profile.magnitudes.reserve(kProfilePointCount);
        for (int i = 0; i < kProfilePointCount; ++i) {
            const float exponent = static_cast<float>(i) / 99.0f * 3.0f + 1.30103f;
            const float f = ::exp10f(exponent);
            const int64_t bin = truncatedBin(f * static_cast<float>(kSpectrumFftSize) /
                                             kProfileAxisSampleRate);
            if (bin >= kSpectrumBinCount) continue;
            const int64_t first = std::max<int64_t>(bin - 3, 0);
            const int64_t last = std::min<int64_t>(bin + 3, kSpectrumBinCount - 1);
            profile.frequencies.push_back(f);
            profile.magnitudes.push_back(magnitudeDb(meanOf(avg, first, last)));
        }
    }
    profile.dateCreated =
        std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    return profile;
}

std::vector<float> bandsFromSpectrum(const std::optional<std::vector<float>>& average,
                                     std::span<const float> centres, float sampleRate) {
    std::vector<float> levels(centres.size(), 0.0f);
    if (!average || !std::isfinite(sampleRate) || !(sampleRate > 0.0f)) return levels;
    const std::vector<float>& avg = *average;
    const auto fftSize = static_cast<float>(kSpectrumFftSize);

    for (size_t b = 0; b < centres.size(); ++b) {
        const float f = centres[b];
        const float loBin = (f - 0.3f * f) * fftSize / sampleRate;
        const float hiBin = (f + 0.3f * f) * fftSize / sampleRate;
        if (std::isnan(loBin) || std::isnan(hiBin)) continue;
        const int64_t lo = std::max<int64_t>(truncatedBin(loBin), 0);
        const int64_t hi = std::min<int64_t>(truncatedBin(hiBin), kSpectrumBinCount - 1);
        // No bin in the band (it starts above the Nyquist bin): silence, level 0.
        if (lo > hi) continue;
        const float db = magnitudeDb(meanOf(avg, lo, hi));
        const float scaled = (db + 20.0f) / 70.0f * 10.0f;
        levels[b] = scaled > 10.0f ? 10.0f : (scaled > 0.0f ? scaled : 0.0f);
    }
    return levels;
}

}  // namespace

SpectralProfile analyzeBuffer(const PcmBuffer& buffer, std::string name) {
    return profileFromSpectrum(averageMagnitudeSpectrum(buffer), std::move(name));
}

std::vector<float> analyzeBands(const PcmBuffer& buffer, std::span<const float> centres,
                                float sampleRate) {
    return bandsFromSpectrum(averageMagnitudeSpectrum(buffer), centres, sampleRate);
}

uint32_t chunkFrameCount(double sampleRate) {
    const double frames = sampleRate * 10.0;
    if (!(frames >= 1.0)) return 1;
    if (frames >= static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(frames);
}

int64_t plannedChunkCount(int64_t length, uint32_t chunkFrames) {
    if (length <= 0 || chunkFrames == 0) return 0;
    return static_cast<int64_t>(
        std::ceil(static_cast<float>(length) / static_cast<float>(chunkFrames)));
}

Result<SpectrumScan> scanSpectrum(const std::filesystem::path& path, bool wantProfiles,
                                  bool wantBands) {
    auto opened = AudioFileReader::open(path);
    if (!opened) return opened.error();
    AudioFileReader& reader = *opened.value();

    const AudioFormat format = reader.processingFormat();
    const auto bandRate = static_cast<float>(format.sampleRate);
    const int64_t length = reader.length();
    const uint32_t chunkFrames = chunkFrameCount(format.sampleRate);
    const std::string fileName = path.filename().string();

    SpectrumScan scan;
    scan.plannedChunks = plannedChunkCount(length, chunkFrames);
    scan.bandSum.assign(kBandCentres.size(), 0.0f);
    const std::string ofCount = "/" + std::to_string(scan.plannedChunks);

    reader.setFramePosition(0);
    // One buffer serves every chunk: the first is the largest.
    std::unique_ptr<PcmBuffer> buffer;
    for (int64_t c = 1; c <= scan.plannedChunks; ++c) {
        const int64_t left = std::max<int64_t>(length - reader.framePosition(), 0);
        const auto n = static_cast<uint32_t>(std::min<int64_t>(left, chunkFrames));
        if (n == 0) break;
        if (!buffer || buffer->frameCapacity() < n) {
            buffer.reset();
            buffer = PcmBuffer::allocate(format, n);
            if (!buffer) continue;  // the next step tries the same frames again
        }
        if (auto read = reader.read(*buffer, n); !read) return read.error();

        const auto average = averageMagnitudeSpectrum(*buffer);
        if (wantProfiles) {
            scan.chunkProfiles.push_back(
                profileFromSpectrum(average, fileName + " chunk " + std::to_string(c) + ofCount));
        }
        if (wantBands) {
            const auto levels = bandsFromSpectrum(average, kBandCentres, bandRate);
            for (size_t b = 0; b < levels.size(); ++b) scan.bandSum[b] += levels[b];
        }
    }
    return scan;
}

std::vector<float> meanBandLevels(const SpectrumScan& scan) {
    std::vector<float> levels = scan.bandSum;
    if (scan.plannedChunks > 0) {
        const auto planned = static_cast<float>(scan.plannedChunks);
        for (float& v : levels) v /= planned;
    }
    return levels;
}

Result<std::vector<float>> analyze12BandSpectrum(const std::filesystem::path& path) {
    auto scan = scanSpectrum(path, false, true);
    if (!scan) return scan.error();
    return meanBandLevels(scan.value());
}

}  // namespace korvanta

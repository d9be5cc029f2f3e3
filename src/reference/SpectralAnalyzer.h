// Tonal balance of audio buffers and files: the 100-point display profile and the 12-band spectrum
// on a 0 … 10 scale, both built from the averaged spectrum of AverageSpectrum.h.
//
// Everything here keeps no state between calls and may run on any number of threads at once.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/PcmBuffer.h"
#include "reference/SpectralProfile.h"

namespace korvanta {

// Centres of the twelve analysis bands, Hz: the equaliser's default band frequencies, so entry i
// of every 12-band spectrum describes the region of equaliser band i.
inline constexpr std::array<float, 12> kBandCentres = {
    32.0f, 63.0f, 125.0f, 250.0f, 500.0f, 1000.0f, 2000.0f, 4000.0f, 8000.0f, 12000.0f, 16000.0f,
    20000.0f};

// The rate the profile's frequency axis assumes whatever the analysed buffer's rate is.
inline constexpr float kProfileAxisSampleRate = 44100.0f;
inline constexpr int kProfilePointCount = 100;
// Magnitudes are floored here before taking decibels: silence reads −200 dB.
inline constexpr float kMagnitudeFloor = 1e-10f;

// Display profile of channel 0 of `buffer`. For i = 0 … 99 the point f = 10^(i/99·3 + 1.30103)
// (20 Hz … 20 kHz, single precision) maps to bin trunc(f·8192/44100) — 44,100 Hz whatever the
// buffer's rate; points whose bin is 4096 or above are left out. Its magnitude is
// 20·log10(max(m, 1e-10)) dB with m the mean of the averaged spectrum over bin−3 … bin+3 (the bins
// that exist). `referenceFileName` = name, `dateCreated` = now (whole microseconds),
// `spectrum12Band` empty. A buffer with no channel gives empty lists.
SpectralProfile analyzeBuffer(const PcmBuffer& buffer, std::string name);

// Level of each band of channel 0 of `buffer` on the 0 … 10 scale, one per entry of `centres`.
// Band f covers bins trunc(0.7·f·8192/sampleRate) … trunc(1.3·f·8192/sampleRate), clipped to
// 0 … 4095; its level is the mean of the averaged spectrum there, in dB, mapped by
// (dB + 20) / 70 · 10 and clamped to 0 … 10 (−20 dB or less gives 0, +50 dB or more gives 10).
// A band that holds no bin — its lower bound beyond bin 4095, as the upper bands are at rates of
// 28 kHz and below, or a rate that is not a positive number — reads as silence: 0.
// A buffer with no channel gives zeros.
std::vector<float> analyzeBands(const PcmBuffer& buffer, std::span<const float> centres,
                                float sampleRate);

// Frames read per chunk of a file at `sampleRate`: 10 seconds, as an unsigned 32-bit count
// (at least 1).
uint32_t chunkFrameCount(double sampleRate);
// Chunks a file of `length` frames is planned in: ⌈length / chunkFrames⌉ in single precision
// (0 for an empty file). For lengths beyond 2^24 frames the float rounding can plan one chunk
// fewer than the frames need; the frames beyond the planned chunks are then not analysed.
int64_t plannedChunkCount(int64_t length, uint32_t chunkFrames);

// The results of one read through a file in chunks of chunkFrameCount() frames.
struct SpectrumScan {
    int64_t plannedChunks = 0;  // plannedChunkCount() of the file
    // Display profiles, one per chunk that was read, named "<file> chunk c/C" (when asked for).
    std::vector<SpectralProfile> chunkProfiles;
    // Element-wise float sum over the chunks read of analyzeBands(chunk, kBandCentres, file's rate)
    // (when asked for); 12 zeros when no chunk was read.
    std::vector<float> bandSum;
};

// Reads `path` from frame 0 in planned chunk steps c = 1 … C; step c reads
// min(length − position, chunkFrames) frames and the walk stops early when nothing is left. A step
// whose buffer cannot be allocated reads nothing and the next step tries the same frames again.
// Memory: one chunk of the file's channels.
// Errors: those of opening and reading the file, passed on unchanged.
Result<SpectrumScan> scanSpectrum(const std::filesystem::path& path, bool wantProfiles,
                                  bool wantBands);

// The 12-band spectrum of a scan with bands: bandSum divided by the planned chunk count (12 zeros
// when none was planned).
std::vector<float> meanBandLevels(const SpectrumScan& scan);

// The file's 12-band spectrum: the chunk band levels summed and divided by the planned chunk
// count (so a chunk that could not be read counts as silence). An empty file gives 12 zeros.
// Errors: those of opening and reading the file, passed on unchanged.
Result<std::vector<float>> analyze12BandSpectrum(const std::filesystem::path& path);

}  // namespace korvanta

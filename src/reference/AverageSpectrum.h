// The averaged magnitude spectrum of one buffer: the framed, windowed 8192-point FFT that both the
// display profile and the 12-band reduction of a reference analysis are built from.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "platform/PcmBuffer.h"

namespace korvanta {

inline constexpr int kSpectrumFftSize = 8192;                   // samples per frame
inline constexpr int kSpectrumBinCount = kSpectrumFftSize / 2;  // 4096 packed bins
inline constexpr int kSpectrumHopSize = 2048;                   // frame advance, samples

// The analysis window: w[n] = 0.8165 · (1 − cos(2π·n / 8192)), n = 0 … 8191, in single precision
// (the Hann window scaled so that its mean square is about 1).
const std::vector<float>& spectrumWindow();

// The number M the frame sum is divided by, for a block of `frameCount` samples:
// max(trunc((frameCount − 8192) / 2048), 1). At most M frames are taken, and only those that fit
// whole, so a block shorter than 8192 samples is divided by 1 with no frame in the sum.
int64_t spectrumFrameLimit(int64_t frameCount);

// Averaged packed magnitude spectrum of `frameCount` samples starting at `samples`.
// Frames start every 2048 samples; frame j is used while j·2048 + 8192 ≤ frameCount and j < M.
// Each frame is multiplied by spectrumWindow() and transformed (X = its DFT); entry k, 1 ≤ k < 4096,
// is 2·|X[k]|, and entry 0 packs DC and Nyquist as √((2·X[0])² + (2·X[4096])²). The per-frame
// spectra are summed and the sum is divided by M as a float. Returns 4096 entries (all zero when no
// frame fits), or nullopt when the FFT cannot be set up.
// Thread-safe: any number of calls may run at once; each uses its own working arrays.
std::optional<std::vector<float>> averageMagnitudeSpectrum(const float* samples, size_t frameCount);

// The same for channel 0 of `buffer` over its frame length; other channels are ignored.
// nullopt when the buffer has no channel or the FFT cannot be set up.
std::optional<std::vector<float>> averageMagnitudeSpectrum(const PcmBuffer& buffer);

}  // namespace korvanta

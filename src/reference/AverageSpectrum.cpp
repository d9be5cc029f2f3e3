#include "reference/AverageSpectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>

namespace korvanta {

namespace {

struct FftwFree {
    void operator()(void* p) const { fftwf_free(p); }
};
using RealArray = std::unique_ptr<float, FftwFree>;
using ComplexArray = std::unique_ptr<fftwf_complex, FftwFree>;

RealArray allocateReal(size_t n) { return RealArray(fftwf_alloc_real(n)); }
ComplexArray allocateComplex(size_t n) { return ComplexArray(fftwf_alloc_complex(n)); }

// The FFTW planner is not thread-safe, executing a finished plan is. The one forward plan is made
// under this lock on first use and kept for the life of the process; every analysis executes it on
// its own arrays from fftwf_malloc, which have the alignment the plan was made for.
std::mutex plannerMutex;

fftwf_plan forwardPlan() {
    static fftwf_plan plan = [] {
        std::lock_guard lock(plannerMutex);
        RealArray in = allocateReal(kSpectrumFftSize);
        ComplexArray out = allocateComplex(kSpectrumBinCount + 1);
        if (!in || !out) return fftwf_plan{};
        // FFTW_ESTIMATE leaves the arrays alone and picks the same algorithm in every run, so
        // the same input always gives bit-identical spectra.
        return fftwf_plan_dft_r2c_1d(kSpectrumFftSize, in.get(), out.get(), FFTW_ESTIMATE);
    }();
    return plan;
}

}  // namespace

const std::vector<float>& spectrumWindow() {
    static const std::vector<float> window = [] {
        std::vector<float> w(kSpectrumFftSize);
        const float step = 2.0f * std::numbers::pi_v<float> / static_cast<float>(kSpectrumFftSize);
        for (int n = 0; n < kSpectrumFftSize; ++n) {
            w[static_cast<size_t>(n)] = 0.8165f * (1.0f - std::cos(step * static_cast<float>(n)));
        }
        return w;
    }();
    return window;
}

int64_t spectrumFrameLimit(int64_t frameCount) {
    return std::max<int64_t>((frameCount - kSpectrumFftSize) / kSpectrumHopSize, 1);
}

std::optional<std::vector<float>> averageMagnitudeSpectrum(const float* samples, size_t frameCount) {
    const fftwf_plan plan = forwardPlan();
    if (!plan) return std::nullopt;

    std::vector<float> sum(kSpectrumBinCount, 0.0f);
    const int64_t limit = spectrumFrameLimit(static_cast<int64_t>(frameCount));
    const auto fits = [&](int64_t j) {
        return static_cast<uint64_t>(j) * kSpectrumHopSize + kSpectrumFftSize <= frameCount;
    };

    if (samples && fits(0)) {
        RealArray in = allocateReal(kSpectrumFftSize);
        ComplexArray out = allocateComplex(kSpectrumBinCount + 1);
        if (!in || !out) return std::nullopt;
        float* frame = in.get();
        fftwf_complex* bins = out.get();
        const float* window = spectrumWindow().data();
        float* acc = sum.data();

        for (int64_t j = 0; j < limit && fits(j); ++j) {
            const float* source = samples + static_cast<size_t>(j) * kSpectrumHopSize;
            for (int n = 0; n < kSpectrumFftSize; ++n) frame[n] = source[n] * window[n];
            fftwf_execute_dft_r2c(plan, frame, bins);

            // The packed form doubles every term: bin 0 carries DC and Nyquist together.
            const float dc = 2.0f * bins[0][0];
            const float nyquist = 2.0f * bins[kSpectrumBinCount][0];
            acc[0] += std::sqrt(dc * dc + nyquist * nyquist);
            for (int k = 1; k < kSpectrumBinCount; ++k) {
                const float re = 2.0f * bins[k][0];
                const float im = 2.0f * bins[k][1];
                acc[k] += std::sqrt(re * re + im * im);
            }
        }
    }

    const auto divisor = static_cast<float>(limit);
    for (float& v : sum) v /= divisor;
    return sum;
}

std::optional<std::vector<float>> averageMagnitudeSpectrum(const PcmBuffer& buffer) {
    if (buffer.channelCount() < 1) return std::nullopt;
    return averageMagnitudeSpectrum(buffer.channel(0), buffer.frameLength());
}

}  // namespace korvanta

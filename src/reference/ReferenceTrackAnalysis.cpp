#include "reference/ReferenceTrackAnalysis.h"

#include <algorithm>
#include <chrono>

#include "engine/LoudnessMeter.h"
#include "reference/SpectralAnalyzer.h"

namespace korvanta {

namespace {

// The whole-file profile from the chunks read: the first chunk's frequencies and the element-wise
// mean of the chunks' magnitudes, sized like the first chunk's list.
// Errors: "ReferenceTrack" 1 "Failed to analyze track" when no chunk was read.
Result<SpectralProfile> profileOfChunks(const SpectrumScan& scan,
                                        const std::filesystem::path& path) {
    const std::vector<SpectralProfile>& chunks = scan.chunkProfiles;
    if (chunks.empty()) {
        return Error{errc::kReferenceTrack, errc::kTrackNotAnalyzed, "Failed to analyze track"};
    }
    SpectralProfile profile;
    profile.frequencies = chunks.front().frequencies;
    profile.magnitudes.assign(chunks.front().magnitudes.size(), 0.0f);
    for (const SpectralProfile& chunk : chunks) {
        const size_t n = std::min(chunk.magnitudes.size(), profile.magnitudes.size());
        for (size_t i = 0; i < n; ++i) profile.magnitudes[i] += chunk.magnitudes[i];
    }
    const auto kept = static_cast<float>(chunks.size());
    for (float& m : profile.magnitudes) m /= kept;
    profile.referenceFileName = path.filename().string();
    profile.dateCreated =
        std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    return profile;
}

Result<TrackSpectra> spectraOf(const std::filesystem::path& path) {
    auto scan = scanSpectrum(path, true, true);
    if (!scan) return scan.error();
    auto profile = profileOfChunks(scan.value(), path);
    if (!profile) return profile.error();
    return TrackSpectra{std::move(profile).value(), meanBandLevels(scan.value())};
}

}  // namespace

Result<SpectralProfile> analyzeTrack(const std::filesystem::path& path) {
    if (auto stats = analyzeAudioFile(path); !stats) return stats.error();
    auto scan = scanSpectrum(path, true, false);
    if (!scan) return scan.error();
    return profileOfChunks(scan.value(), path);
}

Result<TrackSpectra> analyzeTrackSpectra(const std::filesystem::path& path) {
    if (auto stats = analyzeAudioFile(path); !stats) return stats.error();
    return spectraOf(path);
}

Result<ReferenceAnalysis> analyzeReferenceTrack(const std::filesystem::path& path,
                                                const LoudnessMeasuredCallback& onMeasured) {
    auto stats = analyzeAudioFile(path);
    if (!stats) return stats.error();
    if (onMeasured) onMeasured(stats.value());

    auto spectra = spectraOf(path);
    if (!spectra) return spectra.error();
    ReferenceAnalysis result{stats.value(), std::move(spectra.value().profile)};
    result.profile.spectrum12Band = std::move(spectra.value().spectrum12Band);
    return result;
}

}  // namespace korvanta

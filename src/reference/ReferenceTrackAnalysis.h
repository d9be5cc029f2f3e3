// Whole-file analyses of a song: its loudness-checked display profile, and the reference analysis
// whose result becomes the stored reference profile.
//
// Everything here keeps no state between calls and may run on any number of threads at once.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "engine/AudioStats.h"
#include "platform/Error.h"
#include "reference/SpectralProfile.h"

namespace korvanta {

// Profile of a whole file without a 12-band spectrum. The file is first measured with
// analyzeAudioFile (the figures are not used; its failure is passed on), then read in 10-second
// chunks; each chunk's analyzeBuffer profile is named "<file> chunk c/C". The result has the first
// chunk's frequencies, the element-wise mean in dB of the chunks' magnitudes,
// `referenceFileName` = the file's last path component, `dateCreated` = now.
// Errors: those of analyzeAudioFile and of opening or reading the file, passed on unchanged;
//   "ReferenceTrack" 1 "Failed to analyze track" when no chunk could be read.
Result<SpectralProfile> analyzeTrack(const std::filesystem::path& path);

// analyzeTrack and analyze12BandSpectrum of one file from a single read through it: the same
// results and the same errors (those of analyzeTrack first) as calling both.
struct TrackSpectra {
    SpectralProfile profile;         // as analyzeTrack, `spectrum12Band` empty
    std::vector<float> spectrum12Band;  // as analyze12BandSpectrum
};
Result<TrackSpectra> analyzeTrackSpectra(const std::filesystem::path& path);

// A reference track as it is loaded: its loudness and its profile with the 12-band spectrum.
struct ReferenceAnalysis {
    AudioStats stats;         // analyzeAudioFile of the file; stats.lufs is the reference loudness
    SpectralProfile profile;  // analyzeTrack's lists, spectrum12Band = analyze12BandSpectrum
};

// Called on the analysing thread as soon as the loudness is measured, before the spectrum is read,
// so that a caller can publish the loudness even when the spectral part then fails.
using LoudnessMeasuredCallback = std::function<void(const AudioStats&)>;

// Measures `path` (analyzeAudioFile), reports the figures to `onMeasured` (when given), then
// builds the profile lists as analyzeTrack does and the 12-band spectrum as
// analyze12BandSpectrum does, reading the file once for both. The profile is named after the
// file's last path component and dated now. Storing it and publishing it are the caller's.
// Errors: as analyzeTrack.
Result<ReferenceAnalysis> analyzeReferenceTrack(const std::filesystem::path& path,
                                                const LoudnessMeasuredCallback& onMeasured = {});

}  // namespace korvanta

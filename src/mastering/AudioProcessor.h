// Turns one song into one rendering: a loudness master ("_master.wav") or an equalised final
// rendering ("_final.wav"), both in the application's private temporary folder.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "eq/EQSettings.h"
#include "mastering/MasteringSettings.h"
#include "platform/ProgressUpdater.h"
#include "platform/Error.h"

namespace korvanta {

// "KorvantaApp" 5: the input holds no measurable loudness (digital silence, or shorter than one
// 400 ms block). Such a song is not mastered: any gain would be a guess, and silence has nothing
// to master.
inline constexpr int kUnmeasurableLoudness = 5;

class AudioProcessor {
public:
    using CancellationCheck = std::function<bool()>;

    // Masters `input` (any readable format; only ever read) to `settings.targetLUFS` under the
    // ceiling `settings.limitThreshold`, in at most three measured passes. Runs in final mode
    // instead — the equaliser rendering of `eq` into a 32-bit float "_final.wav" — when
    // `finalMode` is true and `eq` is given and enabled.
    // Progress goes only through `progress` (may be null) as fractions 0…1 of this song.
    // `isCancelled` (may be empty) is asked before each step and each rendered chunk.
    // Errors: "KorvantaApp" 100 when cancelled; 3 "Output file was not created"; 5 (above);
    // errors of measuring, tempo estimation, rendering and file operations passed on unchanged.
    // Blocking: call from a worker thread.
    static Result<DJMasteringResult> masterAudioFile(
        const std::filesystem::path& input, const DJMasteringSettings& settings, bool finalMode,
        const std::optional<EQSettings>& eq, const std::shared_ptr<ProgressUpdater>& progress,
        const CancellationCheck& isCancelled);

    // The song's name for renderings: the input's file name without extension, cut at the first
    // "_master", then at the first "_final" ("Mix_master_final.wav" → "Mix").
    static std::string renderingBaseName(const std::filesystem::path& input);

    // The first pass's gain in dB for a song measured at `inputLufs` with sample peak
    // `inputPeakDb`: the distance to the target plus an extra that anticipates the limiter.
    static double firstGainDb(double inputLufs, double inputPeakDb, double targetLufs);

    // The correction added when a song must get `a` dB quieter (a ≥ 0); never positive.
    static double reductionCorrection(double a, double targetLufs);

    // The gain change in dB after a pass measured at `measuredLufs`.
    static double correctionGainDb(double measuredLufs, double targetLufs);
};

}  // namespace korvanta

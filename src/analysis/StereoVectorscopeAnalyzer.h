// Reads the blocks a stereo vectorscope shows from one file: a first snapshot of four windows
// across the song, then 1,024 frames at the playing position, equalised like the player when its
// settings are active, thinned to about 128 points.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "analysis/VectorscopePoints.h"
#include "engine/AudioEngine.h"
#include "eq/EQSettings.h"
#include "platform/AudioFileReader.h"

namespace korvanta {

// One thread at a time (the vectorscope's worker).
class StereoVectorscopeAnalyzer {
public:
    static constexpr uint32_t kBlockFrames = 1024;
    static constexpr uint32_t kSnapshotWindowFrames = 4096;

    // Opens its own reader of `path` (the player reads the same file through another); a file
    // that does not open gives an analyser that yields nothing.
    explicit StereoVectorscopeAnalyzer(const std::filesystem::path& path, AudioEngine* engine = nullptr);

    bool hasFile() const { return reader_ != nullptr; }
    // At least two channels and one frame: anything to show.
    bool canShow() const;

    // Four windows of min(length, 4,096) frames starting at 0, ¼, ½ and ¾ of the length; none
    // when nothing can be shown or every window fails to read. `settings`: the player's live
    // settings when they are active (see processBlock).
    std::optional<VectorscopePoints> snapshot(const std::optional<EQSettings>& settings);
    // min(1,024, frames left) frames from position ⌊length × progress⌋; none past the end, on a
    // read error, or when nothing can be shown.
    std::optional<VectorscopePoints> blockAt(float progress, const std::optional<EQSettings>& settings);

    // Equalises the pairs (when `settings` is given and has the equaliser or the stereo
    // enhancement on: the engine without keeping state and without soft clipping, in `format`),
    // then thins them. Any thread.
    static VectorscopePoints processBlock(std::vector<float> left, std::vector<float> right,
                                          const std::optional<EQSettings>& settings, const AudioFormat& format,
                                          AudioEngine& engine);
    // The settings a vectorscope applies: the player's when equaliser or enhancement is on.
    static std::optional<EQSettings> activeSettings(const EQSettings& playerSettings);

private:
    std::unique_ptr<AudioFileReader> reader_;
    AudioEngine& engine_;
};

}  // namespace korvanta

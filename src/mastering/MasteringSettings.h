// The two numbers of a loudness preset, the preset table, and the result of one rendering.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "engine/AudioStats.h"

namespace korvanta {

struct DJMasteringSettings {
    float targetLUFS = -10.0f;     // integrated loudness target, LUFS
    float limitThreshold = -0.2f;  // limiter ceiling, dBFS
    friend bool operator==(const DJMasteringSettings&, const DJMasteringSettings&) = default;
};

struct MasteringPreset {
    std::string_view name;
    DJMasteringSettings settings;
};

// In the order every list of presets shows them.
inline constexpr std::array<MasteringPreset, 4> kMasteringPresets{{
    {"Events", {-12.0f, -0.3f}},
    {"Radio", {-14.0f, -0.3f}},
    {"Club", {-10.0f, -0.2f}},
    {"Festival", {-8.0f, -0.3f}},
}};

// The preset of that exact name (case-sensitive), if any.
std::optional<MasteringPreset> presetNamed(std::string_view name);

// A rendering and its measurement.
struct DJMasteringResult {
    std::filesystem::path outputURL;
    AudioStats stats;
    int bpm = 0;     // tempo the limiter was timed by (0 for renderings without the limiter)
    int passes = 0;  // mastering passes rendered (0 for renderings without the limiter)
    std::optional<double> firstGainDb{};  // gain of the first pass, dB (none without the limiter)
    std::optional<AudioStats> inputStats{};  // the song's own figures, when the pipeline measured them
};

}  // namespace korvanta

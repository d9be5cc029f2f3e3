// The equaliser record: twelve peaking bands, on/off, master gain, stereo width and mid amount.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Preferences.h"

namespace korvanta {

enum class EQBandType { peaking };  // JSON form: "Peaking"

struct EQBand {
    float frequency = 1000.0f;  // Hz
    float gain = 0.0f;          // dB
    EQBandType type = EQBandType::peaking;
    float q = 1.0f;
    friend bool operator==(const EQBand&, const EQBand&) = default;
};

struct EQSettings {
    std::vector<EQBand> bands = defaultBands();
    bool isEnabled = false;
    float masterGain = 0.0f;  // dB
    bool stereoEnhancementEnabled = false;
    float stereoWidth = 1.0f;
    bool midEnhancementEnabled = false;
    float midAmount = 1.0f;
    bool isAutoReferenceMode = false;

    // 32, 63, 125, 250, 500, 1k, 2k, 4k, 8k, 12k, 16k, 20k Hz, all at 0 dB.
    static std::vector<EQBand> defaultBands();

    friend bool operator==(const EQSettings&, const EQSettings&) = default;
};

// Preference keys under which the record is stored.
inline constexpr const char* kEQSettingsKey = "EQSettings";
inline constexpr const char* kActiveEQSettingsKey = "ActiveEQSettings";
inline constexpr const char* kProcessedWithOriginalEQKey = "processedWithOriginalEQ";

// The JSON form: every key required, floats that read back to the same 32-bit values.
std::string encodeEQSettings(const EQSettings& settings);
// Strict decoding. Errors: domain "EQSettings", code 1, with a message naming what is wrong.
Result<EQSettings> decodeEQSettings(std::string_view json);

// Stores the JSON form under `key` and writes the store through.
void saveEQSettings(const EQSettings& settings, const std::string& key,
                    Preferences& store = sharedPreferences());
// The record under `key`, or the default record when absent or undecodable. Never fails.
EQSettings loadEQSettings(const std::string& key, Preferences& store = sharedPreferences());

}  // namespace korvanta

#include "mastering/MasteringSettings.h"

namespace korvanta {

std::optional<MasteringPreset> presetNamed(std::string_view name) {
    for (const auto& preset : kMasteringPresets) {
        if (preset.name == name) return preset;
    }
    return std::nullopt;
}

}  // namespace korvanta

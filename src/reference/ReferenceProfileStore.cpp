#include "reference/ReferenceProfileStore.h"

#include <string_view>

namespace korvanta {

void saveProfile(const SpectralProfile& profile, Preferences& store) {
    auto json = encodeSpectralProfile(profile);
    if (!json) return;
    const std::string& text = json.value();
    store.setBytes(kReferenceProfileKey, Bytes(text.begin(), text.end()));
}

std::optional<SpectralProfile> loadProfile(const Preferences& store) {
    auto bytes = store.bytesValue(kReferenceProfileKey);
    if (!bytes) return std::nullopt;
    auto profile = decodeSpectralProfile(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!profile) return std::nullopt;
    return std::move(profile).value();
}

void clearReference(Preferences& store) { store.remove(kReferenceProfileKey); }

}  // namespace korvanta

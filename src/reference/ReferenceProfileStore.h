// The reference profile kept in the preferences store, so that a loaded reference survives a
// restart.
#pragma once

#include <optional>

#include "platform/Preferences.h"
#include "reference/SpectralProfile.h"

namespace korvanta {

// Preference key of the stored profile; its value is the bytes of the profile's JSON form.
inline constexpr const char* kReferenceProfileKey = "Korvanta_ReferenceSpectralProfile";

// Stores the JSON form of `profile` under kReferenceProfileKey. When the profile cannot be encoded
// (a non-finite value in a list) nothing is stored and nothing is reported. Any thread.
void saveProfile(const SpectralProfile& profile, Preferences& store = sharedPreferences());

// The stored profile, or nullopt when the key is absent or its value does not decode. A value that
// does not decode is left in the store. Any thread.
std::optional<SpectralProfile> loadProfile(const Preferences& store = sharedPreferences());

// Removes the stored profile. Any thread.
void clearReference(Preferences& store = sharedPreferences());

}  // namespace korvanta

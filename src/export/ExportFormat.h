// The file formats songs are exported in, and the saved choice in the preferences store.
#pragma once

#include <array>
#include <string_view>

#include "platform/Preferences.h"

namespace korvanta {

// Two formats are equal when their raw values are equal, which for an enumeration is identity.
enum class ExportFormat { wav, m4a };

// Every format, in the order lists show them.
inline constexpr std::array<ExportFormat, 2> allExportFormats{ExportFormat::wav, ExportFormat::m4a};

// Preferences key holding the saved format's raw value (a string).
inline constexpr const char* kExportFormatKey = "exportFormat";

// The text stored in the preferences and shown to the user: "WAV" or "M4A".
std::string_view rawValue(ExportFormat format);

// The file name extension without a dot: "wav" or "m4a".
std::string_view fileExtension(ExportFormat format);

// The first format (in allExportFormats order) whose raw value equals `text` exactly, byte for
// byte; any other text, "m4a" in lower case included, yields wav.
ExportFormat exportFormatFromRawValue(std::string_view text);

// The format saved under "exportFormat": wav when the key is absent, holds something other than a
// string, or holds an unknown string. Thread-safe as far as the store is.
ExportFormat savedExportFormat(const Preferences& store);

// Stores the format's raw value under "exportFormat".
void saveExportFormat(Preferences& store, ExportFormat format);

}  // namespace korvanta

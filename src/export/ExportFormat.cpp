#include "export/ExportFormat.h"

#include <string>

namespace korvanta {

std::string_view rawValue(ExportFormat format) {
    switch (format) {
        case ExportFormat::wav: return "WAV";
        case ExportFormat::m4a: return "M4A";
    }
    return "WAV";
}

std::string_view fileExtension(ExportFormat format) {
    switch (format) {
        case ExportFormat::wav: return "wav";
        case ExportFormat::m4a: return "m4a";
    }
    return "wav";
}

ExportFormat exportFormatFromRawValue(std::string_view text) {
    for (ExportFormat format : allExportFormats) {
        if (rawValue(format) == text) return format;
    }
    return ExportFormat::wav;
}

ExportFormat savedExportFormat(const Preferences& store) {
    const std::optional<std::string> text = store.stringValue(kExportFormatKey);
    return text ? exportFormatFromRawValue(*text) : ExportFormat::wav;
}

void saveExportFormat(Preferences& store, ExportFormat format) {
    store.setString(kExportFormatKey, std::string(rawValue(format)));
}

}  // namespace korvanta

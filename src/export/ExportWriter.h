// Puts one rendering into the user's export folder: a copy for WAV, a fresh AAC encode with the
// optional cover art for M4A.
#pragma once

#include <filesystem>
#include <optional>

#include "export/ExportFormat.h"
#include "platform/Error.h"
#include "platform/Preferences.h"

namespace korvanta {

// Preferences keys read for the cover of M4A exports.
inline constexpr const char* kGlobalArtworkEnabledKey = "globalArtworkEnabled";  // bool
inline constexpr const char* kGlobalArtworkDataKey = "globalArtworkData";        // image bytes

// Writes `sourceURL` to `destinationURL`; success means the destination now holds the export.
// Never throws; blocks while encoding (call it off the main thread, one at a time).
//  - wav (and anything not m4a): a byte copy, replacing a file already at the destination.
//  - m4a: an AAC encode of the source. When "globalArtworkEnabled" is true, the cover is
//    `sessionArtwork` when given, else the bytes under "globalArtworkData", re-encoded as
//    baseline JPEG; an image that cannot be prepared is left out and the export goes on. When
//    the encoder cannot be made for the source, or encoding fails, the destination receives a
//    byte copy of the source instead.
// The file is written under a temporary name in the destination folder and renamed into place,
// so a failed export never leaves part of a file under the destination's name. A destination
// that cannot be written (missing or read-only folder, a folder at that name, a full disk) yields
// an AudioFile kFileSystem error with the system's reason ("No space left on device"); an
// exception inside the encoder yields AudioFile kWriteFailed.
Status writeExportFile(const std::filesystem::path& sourceURL,
                       const std::filesystem::path& destinationURL, ExportFormat format,
                       const std::optional<Bytes>& sessionArtwork, const Preferences& store);

// The same for a source that nobody needs afterwards (a rendering about to be removed): a WAV
// export takes the source's place by one rename when both lie on the same file system — the same
// bytes and mode, atomically replacing a file at the destination, without copying them — and the
// source is then gone. Otherwise (another file system, m4a, a rename that fails) it is exactly
// writeExportFile, and the source stays.
Status moveOrWriteExportFile(const std::filesystem::path& sourceURL,
                             const std::filesystem::path& destinationURL, ExportFormat format,
                             const std::optional<Bytes>& sessionArtwork, const Preferences& store);

}  // namespace korvanta

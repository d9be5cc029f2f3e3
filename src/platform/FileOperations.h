// File-system operations with errors as values: renderings, conversions and exports.
#pragma once

#include <filesystem>
#include <string>

#include "platform/Error.h"

namespace korvanta {

// True when a file or folder is at `path` (following links).
bool fileExists(const std::filesystem::path& path);

// True when something (a file, folder or link, even a dangling one) is at `path`. A path that
// cannot be examined counts as absent.
bool somethingExistsAt(const std::filesystem::path& path);

// Removes the file or link at `path`; nothing there is success. Never removes a folder.
// Errors: AudioFile kFileSystem, with the system's reason.
Status removeFileIfExists(const std::filesystem::path& path);

// Moves `from` to `to`, replacing a file at `to`; falls back to copy-and-remove across devices.
Status moveFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Copies the bytes of `source` to `destination`, which must not exist yet. A partly written
// destination is removed on failure. Errors: AudioFile kFileSystem.
Status copyFileBytes(const std::filesystem::path& source, const std::filesystem::path& destination);

// A name in the destination's folder for writing before the final move: hidden, unique, and with
// the destination's extension ("." + stem + "." + random + ".partial." + extension).
std::filesystem::path partialFilePath(const std::filesystem::path& destination);

// Renames `partial` to `destination`, atomically replacing a file already there. On failure
// `partial` is removed. Errors: AudioFile kFileSystem.
Status moveIntoPlace(const std::filesystem::path& partial, const std::filesystem::path& destination);

// Copies `source` to a partial file beside `destination` and moves it into place, so the
// destination holds either its old content or a complete copy, never half a file. Copying a file
// onto itself succeeds without writing. Errors: AudioFile kFileSystem.
Status copyFileReplacing(const std::filesystem::path& source,
                         const std::filesystem::path& destination);

// Creates the folder and its parents when absent.
Status createFolders(const std::filesystem::path& folder);

}  // namespace korvanta

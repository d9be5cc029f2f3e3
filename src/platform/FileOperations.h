// File-system operations with errors as values, for renderings and exports.
#pragma once

#include <filesystem>

#include "platform/Error.h"

namespace korvanta {

bool fileExists(const std::filesystem::path& path);

// Removes a file when one is there; success when nothing was there.
Status removeFileIfExists(const std::filesystem::path& path);

// Moves `from` to `to`, replacing a file at `to`; falls back to copy-and-remove across devices.
Status moveFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Copies `from` to `to`, replacing a file at `to`.
Status copyFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Creates the folder and its parents when absent.
Status createFolders(const std::filesystem::path& folder);

// The AudioFile kFileSystem error for a failed operation on `path`.
Error fileSystemError(const std::string& action, const std::filesystem::path& path,
                      const std::error_code& ec);

}  // namespace korvanta

// Which files an import takes.
#pragma once

#include <filesystem>
#include <vector>

namespace korvanta {

inline constexpr int kMaxImportedFiles = 50;

// True for the extensions a folder import takes (any case): mp3, wav, aiff, aif, m4a, flac, ogg,
// aac.
bool hasAcceptedAudioExtension(const std::filesystem::path& path);

// The folder's direct children (hidden ones included, no recursion) with an accepted extension,
// in name order. A folder that cannot be listed gives an empty list.
std::vector<std::filesystem::path> audioFilesInFolder(const std::filesystem::path& folder);

}  // namespace korvanta

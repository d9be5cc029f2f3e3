// Deletes rendered audio from the application's private temporary folder.
#pragma once

#include <filesystem>

namespace korvanta {

class CleanupManager {
public:
    // Deletes the direct children of `folder` whose extension (any case) is wav, mp3, aif, aiff,
    // m4a or flac — all of them when `removeAll`, otherwise only those whose name contains
    // "_master" or "_final" (case-sensitive). Other files are never touched. Failures are printed
    // to standard output and skipped. Only ever pass the application's own folder.
    static void cleanupTempFiles(bool removeAll, const std::filesystem::path& folder);

    // The same on the application's private temporary folder (nothing happens when it cannot be
    // made).
    static void cleanupTempFiles(bool removeAll);
};

}  // namespace korvanta

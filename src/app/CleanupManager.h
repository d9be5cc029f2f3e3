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

    // For the window: the same files leave their names at once (each is renamed into a
    // discard folder beside them, which costs no disk work), and a worker then deletes them, so
    // freeing a batch of renderings never stalls the main thread. A rendering written under the
    // same name right afterwards is safe. The synchronous removeAll pass also deletes discard
    // folders a previous run left behind.
    static void cleanupTempFilesInBackground(bool removeAll, const std::filesystem::path& folder);
    static void cleanupTempFilesInBackground(bool removeAll);
    // Blocks until every deletion handed to the worker has finished.
    static void waitForBackgroundCleanup();
};

}  // namespace korvanta

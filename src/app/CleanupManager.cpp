#include "app/CleanupManager.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <optional>
#include <vector>

#include "platform/SerialExecutor.h"
#include "platform/TempFolder.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

bool isAudioExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == "wav" || ext == "mp3" || ext == "aif" || ext == "aiff" || ext == "m4a" ||
           ext == "flac";
}

constexpr const char* kDiscardPrefix = ".discarded-";

// The direct children of `folder` that a pass deletes; nullopt when the folder cannot be read.
std::optional<std::vector<fs::path>> cleanableFiles(bool removeAll, const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    if (ec) {
        std::cout << "Failed to enumerate temp directory: " << ec.message() << std::endl;
        return std::nullopt;
    }
    std::vector<fs::path> out;
    for (const auto& entry : entries) {
        if (!isAudioExtension(entry)) continue;
        const std::string name = entry.filename().string();
        if (!removeAll && name.find("_master") == std::string::npos &&
            name.find("_final") == std::string::npos) {
            continue;
        }
        out.push_back(entry);
    }
    return out;
}

void removeReporting(const fs::path& file) {
    std::error_code removeError;
    if (!fs::remove(file, removeError) && removeError) {
        std::cout << "Failed to delete file " << file.filename().string() << ": "
                  << removeError.message() << std::endl;
    }
}

SerialExecutor& discardQueue() {
    static const std::shared_ptr<SerialExecutor> queue = SerialExecutor::create("temp-file cleanup");
    return *queue;
}

}  // namespace

void CleanupManager::cleanupTempFiles(bool removeAll, const fs::path& folder) {
    const auto files = cleanableFiles(removeAll, folder);
    if (!files) return;
    for (const auto& file : *files) removeReporting(file);
    if (!removeAll) return;
    // What an interrupted earlier run left to be discarded.
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind(kDiscardPrefix, 0) == 0 && it->is_directory(ec)) {
            std::error_code removeError;
            fs::remove_all(it->path(), removeError);
        }
    }
}

void CleanupManager::cleanupTempFilesInBackground(bool removeAll, const fs::path& folder) {
    const auto files = cleanableFiles(removeAll, folder);
    if (!files || files->empty()) return;
    static std::atomic<uint64_t> counter{0};
    const fs::path discard = folder / (kDiscardPrefix + std::to_string(::getpid()) + "-" +
                                       std::to_string(++counter));
    std::error_code ec;
    fs::create_directory(discard, ec);
    std::vector<fs::path> moved;
    for (const auto& file : *files) {
        std::error_code renameError;
        if (!ec) fs::rename(file, discard / file.filename(), renameError);
        if (ec || renameError) {
            removeReporting(file);  // cannot be moved aside: deleted here, as the plain pass does
        } else {
            moved.push_back(discard / file.filename());
        }
    }
    if (ec) return;
    discardQueue().async([discard, moved] {
        for (const auto& file : moved) removeReporting(file);
        std::error_code removeError;
        fs::remove(discard, removeError);
    });
}

namespace {

// The application's private folder, or nullopt (reported) when it cannot be made.
std::optional<fs::path> privateFolderOrReport() {
    auto folder = privateTempFolder();
    if (!folder) {
        std::cout << "Failed to enumerate temp directory: " << folder.error().description()
                  << std::endl;
        return std::nullopt;
    }
    return folder.value();
}

}  // namespace

void CleanupManager::cleanupTempFiles(bool removeAll) {
    if (const auto folder = privateFolderOrReport()) cleanupTempFiles(removeAll, *folder);
}

void CleanupManager::cleanupTempFilesInBackground(bool removeAll) {
    if (const auto folder = privateFolderOrReport()) cleanupTempFilesInBackground(removeAll, *folder);
}

void CleanupManager::waitForBackgroundCleanup() { discardQueue().drain(); }

}  // namespace korvanta

#include "app/CleanupManager.h"

#include <algorithm>
#include <iostream>
#include <vector>

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

}  // namespace

void CleanupManager::cleanupTempFiles(bool removeAll, const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    if (ec) {
        std::cout << "Failed to enumerate temp directory: " << ec.message() << std::endl;
        return;
    }
    for (const auto& entry : entries) {
        if (!isAudioExtension(entry)) continue;
        const std::string name = entry.filename().string();
        if (!removeAll && name.find("_master") == std::string::npos &&
            name.find("_final") == std::string::npos) {
            continue;
        }
        std::error_code removeError;
        if (!fs::remove(entry, removeError) && removeError) {
            std::cout << "Failed to delete file " << name << ": " << removeError.message()
                      << std::endl;
        }
    }
}

void CleanupManager::cleanupTempFiles(bool removeAll) {
    auto folder = privateTempFolder();
    if (!folder) {
        std::cout << "Failed to enumerate temp directory: " << folder.error().description()
                  << std::endl;
        return;
    }
    cleanupTempFiles(removeAll, folder.value());
}

}  // namespace korvanta

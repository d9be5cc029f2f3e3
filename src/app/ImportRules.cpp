#include "app/ImportRules.h"

#include <algorithm>
#include <array>
#include <string>

namespace korvanta {

namespace fs = std::filesystem;

bool hasAcceptedAudioExtension(const fs::path& path) {
    static constexpr std::array<std::string_view, 8> kExtensions{"mp3", "wav", "aiff", "aif",
                                                                 "m4a", "flac", "ogg", "aac"};
    std::string ext = path.extension().string();
    if (ext.empty()) return false;
    ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return std::find(kExtensions.begin(), kExtensions.end(), ext) != kExtensions.end();
}

std::vector<fs::path> audioFilesInFolder(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        if (hasAcceptedAudioExtension(it->path())) files.push_back(it->path());
    }
    if (ec) return {};
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace korvanta

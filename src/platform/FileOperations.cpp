#include "platform/FileOperations.h"

namespace korvanta {

namespace fs = std::filesystem;

Error fileSystemError(const std::string& action, const fs::path& path,
                      const std::error_code& ec) {
    return Error{errc::kAudioFile, errc::kFileSystem,
                 "Could not " + action + " \"" + path.filename().string() + "\": " + ec.message() +
                     "."};
}

bool fileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

Status removeFileIfExists(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        return fileSystemError("remove", path, ec);
    }
    return {};
}

Status moveFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return {};
    if (ec != std::errc::cross_device_link) return fileSystemError("move", from, ec);
    if (auto copied = copyFile(from, to); !copied) return copied;
    return removeFileIfExists(from);
}

Status copyFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) return fileSystemError("copy", from, ec);
    return {};
}

Status createFolders(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return fileSystemError("create the folder", folder, ec);
    return {};
}

}  // namespace korvanta

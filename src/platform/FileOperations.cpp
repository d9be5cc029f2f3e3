#include "platform/FileOperations.h"

#include <system_error>

#include "platform/TempFolder.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

Error fileSystemError(const std::string& what, const std::error_code& ec) {
    return Error{errc::kAudioFile, errc::kFileSystem, what + ": " + ec.message() + "."};
}

std::string quoted(const fs::path& path) { return "\"" + path.filename().string() + "\""; }

}  // namespace

bool fileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool somethingExistsAt(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

Status removeFileIfExists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!fs::exists(status)) return {};
    if (fs::is_directory(status)) {
        return Error{errc::kAudioFile, errc::kFileSystem,
                     "Couldn't remove " + quoted(path) + " because it is a folder."};
    }
    if (!fs::remove(path, ec) && ec) return fileSystemError("Couldn't remove " + quoted(path), ec);
    return {};
}

Status moveFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return {};
    if (ec != std::errc::cross_device_link) {
        return fileSystemError("Couldn't move " + quoted(from) + " to " + quoted(to), ec);
    }
    if (auto copied = copyFileReplacing(from, to); !copied) return copied;
    return removeFileIfExists(from);
}

Status copyFileBytes(const fs::path& source, const fs::path& destination) {
    if (somethingExistsAt(destination)) {
        return Error{errc::kAudioFile, errc::kFileSystem,
                     "Couldn't copy " + quoted(source) + " because " + quoted(destination) +
                         " already exists."};
    }
    std::error_code ec;
    if (fs::copy_file(source, destination, fs::copy_options::none, ec)) return {};
    if (!ec) ec = std::make_error_code(std::errc::io_error);
    std::error_code ignored;
    fs::remove(destination, ignored);  // whatever part of the copy was written
    return fileSystemError("Couldn't copy " + quoted(source) + " to " + quoted(destination), ec);
}

fs::path partialFilePath(const fs::path& destination) {
    const std::string extension = destination.extension().string();  // with its dot, or empty
    const std::string unique = makeUuidString().substr(0, 8);
    return destination.parent_path() /
           ("." + destination.stem().string() + "." + unique + ".partial" + extension);
}

Status moveIntoPlace(const fs::path& partial, const fs::path& destination) {
    std::error_code ec;
    fs::rename(partial, destination, ec);
    if (!ec) return {};
    std::error_code ignored;
    fs::remove(partial, ignored);
    return fileSystemError("Couldn't move the new file to " + quoted(destination), ec);
}

Status copyFileReplacing(const fs::path& source, const fs::path& destination) {
    std::error_code ec;
    if (fs::equivalent(source, destination, ec)) return {};
    const fs::path partial = partialFilePath(destination);
    if (!fs::copy_file(source, partial, fs::copy_options::none, ec)) {
        if (!ec) ec = std::make_error_code(std::errc::io_error);
        std::error_code ignored;
        fs::remove(partial, ignored);
        return fileSystemError("Couldn't copy " + quoted(source) + " to " + quoted(destination), ec);
    }
    return moveIntoPlace(partial, destination);
}

Status createFolders(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return fileSystemError("Couldn't create the folder " + quoted(folder), ec);
    return {};
}

}  // namespace korvanta

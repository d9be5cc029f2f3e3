#include "platform/TempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace korvanta {

namespace {

Error folderError(const std::filesystem::path& path, const std::string& why) {
    return Error{errc::kAudioFile, errc::kFileSystem,
                 "The temporary folder \"" + path.string() + "\" can't be used: " + why};
}

}  // namespace

Result<std::filesystem::path> privateTempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path base = (tmp && *tmp) ? tmp : "/tmp";
    const uid_t uid = ::getuid();
    const std::filesystem::path folder = base / ("korvanta-" + std::to_string(uid));

    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return folderError(folder, std::strerror(errno));
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return folderError(folder, std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) return folderError(folder, "it is not a folder.");
    if (st.st_uid != uid) return folderError(folder, "it belongs to another user.");
    if ((st.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) {
        return folderError(folder, std::strerror(errno));
    }
    return folder;
}

std::string makeUuidString() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    const uint64_t hi = (engine() & 0xffffffffffff0fffull) | 0x0000000000004000ull;
    const uint64_t lo = (engine() & 0x3fffffffffffffffull) | 0x8000000000000000ull;
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(hi >> 32), static_cast<unsigned>((hi >> 16) & 0xffff),
                  static_cast<unsigned>(hi & 0xffff), static_cast<unsigned>(lo >> 48),
                  static_cast<unsigned long long>(lo & 0xffffffffffffull));
    return text;
}

}  // namespace korvanta

#include "platform/FileOperations.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/TempFolder.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

Error fileSystemError(const std::string& what, const std::error_code& ec) {
    return Error{errc::kAudioFile, errc::kFileSystem, what + ": " + ec.message() + "."};
}

std::string quoted(const fs::path& path) { return "\"" + path.filename().string() + "\""; }

std::error_code lastSystemError() { return {errno, std::generic_category()}; }

// Copies the bytes from `in` to `out` (both open files), by the kernel where it can, else through
// a buffer. Each failure keeps the system's own reason: a full disk is "No space left on
// device", where the standard library's copy reports a short write as an input/output error.
std::error_code copyContents(int in, int out) {
    bool byKernel = true;
    std::vector<char> buffer;
    for (;;) {
        if (byKernel) {
            const ssize_t sent = ::sendfile(out, in, nullptr, size_t{1} << 30);
            if (sent > 0) continue;
            if (sent == 0) return {};
            if (errno == EINTR) continue;
            if (errno != EINVAL && errno != ENOSYS) return lastSystemError();
            byKernel = false;  // these two files cannot be joined by the kernel
            buffer.resize(size_t{1} << 20);
        }
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) return {};
        if (got < 0) {
            if (errno == EINTR) continue;
            return lastSystemError();
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t n = ::write(out, buffer.data() + written, static_cast<size_t>(got - written));
            if (n < 0) {
                if (errno == EINTR) continue;
                return lastSystemError();
            }
            written += n;
        }
    }
}

// Copies the regular file `source` to a new file `destination` with the source's permissions
// (an existing destination fails with "File exists"). On failure whatever part of the copy was
// written is removed, and the system's reason is returned.
std::error_code copyToNewFile(const fs::path& source, const fs::path& destination) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return lastSystemError();
    struct stat st {};
    std::error_code ec;
    if (::fstat(in, &st) != 0) {
        ec = lastSystemError();
    } else if (S_ISDIR(st.st_mode)) {
        ec = std::make_error_code(std::errc::is_a_directory);
    } else if (!S_ISREG(st.st_mode)) {
        ec = std::make_error_code(std::errc::not_supported);
    }
    if (ec) {
        ::close(in);
        return ec;
    }
    const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        ec = lastSystemError();
        ::close(in);
        return ec;
    }
    if (::fchmod(out, st.st_mode & 07777) != 0) ec = lastSystemError();  // whatever the umask
    if (!ec) ec = copyContents(in, out);
    // A file system may report a full disk only when the file is closed.
    if (::close(out) != 0 && !ec) ec = lastSystemError();
    ::close(in);
    if (ec) ::unlink(destination.c_str());
    return ec;
}

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
    const std::error_code ec = copyToNewFile(source, destination);
    if (!ec) return {};
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
    if (const std::error_code copied = copyToNewFile(source, partial)) {
        return fileSystemError("Couldn't copy " + quoted(source) + " to " + quoted(destination), copied);
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

// The bytes of one fuzz input laid down as an audio file, for the readers, which open paths.
//
// Input layout: byte 0 picks the file's extension (byte % 8 indexes kAudioExtensions), the other
// bytes are the file. The extension matters: FFmpeg's probe trusts it when the content is
// ambiguous, and libsndfile takes unrecognised ".mp3" files as MPEG. The seeds written by
// scripts/make-fuzz-seeds carry the byte of their own format.
//
// The file lives in a private folder under $TMPDIR (made once per process, removed at exit) and
// is rewritten for every input; readers may reopen it while the input is being run.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace korvanta::fuzz {

// Every extension a folder import takes, in the order of the input's first byte.
inline constexpr std::array<std::string_view, 8> kAudioExtensions{"mp3", "wav", "aiff", "aif",
                                                                  "m4a", "flac", "ogg", "aac"};

class AudioInputFile {
public:
    AudioInputFile() {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvanta-fuzz-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) std::abort();
        folder_ = folder;
    }
    ~AudioInputFile() {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    AudioInputFile(const AudioInputFile&) = delete;
    AudioInputFile& operator=(const AudioInputFile&) = delete;

    // Writes `data` (the input's layout above) and returns the file's path; empty for an input
    // of no bytes.
    std::filesystem::path write(const uint8_t* data, size_t size) {
        if (size == 0) return {};
        const std::filesystem::path path =
            folder_ / ("input." + std::string(kAudioExtensions[data[0] % kAudioExtensions.size()]));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) std::abort();
        for (size_t done = 1; done < size;) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
        ::close(fd);
        return path;
    }

    // Removes the file written last, so that the next input's extension does not find it.
    void remove(const std::filesystem::path& path) {
        if (!path.empty()) ::unlink(path.c_str());
    }

private:
    std::filesystem::path folder_;
};

// The one file of this process. Created on first use, removed at exit.
inline AudioInputFile& audioInputFile() {
    static AudioInputFile file;
    return file;
}

}  // namespace korvanta::fuzz

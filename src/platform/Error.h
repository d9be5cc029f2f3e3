// One error type for the whole project: a domain, an integer code and a message.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace korvanta {

struct Error {
    std::string domain;
    int code = 0;
    std::string message;  // the localized description; may be empty

    // What a user or a log line sees: the message, or a generic sentence naming domain and code
    // when the error carries no message of its own.
    std::string description() const;

    bool is(std::string_view d, int c) const { return domain == d && code == c; }
    friend bool operator==(const Error&, const Error&) = default;
};

// Domains and codes used across the application.
namespace errc {
inline constexpr const char* kApp = "KorvantaApp";
inline constexpr int kBufferNotCreated = 2;
inline constexpr int kFileMissing = 3;
inline constexpr int kEmptyAudioFile = 4;
inline constexpr int kCancelled = 100;

inline constexpr const char* kEngine = "AudioEngine";
inline constexpr int kEngineBufferNotCreated = 1;

// Errors of the audio file services (open, read, write) and of file-system operations.
inline constexpr const char* kAudioFile = "AudioFile";
inline constexpr int kNoSuchFile = 1;
inline constexpr int kNotAudio = 2;
inline constexpr int kReadFailed = 3;
inline constexpr int kWriteFailed = 4;
inline constexpr int kNotReadable = 5;
inline constexpr int kIsDirectory = 6;
inline constexpr int kFileSystem = 7;
inline constexpr int kUnsupportedFormat = 8;
}  // namespace errc

Error cancelledError();  // "KorvantaApp" 100, "The process was canceled by the user"

// A value or an error. `Result<void>` carries only success or an error.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

using Status = Result<void>;

}  // namespace korvanta

// Turns a rendering into a file of a given export format in the private temporary folder.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "export/ExportFormat.h"
#include "platform/Error.h"

namespace korvanta {

// Stateless. convert() blocks while it encodes: call it from a worker thread, not the main thread.
class AudioConverter {
public:
    // The converter's own errors, domain "AudioConverter.ConversionError".
    struct ConversionError {
        static constexpr const char* kDomain = "AudioConverter.ConversionError";
        static constexpr int kExportFailure = 0;      // carries its message
        static constexpr int kFileNotFound = 1;       // "The input file was not found."
        static constexpr int kUnsupportedFormat = 2;  // defined for callers; never raised here

        static Error exportFailure(std::string message);
        static Error fileNotFound();
        static Error unsupportedFormat();
    };

    // Called on the converting thread with the fraction encoded, in [0, 1].
    using ProgressHandler = std::function<void(double fraction)>;
    // Asked on the converting thread about every 0.1 s of audio; true cancels.
    using CancellationCheck = std::function<bool()>;

    // Writes `inputURL` in `format` to privateTempFolder() / (input's name without extension +
    // "." + the format's extension) and returns that path.
    //  - A file already at the output path is removed first (a removal error is returned as is),
    //    then an input that is missing or cannot be opened as audio gives fileNotFound. An input
    //    that is itself the output path is returned untouched.
    //  - wav: a byte copy of the input.
    //  - m4a: an AAC encode. When the encoder cannot be made for the input, or encoding fails,
    //    the output is a byte copy of the input instead (its audio format unchanged under the
    //    M4A name). A cancelled encode gives exportFailure "Export was cancelled" and leaves no
    //    output; an encode that reports success without a file gives exportFailure "Output file
    //    was not created".
    // Other errors: the private temporary folder's, and AudioFile kFileSystem for copies.
    static Result<std::filesystem::path> convert(const std::filesystem::path& inputURL,
                                                 ExportFormat format,
                                                 const ProgressHandler& progress = {},
                                                 const CancellationCheck& isCancelled = {});
};

}  // namespace korvanta

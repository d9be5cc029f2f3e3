#include "export/AudioConverter.h"

#include "export/AacEncoder.h"
#include "platform/DiagnosticLog.h"
#include "platform/FileOperations.h"
#include "platform/AudioFileReader.h"
#include "platform/TempFolder.h"

namespace korvanta {

namespace fs = std::filesystem;

Error AudioConverter::ConversionError::exportFailure(std::string message) {
    return Error{kDomain, kExportFailure, std::move(message)};
}
Error AudioConverter::ConversionError::fileNotFound() {
    return Error{kDomain, kFileNotFound, "The input file was not found."};
}
Error AudioConverter::ConversionError::unsupportedFormat() {
    return Error{kDomain, kUnsupportedFormat, "The export format is not supported."};
}

namespace {

// The answer when the encoder cannot do the job: the input's bytes under the output name.
Result<fs::path> copyInstead(const fs::path& input, const fs::path& output) {
    if (Status copied = copyFileBytes(input, output); !copied) return copied.error();
    return output;
}

}  // namespace

Result<fs::path> AudioConverter::convert(const fs::path& inputURL, ExportFormat format,
                                         const ProgressHandler& progress,
                                         const CancellationCheck& isCancelled) {
    auto folder = privateTempFolder();
    if (!folder) return folder.error();
    const fs::path outputURL =
        folder.value() / (inputURL.stem().string() + "." + std::string(fileExtension(format)));

    // Converting a file of the private folder to its own format leaves it where it is: removing
    // the "old output" would delete the input.
    std::error_code ec;
    if (fs::equivalent(inputURL, outputURL, ec)) return outputURL;

    if (Status removed = removeFileIfExists(outputURL); !removed) return removed.error();

    auto reader = AudioFileReader::open(inputURL);
    if (!reader) return ConversionError::fileNotFound();

    if (format == ExportFormat::wav) {
        reader.value().reset();
        if (Status copied = copyFileBytes(inputURL, outputURL); !copied) return copied.error();
        return outputURL;
    }

    auto encoder = AacEncoder::create(std::move(reader).value());
    if (!encoder) {
        logDiagnostic("AAC encoder unavailable for " + inputURL.filename().string() + ": " +
                      encoder.error().description() + ", copying the file instead");
        return copyInstead(inputURL, outputURL);
    }
    encoder.value()->setFastStart(true);
    if (progress) encoder.value()->setProgressHandler(progress);
    if (isCancelled) encoder.value()->setCancellationCheck(isCancelled);

    // Encoding goes to a partial name, so that the output name only ever holds a whole file.
    const fs::path partial = partialFilePath(outputURL);
    const Status encoded = encoder.value()->encode(partial);
    encoder.value().reset();
    if (!encoded) {
        if (encoded.error() == cancelledError()) {
            return ConversionError::exportFailure("Export was cancelled");
        }
        logDiagnostic("AAC encoding failed for " + inputURL.filename().string() + ": " +
                      encoded.error().description() + ", copying the file instead");
        return copyInstead(inputURL, outputURL);
    }
    if (Status moved = moveIntoPlace(partial, outputURL); !moved) {
        return copyInstead(inputURL, outputURL);
    }
    if (!somethingExistsAt(outputURL)) {
        return ConversionError::exportFailure("Output file was not created");
    }
    return outputURL;
}

}  // namespace korvanta

#include "export/ExportWriter.h"

#include <new>

#include "export/AacEncoder.h"
#include "export/CoverArt.h"
#include "platform/DiagnosticLog.h"
#include "platform/FileOperations.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

// The cover for an M4A export, or none when artwork is off, absent or unusable.
std::optional<JpegImage> exportCover(const std::optional<Bytes>& sessionArtwork,
                                     const Preferences& store) {
    if (!store.boolValue(kGlobalArtworkEnabledKey).value_or(false)) return std::nullopt;
    std::optional<Bytes> image = sessionArtwork;
    if (!image) image = store.bytesValue(kGlobalArtworkDataKey);
    if (!image || image->empty()) return std::nullopt;
    auto jpeg = makeCoverJpeg(*image);
    if (!jpeg) {
        logDiagnostic("Failed to prepare cover art: " + jpeg.error().description());
        return std::nullopt;
    }
    return std::move(jpeg).value();
}

Status copyExport(const fs::path& source, const fs::path& destination) {
    Status copied = copyFileReplacing(source, destination);
    if (!copied) logDiagnostic("Export copy failed: " + copied.error().description());
    return copied;
}

Status encodeExport(const fs::path& source, const fs::path& destination,
                  const std::optional<Bytes>& sessionArtwork, const Preferences& store) {
    auto encoder = AacEncoder::create(source);
    if (!encoder) return copyExport(source, destination);
    if (auto cover = exportCover(sessionArtwork, store)) encoder.value()->setCoverArt(std::move(*cover));

    const fs::path partial = partialFilePath(destination);
    const Status encoded = encoder.value()->encode(partial);
    encoder.value().reset();
    if (encoded) {
        Status moved = moveIntoPlace(partial, destination);
        if (moved) return moved;
        logDiagnostic("M4A export of " + source.filename().string() + " failed: " + moved.error().description());
    } else {
        logDiagnostic("M4A export of " + source.filename().string() + " failed: " + encoded.error().description());
    }
    // The encode failed: the destination gets the source's bytes instead.
    if (Status removed = removeFileIfExists(destination); !removed) return removed;
    return copyExport(source, destination);
}

}  // namespace

Status writeExportFile(const fs::path& sourceURL, const fs::path& destinationURL, ExportFormat format,
                       const std::optional<Bytes>& sessionArtwork, const Preferences& store) {
    try {
        if (format != ExportFormat::m4a) return copyExport(sourceURL, destinationURL);
        return encodeExport(sourceURL, destinationURL, sessionArtwork, store);
    } catch (const std::exception& error) {
        logDiagnostic(std::string("Export failed: ") + error.what());
        return Error{errc::kAudioFile, errc::kWriteFailed, std::string("Export failed: ") + error.what()};
    } catch (...) {
        logDiagnostic("Export failed");
        return Error{errc::kAudioFile, errc::kWriteFailed, "Export failed"};
    }
}

Status moveOrWriteExportFile(const fs::path& sourceURL, const fs::path& destinationURL,
                             ExportFormat format, const std::optional<Bytes>& sessionArtwork,
                             const Preferences& store) {
    if (format != ExportFormat::m4a) {
        std::error_code ec;
        const fs::file_status source = fs::symlink_status(sourceURL, ec);
        // Only a plain file moves: a link would move as a link, not as the bytes it points at.
        if (!ec && fs::is_regular_file(source) && !fs::is_directory(destinationURL, ec)) {
            fs::rename(sourceURL, destinationURL, ec);
            if (!ec) return {};
        }
    }
    return writeExportFile(sourceURL, destinationURL, format, sessionArtwork, store);
}

}  // namespace korvanta

#include "export/ExportWriter.h"

#include <iostream>
#include <new>

#include "export/AacEncoder.h"
#include "export/CoverArt.h"
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
        std::cout << "Failed to prepare cover art: " << jpeg.error().description() << std::endl;
        return std::nullopt;
    }
    return std::move(jpeg).value();
}

bool copyExport(const fs::path& source, const fs::path& destination) {
    const Status copied = copyFileReplacing(source, destination);
    if (!copied) std::cout << "Export copy failed: " << copied.error().description() << std::endl;
    return copied.ok();
}

bool encodeExport(const fs::path& source, const fs::path& destination,
                  const std::optional<Bytes>& sessionArtwork, const Preferences& store) {
    auto encoder = AacEncoder::create(source);
    if (!encoder) return copyExport(source, destination);
    if (auto cover = exportCover(sessionArtwork, store)) encoder.value()->setCoverArt(std::move(*cover));

    const fs::path partial = partialFilePath(destination);
    const Status encoded = encoder.value()->encode(partial);
    encoder.value().reset();
    if (encoded) {
        if (moveIntoPlace(partial, destination)) return true;
    } else {
        std::cout << "M4A export of " << source.filename().string()
                  << " failed: " << encoded.error().description() << std::endl;
    }
    // The encode failed: the destination gets the source's bytes instead.
    if (Status removed = removeFileIfExists(destination); !removed) return false;
    return copyExport(source, destination);
}

}  // namespace

bool writeExportFile(const fs::path& sourceURL, const fs::path& destinationURL, ExportFormat format,
                     const std::optional<Bytes>& sessionArtwork, const Preferences& store) {
    try {
        if (format != ExportFormat::m4a) return copyExport(sourceURL, destinationURL);
        return encodeExport(sourceURL, destinationURL, sessionArtwork, store);
    } catch (const std::exception& error) {
        std::cout << "Export failed: " << error.what() << std::endl;
        return false;
    } catch (...) {
        std::cout << "Export failed" << std::endl;
        return false;
    }
}

bool moveOrWriteExportFile(const fs::path& sourceURL, const fs::path& destinationURL,
                           ExportFormat format, const std::optional<Bytes>& sessionArtwork,
                           const Preferences& store) {
    if (format != ExportFormat::m4a) {
        std::error_code ec;
        const fs::file_status source = fs::symlink_status(sourceURL, ec);
        // Only a plain file moves: a link would move as a link, not as the bytes it points at.
        if (!ec && fs::is_regular_file(source) && !fs::is_directory(destinationURL, ec)) {
            fs::rename(sourceURL, destinationURL, ec);
            if (!ec) return true;
        }
    }
    return writeExportFile(sourceURL, destinationURL, format, sessionArtwork, store);
}

}  // namespace korvanta

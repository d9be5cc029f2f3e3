// Cover art for M4A exports: any stored image turned into baseline JPEG bytes.
#pragma once

#include "platform/Error.h"
#include "platform/Preferences.h"

namespace korvanta {

// A JPEG file held in memory and the size of the picture it holds, in pixels.
struct JpegImage {
    Bytes data;
    int width = 0;
    int height = 0;
};

// Quality of cover JPEGs on libjpeg's 1–100 scale (a compression factor of 0.9).
inline constexpr int kCoverJpegQuality = 90;

namespace errc {
inline constexpr const char* kCoverArt = "CoverArt";
inline constexpr int kNotAnImage = 1;      // no image decoder takes the bytes, or decoding failed
inline constexpr int kImageTooLarge = 2;   // more than kMaxCoverPixels pixels
inline constexpr int kJpegEncodeFailed = 3;
}  // namespace errc

// Pictures larger than this are refused rather than held in memory several times over.
inline constexpr long long kMaxCoverPixels = 64LL * 1024 * 1024;

// Decodes the first picture in `imageBytes` (JPEG, PNG, WebP, BMP, GIF, TIFF: whatever FFmpeg's
// image decoders read) and re-encodes it, at its own size, as a baseline (non-progressive) JPEG
// at kCoverJpegQuality with 4:2:0 chroma. Transparent pixels are laid over white. Never throws.
// Errors: CoverArt kNotAnImage, kImageTooLarge, kJpegEncodeFailed. Thread-safe.
Result<JpegImage> makeCoverJpeg(const Bytes& imageBytes);

}  // namespace korvanta

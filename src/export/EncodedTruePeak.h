// The check after encoding: an exported M4A decoded again and its true peak measured.
#pragma once

#include <filesystem>
#include <string>

#include "platform/Error.h"

namespace korvanta {

// Above this an encoded file's overs may distort on players that decode without headroom.
inline constexpr float kEncodedTruePeakLimitDbtp = -1.0f;

// Decodes the whole of `path` (any format AudioFileReader opens) and returns its true peak in
// dBTP (see TruePeakMeter). Reads only; never changes the file. Blocking: call off the main
// thread. Errors: those of AudioFileReader::open and read.
Result<float> measureFileTruePeak(const std::filesystem::path& path);

// "M4A true peak +0.4 dBTP — may distort after encoding on some players" (the figure with one
// decimal and its sign) when `truePeakDb` is above kEncodedTruePeakLimitDbtp, else "".
std::string encodedTruePeakWarning(float truePeakDb);

}  // namespace korvanta

// The stored tonal balance of one audio file: a log-frequency magnitude curve for display and its
// 12-band reduction for matching, with the JSON form it is kept in.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace korvanta {

struct SpectralProfile {
    std::vector<float> frequencies;  // Hz, ascending (100 points from 20 Hz to 20 kHz normally)
    std::vector<float> magnitudes;   // dB, one per entry of `frequencies`
    std::string referenceFileName;   // last path component of the analysed file
    std::chrono::system_clock::time_point dateCreated;
    std::vector<float> spectrum12Band;  // 12 levels on the 0 … 10 scale, or empty when not made

    friend bool operator==(const SpectralProfile&, const SpectralProfile&) = default;
};

// Errors of the reference analysis and of its stored profile.
namespace errc {
inline constexpr const char* kReferenceTrack = "ReferenceTrack";
inline constexpr int kTrackNotAnalyzed = 1;     // "Failed to analyze track"
inline constexpr int kProfileNotDecodable = 2;  // stored profile is not a valid JSON form
inline constexpr int kProfileNotEncodable = 3;  // profile holds a value JSON cannot carry
}  // namespace errc

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC, the zero of stored dates.
inline constexpr double kProfileDateEpochOffset = 978307200.0;

// The JSON form: one object with exactly the keys "frequencies", "magnitudes" (arrays of numbers),
// "referenceFileName" (string), "dateCreated" (number of seconds since 2001-01-01 00:00:00 UTC) and
// "spectrum12Band" (array of numbers). Every float is written so that it reads back as the same
// 32-bit value. Bytes of the name that are not UTF-8 are written as U+FFFD.
// Errors: "ReferenceTrack" kProfileNotEncodable when a list holds an infinity or NaN.
Result<std::string> encodeSpectralProfile(const SpectralProfile& profile);

// Strict reading of the JSON form: all five keys must be present with values of the right kind
// (numbers within the 32-bit float range in the lists, a date that fits the clock); keys beyond the
// five are ignored. Dates are rounded to the nearest microsecond, so every profile whose date has
// microsecond resolution (all that the analyses make) reads back equal to what was encoded.
// Errors: "ReferenceTrack" kProfileNotDecodable, the message naming what is wrong.
Result<SpectralProfile> decodeSpectralProfile(std::string_view json);

}  // namespace korvanta

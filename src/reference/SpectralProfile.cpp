#include "reference/SpectralProfile.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>

namespace korvanta {

namespace {

using Json = nlohmann::json;

constexpr const char* kFrequencies = "frequencies";
constexpr const char* kMagnitudes = "magnitudes";
constexpr const char* kReferenceFileName = "referenceFileName";
constexpr const char* kDateCreated = "dateCreated";
constexpr const char* kSpectrum12Band = "spectrum12Band";

// The double whose shortest text is the shortest text of `value` as a float, when that double
// still rounds back to `value`; otherwise the exact value. Either way reading the text back and
// rounding to float gives `value` again, and the text stays short ("0.1", not
// "0.10000000149011612").
double shortestJsonNumber(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double parsed = 0.0;
    if (written.ec == std::errc{} &&
        std::from_chars(text, written.ptr, parsed).ec == std::errc{} &&
        static_cast<float>(parsed) == value) {
        return parsed;
    }
    return static_cast<double>(value);
}

Result<Json> floatArray(const std::vector<float>& values, const char* key) {
    Json array = Json::array();
    for (float v : values) {
        if (!std::isfinite(v)) {
            return Error{errc::kReferenceTrack, errc::kProfileNotEncodable,
                         std::string("The profile's \"") + key +
                             "\" list holds a value that is not a finite number."};
        }
        array.push_back(shortestJsonNumber(v));
    }
    return array;
}

Error decodeError(std::string message) {
    return Error{errc::kReferenceTrack, errc::kProfileNotDecodable, std::move(message)};
}

const Json* requiredMember(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

Error missingKey(const char* key) {
    return decodeError(std::string("The stored reference profile has no \"") + key + "\" key.");
}

Result<std::vector<float>> readFloatArray(const Json& object, const char* key) {
    const Json* member = requiredMember(object, key);
    if (!member) return missingKey(key);
    if (!member->is_array()) {
        return decodeError(std::string("\"") + key + "\" of the stored reference profile is not an array.");
    }
    std::vector<float> values;
    values.reserve(member->size());
    for (size_t i = 0; i < member->size(); ++i) {
        const Json& element = (*member)[i];
        const std::string where = std::string("\"") + key + "\"[" + std::to_string(i) + "]";
        if (!element.is_number()) {
            return decodeError(where + " of the stored reference profile is not a number.");
        }
        const auto v = static_cast<float>(element.get<double>());
        if (!std::isfinite(v)) {
            return decodeError(where + " of the stored reference profile is beyond the range of a float.");
        }
        values.push_back(v);
    }
    return values;
}

std::chrono::system_clock::time_point referenceEpoch() {
    return std::chrono::system_clock::time_point(
        std::chrono::seconds(static_cast<int64_t>(kProfileDateEpochOffset)));
}

// Whole seconds and the nanoseconds beyond them are converted apart (both exactly), so that the
// only rounding is the sum's: the result is the double nearest the date, which
// microsecondsFromSeconds maps back to the same microsecond across the whole accepted range.
double secondsSinceReferenceEpoch(std::chrono::system_clock::time_point date) {
    using std::chrono::nanoseconds;
    const int64_t ns = std::chrono::duration_cast<nanoseconds>(date - referenceEpoch()).count();
    return static_cast<double>(ns / 1000000000) + static_cast<double>(ns % 1000000000) / 1e9;
}

// `seconds` (|seconds| < 8e9) to the nearest microsecond. The whole seconds are split off
// exactly first: scaling the whole value by 1e6 would round it once more, which near 8e9 s (where
// doubles are 0.95 µs apart) can land on the neighbouring microsecond.
int64_t microsecondsFromSeconds(double seconds) {
    const double whole = std::floor(seconds);
    return static_cast<int64_t>(whole) * 1000000 + std::llround((seconds - whole) * 1e6);
}

}  // namespace

Result<std::string> encodeSpectralProfile(const SpectralProfile& profile) {
    try {
        Json object = Json::object();
        for (auto [key, list] : {std::pair{kFrequencies, &profile.frequencies},
                                 std::pair{kMagnitudes, &profile.magnitudes},
                                 std::pair{kSpectrum12Band, &profile.spectrum12Band}}) {
            auto array = floatArray(*list, key);
            if (!array) return array.error();
            object[key] = std::move(array).value();
        }
        object[kReferenceFileName] = profile.referenceFileName;
        object[kDateCreated] = secondsSinceReferenceEpoch(profile.dateCreated);
        return object.dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const std::exception& e) {
        return Error{errc::kReferenceTrack, errc::kProfileNotEncodable,
                     std::string("The reference profile could not be encoded: ") + e.what()};
    }
}

Result<SpectralProfile> decodeSpectralProfile(std::string_view json) {
    try {
        const Json object = Json::parse(json.begin(), json.end(), nullptr, false);
        if (object.is_discarded()) return decodeError("The stored reference profile is not valid JSON.");
        if (!object.is_object()) return decodeError("The stored reference profile is not a JSON object.");

        SpectralProfile profile;
        auto frequencies = readFloatArray(object, kFrequencies);
        if (!frequencies) return frequencies.error();
        profile.frequencies = std::move(frequencies).value();

        auto magnitudes = readFloatArray(object, kMagnitudes);
        if (!magnitudes) return magnitudes.error();
        profile.magnitudes = std::move(magnitudes).value();

        const Json* name = requiredMember(object, kReferenceFileName);
        if (!name) return missingKey(kReferenceFileName);
        if (!name->is_string()) {
            return decodeError("\"referenceFileName\" of the stored reference profile is not a string.");
        }
        profile.referenceFileName = name->get<std::string>();

        const Json* date = requiredMember(object, kDateCreated);
        if (!date) return missingKey(kDateCreated);
        if (!date->is_number()) {
            return decodeError("\"dateCreated\" of the stored reference profile is not a number.");
        }
        const double seconds = date->get<double>();
        // The clock counts nanoseconds in 64 bits: about ±292 years around 1970.
        if (!(std::fabs(seconds) < 8.0e9)) {
            return decodeError("\"dateCreated\" of the stored reference profile is out of range.");
        }
        profile.dateCreated = referenceEpoch() + std::chrono::microseconds(microsecondsFromSeconds(seconds));

        auto bands = readFloatArray(object, kSpectrum12Band);
        if (!bands) return bands.error();
        profile.spectrum12Band = std::move(bands).value();
        return profile;
    } catch (const std::exception& e) {
        return decodeError(std::string("The stored reference profile could not be read: ") + e.what());
    }
}

}  // namespace korvanta

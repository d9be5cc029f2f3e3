#include "eq/EQSettings.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <optional>

#include <nlohmann/json.hpp>

namespace korvanta {

namespace {

using nlohmann::json;

constexpr const char* kErrorDomain = "EQSettings";
constexpr int kDecodeFailed = 1;
constexpr int kEncodeFailed = 2;
constexpr const char* kPeaking = "Peaking";

// A float as a JSON number that reads back to exactly the same 32-bit value: the shortest decimal
// digits of the float when the double nearest to them rounds back to it (always, in practice), or
// else the float's exact value as a double. Non-finite values have no JSON form and become null,
// which decoding rejects.
json floatToJson(float value) {
    if (!std::isfinite(value)) return nullptr;
    char digits[32];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    double parsed = 0.0;
    const auto read = std::from_chars(digits, written.ptr, parsed);
    if (written.ec != std::errc() || read.ec != std::errc() || static_cast<float>(parsed) != value) {
        parsed = static_cast<double>(value);
    }
    return parsed;
}

json bandToJson(const EQBand& band) {
    return json{{"frequency", floatToJson(band.frequency)},
                {"gain", floatToJson(band.gain)},
                {"type", kPeaking},
                {"q", floatToJson(band.q)}};
}

json settingsToJson(const EQSettings& s) {
    json bands = json::array();
    for (const auto& band : s.bands) bands.push_back(bandToJson(band));
    return json{{"bands", std::move(bands)},
                {"isEnabled", s.isEnabled},
                {"masterGain", floatToJson(s.masterGain)},
                {"stereoEnhancementEnabled", s.stereoEnhancementEnabled},
                {"stereoWidth", floatToJson(s.stereoWidth)},
                {"midEnhancementEnabled", s.midEnhancementEnabled},
                {"midAmount", floatToJson(s.midAmount)},
                {"isAutoReferenceMode", s.isAutoReferenceMode}};
}

// The name of the first field that JSON cannot represent, if any.
std::optional<std::string> firstUnencodableField(const EQSettings& s) {
    for (size_t i = 0; i < s.bands.size(); ++i) {
        const auto& b = s.bands[i];
        const std::string prefix = "bands[" + std::to_string(i) + "].";
        if (!std::isfinite(b.frequency)) return prefix + "frequency";
        if (!std::isfinite(b.gain)) return prefix + "gain";
        if (!std::isfinite(b.q)) return prefix + "q";
    }
    if (!std::isfinite(s.masterGain)) return "masterGain";
    if (!std::isfinite(s.stereoWidth)) return "stereoWidth";
    if (!std::isfinite(s.midAmount)) return "midAmount";
    return std::nullopt;
}

Result<std::string> encodeChecked(const EQSettings& settings) {
    if (auto field = firstUnencodableField(settings)) {
        return Error{kErrorDomain, kEncodeFailed,
                     "The value of " + *field + " is not a finite number and cannot be written as JSON."};
    }
    return settingsToJson(settings).dump();
}

Error decodeError(const std::string& what) {
    return Error{kErrorDomain, kDecodeFailed, "The EQ settings could not be read: " + what + "."};
}

// Strict field readers: the key must be present and hold a value of the right JSON kind.
// `where` names the enclosing object in messages ("" for the record, "bands[3]" for a band).
std::string fieldName(const std::string& where, const char* key) {
    return where.empty() ? std::string("\"") + key + "\"" : where + ".\"" + key + "\"";
}

Result<const json*> member(const json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end()) return decodeError("the key " + fieldName(where, key) + " is missing");
    return &*it;
}

Result<float> readFloat(const json& object, const char* key, const std::string& where) {
    auto value = member(object, key, where);
    if (!value) return value.error();
    const json& v = *value.value();
    if (!v.is_number()) return decodeError(fieldName(where, key) + " is not a number");
    const auto f = static_cast<float>(v.get<double>());
    if (!std::isfinite(f)) {
        return decodeError(fieldName(where, key) + " does not fit in a 32-bit float");
    }
    return f;
}

Result<bool> readBool(const json& object, const char* key, const std::string& where) {
    auto value = member(object, key, where);
    if (!value) return value.error();
    const json& v = *value.value();
    if (!v.is_boolean()) return decodeError(fieldName(where, key) + " is not a boolean");
    return v.get<bool>();
}

Result<EQBand> readBand(const json& object, const std::string& where) {
    if (!object.is_object()) return decodeError(where + " is not an object");
    auto frequency = readFloat(object, "frequency", where);
    if (!frequency) return frequency.error();
    auto gain = readFloat(object, "gain", where);
    if (!gain) return gain.error();
    auto type = member(object, "type", where);
    if (!type) return type.error();
    const json& t = *type.value();
    if (!t.is_string() || t.get_ref<const std::string&>() != kPeaking) {
        return decodeError(fieldName(where, "type") + " is not \"Peaking\"");
    }
    auto q = readFloat(object, "q", where);
    if (!q) return q.error();
    return EQBand{frequency.value(), gain.value(), EQBandType::peaking, q.value()};
}

}  // namespace

std::vector<EQBand> EQSettings::defaultBands() {
    struct Row {
        float frequency;
        float q;
    };
    static constexpr Row kRows[] = {{32.0f, 0.7f},    {63.0f, 0.8f},    {125.0f, 0.9f},
                                    {250.0f, 1.0f},   {500.0f, 1.0f},   {1000.0f, 1.0f},
                                    {2000.0f, 1.0f},  {4000.0f, 1.0f},  {8000.0f, 0.9f},
                                    {12000.0f, 0.8f}, {16000.0f, 0.7f}, {20000.0f, 0.6f}};
    std::vector<EQBand> bands;
    bands.reserve(std::size(kRows));
    for (const auto& row : kRows) bands.push_back(EQBand{row.frequency, 0.0f, EQBandType::peaking, row.q});
    return bands;
}

// Non-finite floats have no JSON form: they are written as null, which decodeEQSettings rejects.
// saveEQSettings refuses such records instead of storing them.
std::string encodeEQSettings(const EQSettings& settings) { return settingsToJson(settings).dump(); }

Result<EQSettings> decodeEQSettings(std::string_view text) {
    const json root = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) return decodeError("the data is not valid JSON");
    if (!root.is_object()) return decodeError("the data is not a JSON object");

    EQSettings s;
    auto bands = member(root, "bands", "");
    if (!bands) return bands.error();
    const json& list = *bands.value();
    if (!list.is_array()) return decodeError("\"bands\" is not an array");
    s.bands.clear();
    s.bands.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        auto band = readBand(list[i], "bands[" + std::to_string(i) + "]");
        if (!band) return band.error();
        s.bands.push_back(band.value());
    }

    auto isEnabled = readBool(root, "isEnabled", "");
    if (!isEnabled) return isEnabled.error();
    auto masterGain = readFloat(root, "masterGain", "");
    if (!masterGain) return masterGain.error();
    auto stereoOn = readBool(root, "stereoEnhancementEnabled", "");
    if (!stereoOn) return stereoOn.error();
    auto stereoWidth = readFloat(root, "stereoWidth", "");
    if (!stereoWidth) return stereoWidth.error();
    auto midOn = readBool(root, "midEnhancementEnabled", "");
    if (!midOn) return midOn.error();
    auto midAmount = readFloat(root, "midAmount", "");
    if (!midAmount) return midAmount.error();
    auto autoReference = readBool(root, "isAutoReferenceMode", "");
    if (!autoReference) return autoReference.error();

    s.isEnabled = isEnabled.value();
    s.masterGain = masterGain.value();
    s.stereoEnhancementEnabled = stereoOn.value();
    s.stereoWidth = stereoWidth.value();
    s.midEnhancementEnabled = midOn.value();
    s.midAmount = midAmount.value();
    s.isAutoReferenceMode = autoReference.value();
    return s;
}

void saveEQSettings(const EQSettings& settings, const std::string& key, Preferences& store) {
    auto encoded = encodeChecked(settings);
    if (!encoded) {
        std::cout << "Failed to save EQ settings: " << encoded.error().description() << std::endl;
        return;
    }
    const std::string& text = encoded.value();
    store.setBytes(key, Bytes(text.begin(), text.end()));
    store.synchronize();
}

EQSettings loadEQSettings(const std::string& key, Preferences& store) {
    const auto bytes = store.bytesValue(key);
    if (!bytes) return EQSettings{};
    auto decoded = decodeEQSettings(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    return decoded ? std::move(decoded).value() : EQSettings{};
}

}  // namespace korvanta

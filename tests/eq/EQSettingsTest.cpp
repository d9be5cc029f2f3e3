#include "eq/EQSettings.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include <nlohmann/json.hpp>

namespace korvanta {
namespace {

using nlohmann::json;

EQSettings awkwardRecord() {
    EQSettings s{.isEnabled = true, .masterGain = -2.7f, .stereoEnhancementEnabled = true, .stereoWidth = 1.37f,
                 .midEnhancementEnabled = true, .midAmount = 1.9999999f, .isAutoReferenceMode = true};
    const float gains[] = {0.1f, -0.1f, 1e-7f, -9.99f, 10.0f, -10.0f,
                           3.3333333f, 0.3f, 1.0f / 3.0f, -0.0f, 7.05f, 2.675f};
    for (size_t i = 0; i < s.bands.size(); ++i) s.bands[i].gain = gains[i];
    return s;
}

std::string bytesToText(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(EQSettings, DefaultRecordMatchesTheBandTable) {
    // Disabled, flat, and a width and mid amount of 1.0, which change nothing.
    EQSettings expected{.bands = {}, .isEnabled = false, .masterGain = 0.0f, .stereoEnhancementEnabled = false,
                        .stereoWidth = 1.0f, .midEnhancementEnabled = false, .midAmount = 1.0f,
                        .isAutoReferenceMode = false};
    const float table[][2] = {{32, 0.7f},   {63, 0.8f},   {125, 0.9f},   {250, 1.0f},   {500, 1.0f},   {1000, 1.0f},
                              {2000, 1.0f}, {4000, 1.0f}, {8000, 0.9f}, {12000, 0.8f}, {16000, 0.7f}, {20000, 0.6f}};
    for (auto [frequency, q] : table) expected.bands.push_back({frequency, 0.0f, EQBandType::peaking, q});
    const EQSettings s;
    ASSERT_EQ(s.bands.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(s.bands[i], expected.bands[i]) << "band " << i + 1 << ": " << s.bands[i].frequency << " Hz, gain "
                                                 << s.bands[i].gain << ", Q " << s.bands[i].q;
    }
    EXPECT_EQ(s, expected) << "the flags, master gain, width or mid amount differ";
}

TEST(EQSettings, JsonHasExactlyTheDocumentedKeysAndKinds) {
    const json j = json::parse(encodeEQSettings(awkwardRecord()));
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j.size(), 8u) << "no keys beyond the eight of the record";
    for (const char* key : {"isEnabled", "stereoEnhancementEnabled", "midEnhancementEnabled", "isAutoReferenceMode"}) {
        EXPECT_TRUE(j.at(key).is_boolean()) << key << " is a flag";
    }
    for (const char* key : {"masterGain", "stereoWidth", "midAmount"}) EXPECT_TRUE(j.at(key).is_number()) << key;
    ASSERT_TRUE(j.at("bands").is_array());
    ASSERT_EQ(j.at("bands").size(), 12u);
    for (const auto& band : j.at("bands")) {
        EXPECT_EQ(band.size(), 4u);
        EXPECT_EQ(band.at("type"), "Peaking");
        for (const char* key : {"frequency", "gain", "q"}) EXPECT_TRUE(band.at(key).is_number()) << key;
    }
}

TEST(EQSettings, RoundTripGivesAnEqualRecordWhateverTheBandCount) {
    std::vector<EQSettings> records = {EQSettings{}, awkwardRecord()};
    for (size_t count : {0u, 1u, 13u, 31u}) {
        EQSettings& s = records.emplace_back();
        s.bands.clear();
        for (size_t i = 0; i < count; ++i) {
            s.bands.push_back({20.0f * float(i + 1), 0.25f * float(i), EQBandType::peaking, 0.5f + 0.01f * float(i)});
        }
    }
    for (const EQSettings& s : records) {
        auto back = decodeEQSettings(encodeEQSettings(s));
        ASSERT_TRUE(back.ok()) << s.bands.size() << " bands: " << back.error().description();
        EXPECT_EQ(back.value(), s) << s.bands.size() << " bands come back unchanged, not padded to 12";
    }
}

TEST(EQSettings, EveryFiniteFloatReadsBackBitForBit) {
    // Random bit patterns cover subnormals, extremes and values whose shortest decimal form is
    // far from obvious; each must read back as exactly the same 32-bit value.
    std::mt19937 rng(20240611);
    const auto finite = [&] {
        float x;
        do {
            x = std::bit_cast<float>(static_cast<uint32_t>(rng()));
        } while (!std::isfinite(x));
        return x;
    };
    for (int record = 0; record < 60; ++record) {
        EQSettings s;
        s.bands.clear();
        while (s.bands.size() < 1000) {
            const float frequency = finite(), gain = finite();
            s.bands.push_back({frequency, gain, EQBandType::peaking, finite()});
        }
        s.bands.push_back({std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                           EQBandType::peaking, std::numeric_limits<float>::denorm_min()});
        auto back = decodeEQSettings(encodeEQSettings(s));
        ASSERT_TRUE(back.ok()) << back.error().description();
        ASSERT_EQ(back->bands.size(), s.bands.size());
        for (size_t i = 0; i < s.bands.size(); ++i) {
            const auto& a = s.bands[i];
            const auto& b = back->bands[i];
            for (auto [x, y] : {std::pair{a.frequency, b.frequency}, {a.gain, b.gain}, {a.q, b.q}}) {
                ASSERT_EQ(std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y)) << x;
            }
        }
    }
}

// A valid encoded record as a JSON tree, for the strictness table below to break.
json validTree() { return json::parse(encodeEQSettings(awkwardRecord())); }

TEST(EQSettings, DecodingIsStrict) {
    const struct {
        const char* why;
        std::function<void(json&)> damage;
    } cases[] = {
        {"missing isAutoReferenceMode", [](json& j) { j.erase("isAutoReferenceMode"); }},
        {"missing bands", [](json& j) { j.erase("bands"); }},
        {"missing masterGain", [](json& j) { j.erase("masterGain"); }},
        {"missing band q", [](json& j) { j["bands"][5].erase("q"); }},
        {"missing band type", [](json& j) { j["bands"][0].erase("type"); }},
        {"band type HighShelf", [](json& j) { j["bands"][2]["type"] = "HighShelf"; }},
        {"band type in lower case", [](json& j) { j["bands"][2]["type"] = "peaking"; }},
        {"band type as a number", [](json& j) { j["bands"][2]["type"] = 0; }},
        {"flag as a number", [](json& j) { j["isEnabled"] = 1; }},
        {"flag as a string", [](json& j) { j["midEnhancementEnabled"] = "true"; }},
        {"float as a string", [](json& j) { j["stereoWidth"] = "1.5"; }},
        {"float as a boolean", [](json& j) { j["midAmount"] = true; }},
        {"float as null", [](json& j) { j["masterGain"] = nullptr; }},
        {"band gain as null", [](json& j) { j["bands"][7]["gain"] = nullptr; }},
        {"float beyond 32-bit range", [](json& j) { j["masterGain"] = 1e39; }},
        {"bands as an object", [](json& j) { j["bands"] = json::object(); }},
        {"a band that is not an object", [](json& j) { j["bands"][4] = 1.0; }},
        {"top level an array", [](json& j) { j = json::array({j}); }},
    };
    for (const auto& c : cases) {
        json j = validTree();
        c.damage(j);
        auto decoded = decodeEQSettings(j.dump());
        ASSERT_FALSE(decoded.ok()) << c.why << " must fail to decode";
        EXPECT_EQ(decoded.error().domain, "EQSettings") << c.why;
        EXPECT_EQ(decoded.error().code, 1) << c.why;
    }
    for (const char* text : {"", "{", "not json", "{\"bands\": [], NaN}"}) {
        EXPECT_FALSE(decodeEQSettings(text).ok()) << "'" << text << "' is not valid JSON";
    }
}

TEST(EQSettings, DecodingAcceptsWhatTheFormLeavesFree) {
    // Key order carries no meaning, integers are numbers, and unknown keys are ignored.
    const std::string text = R"({"isAutoReferenceMode": false, "midAmount": 2, "midEnhancementEnabled": true,
        "stereoWidth": 1, "stereoEnhancementEnabled": false, "masterGain": -3, "isEnabled": true,
        "comment": "written by hand",
        "bands": [{"q": 1, "type": "Peaking", "gain": 4, "frequency": 440}]})";
    auto decoded = decodeEQSettings(text);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    EXPECT_EQ(decoded.value(), (EQSettings{.bands = {{440.0f, 4.0f, EQBandType::peaking, 1.0f}}, .isEnabled = true,
                                           .masterGain = -3.0f, .midEnhancementEnabled = true, .midAmount = 2.0f}));
}

TEST(EQSettings, SaveAndLoadThroughThePreferencesStore) {
    MemoryPreferences store;
    EXPECT_EQ(loadEQSettings(kEQSettingsKey, store), EQSettings{}) << "a key never written loads as the default record";

    const EQSettings s = awkwardRecord();
    saveEQSettings(s, kActiveEQSettingsKey, store);
    ASSERT_TRUE(store.bytesValue(kActiveEQSettingsKey).has_value()) << "stored as a data value";
    EXPECT_TRUE(decodeEQSettings(bytesToText(*store.bytesValue(kActiveEQSettingsKey))).ok());
    EXPECT_EQ(loadEQSettings(kActiveEQSettingsKey, store), s);
    EXPECT_FALSE(store.contains(kEQSettingsKey)) << "only the key asked for is written";
}

TEST(EQSettings, UndecodableStoredValuesLoadAsTheWholeDefaultRecord) {
    MemoryPreferences store;
    // The stored bands are not default, so a partial decode would show through.
    json j = validTree();
    j.erase("isAutoReferenceMode");
    const std::string text = j.dump();
    store.setBytes(kEQSettingsKey, Bytes(text.begin(), text.end()));
    EXPECT_EQ(loadEQSettings(kEQSettingsKey, store), EQSettings{})
        << "a missing flag discards the whole record, bands included";
    EXPECT_EQ(bytesToText(*store.bytesValue(kEQSettingsKey)), text) << "loading leaves the undecodable value in place";

    store.setBool(kEQSettingsKey, true);
    EXPECT_EQ(loadEQSettings(kEQSettingsKey, store), EQSettings{}) << "a value that is not data";
}

TEST(EQSettings, SaveFailurePrintsAndLeavesTheStoreUnchanged) {
    MemoryPreferences store;
    const EQSettings good = awkwardRecord();
    saveEQSettings(good, kEQSettingsKey, store);
    const Bytes before = *store.bytesValue(kEQSettingsKey);

    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        EQSettings s = good;
        s.bands[4].gain = bad;
        testing::internal::CaptureStdout();
        saveEQSettings(s, kEQSettingsKey, store);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed.rfind("Failed to save EQ settings: ", 0), 0u) << printed;
        EXPECT_NE(printed.find("bands[4].gain"), std::string::npos) << "says which value: " << printed;
        EXPECT_EQ(*store.bytesValue(kEQSettingsKey), before) << "the earlier record stays stored";
    }

    EQSettings s = good;
    s.midAmount = std::numeric_limits<float>::quiet_NaN();
    testing::internal::CaptureStdout();
    saveEQSettings(s, kActiveEQSettingsKey, store);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Failed to save EQ settings: "), std::string::npos);
    EXPECT_FALSE(store.contains(kActiveEQSettingsKey)) << "nothing is written on failure";
}

}  // namespace
}  // namespace korvanta

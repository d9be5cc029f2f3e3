// The stored JSON form of a reference profile and the preferences entry that holds it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "platform/Preferences.h"
#include "reference/ReferenceProfileStore.h"
#include "reference/SpectralProfile.h"

namespace korvanta {
namespace {

using Json = nlohmann::json;
using std::chrono::system_clock;

system_clock::time_point unixSeconds(int64_t seconds) {
    return system_clock::time_point(std::chrono::seconds(seconds));
}

SpectralProfile sampleProfile() {
    SpectralProfile p;
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> db(-200.0f, 60.0f);
    for (int i = 0; i < 100; ++i) {
        p.frequencies.push_back(std::pow(10.0f, static_cast<float>(i) / 99.0f * 3.0f + 1.30103f));
        p.magnitudes.push_back(db(rng));
    }
    p.referenceFileName = "Réference – song.wav";
    p.dateCreated = unixSeconds(1718000000) + std::chrono::microseconds(123457);
    p.spectrum12Band = {0.0f, 0.1f, 1.0f / 3.0f, 5.5f, 10.0f, 7.25f, 3.3f, 2.2f, 1.1f, 0.5f, 0.0f, 0.0f};
    return p;
}

std::string encoded(const SpectralProfile& p) {
    auto json = encodeSpectralProfile(p);
    EXPECT_TRUE(json.ok()) << (json.ok() ? "" : json.error().description());
    return json.ok() ? json.value() : std::string();
}

TEST(SpectralProfileJson, WritesExactlyTheFiveKeysWithTheirKinds) {
    const Json object = Json::parse(encoded(sampleProfile()));
    ASSERT_TRUE(object.is_object());
    EXPECT_EQ(object.size(), 5u);
    for (const char* list : {"frequencies", "magnitudes", "spectrum12Band"}) {
        EXPECT_TRUE(object.at(list).is_array()) << list;
    }
    EXPECT_TRUE(object.at("referenceFileName").is_string());
    EXPECT_TRUE(object.at("dateCreated").is_number());
}

TEST(SpectralProfileJson, FloatsReadBackBitExactAndShort) {
    SpectralProfile p;  // arbitrary bit patterns over the whole finite range, subnormals included
    std::mt19937 rng(99);
    while (p.magnitudes.size() < 2000) {
        const float v = std::bit_cast<float>(static_cast<uint32_t>(rng()));
        if (std::isfinite(v)) p.magnitudes.push_back(v);
    }
    p.magnitudes.insert(p.magnitudes.end(), {std::numeric_limits<float>::max(),
                                             std::numeric_limits<float>::denorm_min(), -0.0f});
    p.frequencies = p.magnitudes;
    auto decoded = decodeSpectralProfile(encoded(p));
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    ASSERT_EQ(decoded->magnitudes.size(), p.magnitudes.size());
    for (size_t i = 0; i < p.magnitudes.size(); ++i) {
        ASSERT_EQ(std::bit_cast<uint32_t>(decoded->magnitudes[i]), std::bit_cast<uint32_t>(p.magnitudes[i]))
            << "value " << i << " = " << p.magnitudes[i];
    }
    // The float's shortest form, not the widened double's 17 digits.
    SpectralProfile tenth;
    tenth.spectrum12Band = {0.1f};
    EXPECT_NE(encoded(tenth).find("[0.1]"), std::string::npos) << encoded(tenth);
}

TEST(SpectralProfileJson, DatesCountSecondsFrom2001) {
    // Unix 978307200 s is 2001-01-01 00:00 UTC, 1704067200 s 2024-01-01; earlier dates are negative.
    const std::pair<int64_t, double> cases[] = {{978307200, 0.0}, {1704067200, 725760000.0}, {0, -978307200.0}};
    for (const auto& [seconds, stored] : cases) {
        SpectralProfile p;
        p.dateCreated = unixSeconds(seconds);
        Json object = Json::parse(encoded(p));
        EXPECT_EQ(object.at("dateCreated").get<double>(), stored) << "unix " << seconds;
        object["dateCreated"] = stored;
        auto decoded = decodeSpectralProfile(object.dump());
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(decoded->dateCreated, unixSeconds(seconds));
    }
    // A fractional date from elsewhere keeps its sub-second part.
    auto fractional = decodeSpectralProfile(
        R"({"frequencies":[],"magnitudes":[],"referenceFileName":"","dateCreated":1.25,"spectrum12Band":[]})");
    ASSERT_TRUE(fractional.ok());
    EXPECT_EQ(fractional->dateCreated, unixSeconds(978307201) + std::chrono::milliseconds(250));
    SpectralProfile fine;  // a clock reading with nanoseconds comes back within a microsecond
    fine.dateCreated = unixSeconds(1718000000) + std::chrono::nanoseconds(987654321);
    auto decoded = decodeSpectralProfile(encoded(fine));
    ASSERT_TRUE(decoded.ok());
    EXPECT_LE(std::chrono::abs(decoded->dateCreated - fine.dateCreated), std::chrono::microseconds(1));
}

TEST(SpectralProfileJson, MicrosecondDatesReadBackExactlyAcrossTheWholeRange) {
    // Beyond 2^32 s from 2001 doubles lie 0.95 µs apart: one extra rounding on the way in or out
    // lands on the neighbouring microsecond (as the fuzz target's stored date 7889184000.123456 did).
    using std::chrono::microseconds;
    const system_clock::time_point epoch = unixSeconds(978307200);
    const int64_t micros[] = {0, 1, -1, 725760000123457, 4294967296000001, 7889184000123456, 7999999999999999,
                              -7999999999999999, -4294967296999999};
    for (int64_t us : micros) {
        SpectralProfile p;
        p.dateCreated = epoch + microseconds(us);
        auto decoded = decodeSpectralProfile(encoded(p));
        ASSERT_TRUE(decoded.ok()) << us;
        EXPECT_EQ((decoded->dateCreated - epoch).count(), (p.dateCreated - epoch).count()) << us << " µs";
    }
    // The fuzz finding's text reads as its nearest microsecond, and back unchanged.
    const std::string finding =
        R"({"frequencies":[20.0,362.455322265625,20000.0],"magnitudes":[-12.5,-3.0,-60.25],)"
        R"("referenceFileName":"Reference Song.wqv","dateCreated":7889184000.123456,)"
        R"("spectrum12Band":[5.0,6.5,7.0,0.0,3.0,5.5,6.0,2.0,1.0,0.5,0.0,10.0]})";
    auto decoded = decodeSpectralProfile(finding);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->dateCreated, epoch + microseconds(7889184000123456));
    auto again = decodeSpectralProfile(encoded(decoded.value()));
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->dateCreated, decoded->dateCreated);
    EXPECT_TRUE(again.value() == decoded.value()) << "every other field reads back too";
}

TEST(SpectralProfileJson, ReadingIsStrict) {
    const Json good = Json::parse(encoded(sampleProfile()));
    ASSERT_TRUE(decodeSpectralProfile(good.dump()).ok());

    struct Case {
        const char* what;
        std::function<void(Json&)> spoil;
        const char* messageNames;
    };
    const Case cases[] = {
        {"frequencies missing", [](Json& j) { j.erase("frequencies"); }, "frequencies"},
        {"magnitudes missing", [](Json& j) { j.erase("magnitudes"); }, "magnitudes"},
        {"name missing", [](Json& j) { j.erase("referenceFileName"); }, "referenceFileName"},
        {"date missing", [](Json& j) { j.erase("dateCreated"); }, "dateCreated"},
        {"bands missing", [](Json& j) { j.erase("spectrum12Band"); }, "spectrum12Band"},
        {"list not an array", [](Json& j) { j["magnitudes"] = 3.0; }, "magnitudes"},
        {"string in a list", [](Json& j) { j["frequencies"][4] = "20"; }, "frequencies"},
        {"null in a list", [](Json& j) { j["spectrum12Band"][0] = nullptr; }, "spectrum12Band"},
        {"float overflow", [](Json& j) { j["magnitudes"][0] = 1e300; }, "magnitudes"},
        {"name a number", [](Json& j) { j["referenceFileName"] = 5; }, "referenceFileName"},
        {"date a string", [](Json& j) { j["dateCreated"] = "2024-01-01"; }, "dateCreated"},
        {"date out of range", [](Json& j) { j["dateCreated"] = 1e300; }, "dateCreated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Json spoiled = good;
        c.spoil(spoiled);
        auto decoded = decodeSpectralProfile(spoiled.dump());
        ASSERT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error().domain, "ReferenceTrack");
        EXPECT_EQ(decoded.error().code, errc::kProfileNotDecodable);
        EXPECT_NE(decoded.error().message.find(c.messageNames), std::string::npos) << decoded.error().message;
    }
    for (const char* text : {"", "not json", "[1,2]", "{\"frequencies\":[1,2]", "null"}) {
        auto decoded = decodeSpectralProfile(text);
        ASSERT_FALSE(decoded.ok()) << text;
        EXPECT_EQ(decoded.error().code, errc::kProfileNotDecodable) << text;
    }
}

TEST(SpectralProfileJson, NonFiniteValuesCannotBeEncoded) {
    // JSON has no infinity or NaN; null in their place would store a profile that never loads.
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        SpectralProfile p = sampleProfile();
        p.magnitudes[10] = bad;
        auto json = encodeSpectralProfile(p);
        ASSERT_FALSE(json.ok());
        EXPECT_EQ(json.error().domain, "ReferenceTrack");
        EXPECT_EQ(json.error().code, errc::kProfileNotEncodable);
    }
}

TEST(SpectralProfileJson, NameBytesThatAreNotUtf8AreReplacedNotRefused) {
    SpectralProfile p;  // file names on Linux are bytes; the profile must still be storable
    p.referenceFileName = "mix\xff.wav";
    auto decoded = decodeSpectralProfile(encoded(p));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->referenceFileName, "mix\xEF\xBF\xBD.wav");
}

TEST(ReferenceProfileStore, SaveLoadClearUnderTheFixedKey) {
    MemoryPreferences store;
    EXPECT_FALSE(loadProfile(store).has_value()) << "nothing stored yet";

    const SpectralProfile p = sampleProfile();
    saveProfile(p, store);
    auto bytes = store.bytesValue("Korvanta_ReferenceSpectralProfile");
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), encoded(p));
    auto loaded = loadProfile(store);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(*loaded, p) << "floats to the bit, the name byte for byte, the date to the microsecond";

    clearReference(store);
    EXPECT_FALSE(store.contains("Korvanta_ReferenceSpectralProfile"));
    EXPECT_FALSE(loadProfile(store).has_value());
}

TEST(ReferenceProfileStore, NeitherABadProfileNorABadValueReplacesOrRemovesWhatIsStored) {
    MemoryPreferences store;
    const SpectralProfile good = sampleProfile();
    saveProfile(good, store);
    SpectralProfile bad = good;
    bad.referenceFileName = "other.wav";
    bad.spectrum12Band[3] = std::numeric_limits<float>::quiet_NaN();
    saveProfile(bad, store);
    auto loaded = loadProfile(store);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(*loaded, good) << "a failed encoding must keep what was stored before";

    const std::string partial = R"({"frequencies":[20.0],"magnitudes":[-3.0],"referenceFileName":"a.wav"})";
    store.setBytes(kReferenceProfileKey, Bytes(partial.begin(), partial.end()));
    EXPECT_FALSE(loadProfile(store).has_value()) << "two keys are missing";
    EXPECT_TRUE(store.contains(kReferenceProfileKey)) << "loading never removes the stored value";
}

}  // namespace
}  // namespace korvanta

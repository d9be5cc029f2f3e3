#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "app/AudioSettings.h"
#include "app/AudioSettingsManager.h"
#include "app/SettingsStore.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;

// Everything here must behave the same on the persistent INI store and on the memory store.
class PreferencesTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "SettingsStore") {
            store = std::make_unique<SettingsStore>(QString::fromStdString((folder / "settings.ini").string()));
        } else {
            store = std::make_unique<MemoryPreferences>();
        }
    }
    std::set<std::string> keys() const {
        std::set<std::string> out;
        if (auto* ini = dynamic_cast<const SettingsStore*>(store.get())) {
            for (const auto& k : ini->allKeys()) out.insert(k.toStdString());
        } else {
            for (const auto& k : static_cast<const MemoryPreferences&>(*store).keys()) out.insert(k);
        }
        return out;
    }

    test::ScratchFolder folder;
    std::unique_ptr<Preferences> store;
};

TEST_P(PreferencesTest, FreshStoreGetsTheThreeLoudnessDefaults) {
    AudioSettingsManager manager(*store);
    EXPECT_EQ(manager.targetLoudness(), -10.0f);
    EXPECT_EQ(manager.limitThreshold(), -0.2f);
    EXPECT_FALSE(manager.highQualityMode());
    EXPECT_EQ(keys(), (std::set<std::string>{"targetLoudness", "limitThreshold", "highQualityMode"}))
        << "creation stores the three defaults and nothing else";
    EXPECT_EQ(store->floatValue("limitThreshold"), -0.2f);
    EXPECT_EQ(store->boolValue("highQualityMode"), false);
}

TEST_P(PreferencesTest, StoredLoudnessSettingsAreReadAndUnreadableOnesReadAsDefaults) {
    struct Case {
        const char* why;
        std::function<void(Preferences&)> store;
        float target, threshold;
        bool highQuality;
        std::function<bool(const Preferences&)> untouched;
    };
    // A hand-edited or damaged store must never start a batch at 0 LUFS.
    const Case cases[] = {
        {"stored values win; only the absent key gets its default",
         [](Preferences& p) { p.setFloat("targetLoudness", -14.0f), p.setBool("highQualityMode", true); },
         -14.0f, -0.2f, true, [](const Preferences& p) { return p.floatValue("targetLoudness") == -14.0f; }},
        {"values of the wrong kind read as defaults",
         [](Preferences& p) {
             p.setString("targetLoudness", "loud"), p.setBytes("limitThreshold", {0x01, 0x02});
             p.setString("highQualityMode", "maybe");
         },
         -10.0f, -0.2f, false, [](const Preferences& p) { return p.stringValue("targetLoudness") == "loud"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        for (const auto& key : keys()) store->remove(key);
        c.store(*store);
        AudioSettingsManager manager(*store);
        EXPECT_EQ(manager.targetLoudness(), c.target);
        EXPECT_EQ(manager.limitThreshold(), c.threshold);
        EXPECT_EQ(manager.highQualityMode(), c.highQuality);
        EXPECT_TRUE(c.untouched(*store)) << "the stored target is neither overwritten nor repaired";
    }
}

TEST_P(PreferencesTest, SavingStoresTheSettingsAndThePresetName) {
    struct Case {
        const char* why;
        QString exportFormat;
        QString preset;
        bool storedHighQuality;
        std::optional<std::string> storedPreset;
    };
    const Case cases[] = {
        {"WAV keeps the switch's value", "WAV", "Radio", true, "Radio"},
        {"M4A stores false whatever the switch shows", "M4A", "Club", false, "Club"},
        {"no selected preset card stores no name", "WAV", "", true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        store->remove("lastUsedPreset");
        AudioSettingsManager manager(*store);
        manager.setTargetLoudness(-14.0f);
        manager.setLimitThreshold(-0.3f);
        manager.setHighQualityMode(true);
        manager.saveSettings(c.exportFormat, c.preset);
        EXPECT_EQ(store->floatValue("targetLoudness"), -14.0f);
        EXPECT_EQ(store->floatValue("limitThreshold"), -0.3f);
        EXPECT_EQ(store->boolValue("highQualityMode"), c.storedHighQuality);
        EXPECT_EQ(store->stringValue("lastUsedPreset"), c.storedPreset);
        EXPECT_TRUE(manager.highQualityMode()) << "saving does not change the manager";
    }
}

TEST_P(PreferencesTest, PresetTargetFollowsTheLastPresetThenTheStoredTarget) {
    AudioSettingsManager manager(*store);
    store->setFloat("targetLoudness", -11.5f);
    store->setString("lastUsedPreset", "Radio");
    EXPECT_EQ(manager.presetTargetLUFS(), -14.0f) << "a known preset's target wins";
    store->setString("lastUsedPreset", "radio");
    EXPECT_EQ(manager.presetTargetLUFS(), -11.5f) << "preset names are matched exactly";
    store->setString("lastUsedPreset", "Festival");
    manager.resetPreferences();
    EXPECT_EQ(manager.presetTargetLUFS(), -11.5f) << "after a reset the stored target is used";
    store->remove("targetLoudness");
    EXPECT_EQ(manager.presetTargetLUFS(), 0.0f) << "nothing stored at all reads as 0";
}

TEST_P(PreferencesTest, ResetRemovesExactlyTheUsersChoices) {
    const std::set<std::string> removed = {
        "exportFormat", "normalizationMode", "globalArtworkEnabled", "globalArtworkData",
        "EQSettings", "ActiveEQSettings", "showVectorscope", "processedWithOriginalEQ",
        "stereoEnhancement", "stereoWidth", "lastUsedPreset"};
    const std::set<std::string> kept = {
        "targetLoudness", "limitThreshold", "highQualityMode", "selectedThemeId",
        "SettingsWindowPosition", "eqPositionX", "eqPositionY", "eqWidth", "eqHeight",
        "vectorscopeWindow", "ReferenceTrackWindowPosition", "Korvanta_ReferenceSpectralProfile",
        "someoneElsesKey"};
    for (const auto& key : removed) store->setString(key, "x");
    for (const auto& key : kept) store->setString(key, "y");
    resetPreferences(*store);
    EXPECT_EQ(keys(), kept);
    EXPECT_EQ(store->stringValue("selectedThemeId"), "y") << "kept keys keep their values";
}

INSTANTIATE_TEST_SUITE_P(BothStores, PreferencesTest, ::testing::Values("SettingsStore", "MemoryPreferences"),
                         [](const auto& info) { return info.param; });

// QSettings shares parsed files within a process, so a restart reads a copy under a new name.
QString restartedCopy(const QString& ini) {
    static int restarts = 0;
    const fs::path copy = ini.toStdString() + ".restart-" + std::to_string(++restarts);
    fs::copy_file(ini.toStdString(), copy);
    return QString::fromStdString(copy.string());
}

TEST(SettingsStoreTest, TypedValuesSurviveANewStoreOnTheSameFile) {
    test::ScratchFolder folder;
    const QString ini = QString::fromStdString((folder / "Korvanta.conf").string());
    const Bytes bytes = {0x00, 0xFF, '\n', '=', ';', ',', 0x7F, 0x80, '@'};
    const double third = 1.0 / 3.0;
    {
        SettingsStore first(ini);
        first.setBool("showVectorscope", true);
        first.setBool("globalArtworkEnabled", false);
        first.setFloat("limitThreshold", -0.2f);
        first.setDouble("eqPositionX", third);
        first.setString("lastUsedPreset", "Club");
        first.setString("ReferenceTrackWindowPosition", "{{10, 20}, {300, 400}}");
        first.setString("numberLikeText", "-14");
        first.setString("emptyText", "");
        first.setBytes("globalArtworkData", bytes);
        first.setBytes("emptyBytes", {});
        first.synchronize();
    }
    SettingsStore second(restartedCopy(ini));
    EXPECT_EQ(second.boolValue("showVectorscope"), true);
    EXPECT_EQ(second.boolValue("globalArtworkEnabled"), false);
    EXPECT_EQ(second.floatValue("limitThreshold"), -0.2f) << "the float comes back to the same 32 bits";
    EXPECT_EQ(second.doubleValue("eqPositionX"), third) << "the double comes back to the same 64 bits";
    EXPECT_EQ(second.stringValue("lastUsedPreset"), "Club");
    EXPECT_EQ(second.stringValue("ReferenceTrackWindowPosition"), "{{10, 20}, {300, 400}}")
        << "text with commas stays one string";
    EXPECT_EQ(second.stringValue("numberLikeText"), "-14") << "text that looks like a number stays text";
    EXPECT_EQ(second.stringValue("emptyText"), "");
    EXPECT_EQ(second.bytesValue("globalArtworkData"), bytes) << "every byte value survives";
    EXPECT_EQ(second.bytesValue("emptyBytes"), Bytes{});
    EXPECT_FALSE(second.contains("neverWritten"));

    SettingsStore writer(ini);
    writer.remove("lastUsedPreset");
    writer.synchronize();
    EXPECT_FALSE(SettingsStore(restartedCopy(ini)).contains("lastUsedPreset")) << "a removal persists too";
}

TEST(SettingsStoreTest, UserStoreLivesInTheConfigurationFolder) {
    // Qt reads XDG_CONFIG_HOME once per process: the user scope is moved so the real store stays untouched.
    test::ScratchFolder folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(folder.path().string()));
    {
        SettingsStore store;
        store.setString("selectedThemeId", "original");
        store.synchronize();
    }
    EXPECT_TRUE(fs::is_regular_file(folder / "Korvanta" / "Korvanta.conf"));
    EXPECT_EQ(SettingsStore(QString::fromStdString((folder / "Korvanta" / "Korvanta.conf").string()))
                  .stringValue("selectedThemeId"),
              "original");
}

}  // namespace
}  // namespace korvanta

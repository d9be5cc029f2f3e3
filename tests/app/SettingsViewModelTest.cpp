#include "app/SettingsViewModel.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fstream>

#include "AppTestSupport.h"
#include "export/ExportTestSupport.h"
#include "platform/PreferenceKeys.h"

namespace korvanta::test {
namespace {

class SettingsViewModelTest : public ::testing::Test {
protected:
    MemoryPreferences store;
    AudioSettingsManager settings{store};
    ScratchFolder scratch;
};

TEST_F(SettingsViewModelTest, TheCardOfTheCurrentSettingsIsSelectedAndFollowsThem) {
    settings.setTargetLoudness(-10.05f);
    settings.setLimitThreshold(-0.25f);
    SettingsViewModel model(&settings, nullptr, store);
    EXPECT_EQ(model.selectedPresetIndex(), 2) << "Club, both values within 0.1";

    const QVariantMap radio = model.presets()[1].toMap();
    EXPECT_EQ(radio["title"].toString(), "Radio");
    EXPECT_EQ(radio["lufs"].toString(), "LUFS: -14.0");
    EXPECT_EQ(radio["limiter"].toString(), "Limiter: -0.30");

    settings.setTargetLoudness(-11.0f);  // changed elsewhere: no card matches
    EXPECT_EQ(model.selectedPresetIndex(), -1);

    model.selectPreset(3);
    EXPECT_EQ(model.selectedPresetIndex(), 3);
    EXPECT_FLOAT_EQ(settings.targetLoudness(), -8.0f);
    EXPECT_FLOAT_EQ(settings.limitThreshold(), -0.3f);
    EXPECT_EQ(store.floatValue(keys::kTargetLoudness), -8.0f) << "a tapped card is saved";
}

TEST_F(SettingsViewModelTest, M4aStoresStandardQualityAndKeepsQualityChangesUnstored) {
    settings.setHighQualityMode(true);
    SettingsViewModel model(&settings, nullptr, store);
    EXPECT_EQ(model.exportFormat(), "WAV");
    EXPECT_EQ(model.highQualityText(), "24-bit (better sound, slower processing)");

    model.chooseExportFormat("M4A");
    EXPECT_EQ(store.stringValue(keys::kExportFormat), "M4A");
    EXPECT_EQ(store.boolValue(keys::kHighQualityMode), false);
    model.setHighQualityMode(true);
    EXPECT_EQ(store.boolValue(keys::kHighQualityMode), false) << "nothing is stored while M4A";

    model.chooseExportFormat("WAV");
    EXPECT_EQ(store.boolValue(keys::kHighQualityMode), true) << "WAV stores the manager's mode";
    model.setHighQualityMode(false);
    EXPECT_EQ(store.boolValue(keys::kHighQualityMode), false);
    EXPECT_EQ(model.highQualityText(), "16-bit (smaller files, faster processing)");

    store.setString(keys::kExportFormat, "m4a");  // only "M4A" exactly selects M4A
    EXPECT_EQ(SettingsViewModel(&settings, nullptr, store).exportFormat(), "WAV");
}

TEST_F(SettingsViewModelTest, ArtworkBytesAreStoredUnchangedAndOtherFilesChangeNothing) {
    SettingsViewModel model(&settings, nullptr, store);
    const Bytes png = makeImage(scratch, "color=red:s=8x8", "cover.png");
    ASSERT_FALSE(png.empty());
    std::ofstream(scratch / "notes.jpg") << "not an image";

    QSignalSpy rejected(&model, &SettingsViewModel::artworkRejected);
    model.chooseArtworkFile(urlOf(scratch / "notes.jpg"));
    ASSERT_TRUE(waitUntil([&] { return !model.isLoadingArtwork() && rejected.count() == 1; }));
    EXPECT_FALSE(model.hasArtwork());
    EXPECT_FALSE(store.contains(keys::kGlobalArtworkData));

    model.chooseArtworkFile(urlOf(scratch / "cover.png"));
    ASSERT_TRUE(waitUntil([&] { return !model.isLoadingArtwork() && model.hasArtwork(); }));
    EXPECT_EQ(store.bytesValue(keys::kGlobalArtworkData), png);

    model.setGlobalArtworkEnabled(true);
    EXPECT_EQ(store.boolValue(keys::kGlobalArtworkEnabled), true);
    EXPECT_TRUE(SettingsViewModel(&settings, nullptr, store).hasArtwork()) << "read back on opening";

    model.removeArtwork();
    EXPECT_FALSE(model.hasArtwork());
    EXPECT_FALSE(store.contains(keys::kGlobalArtworkData));
}

}  // namespace
}  // namespace korvanta::test

#include "export/ExportFormat.h"

#include <gtest/gtest.h>

namespace korvanta {
namespace {

TEST(ExportFormat, ListsWavThenM4aWithTheirTextsAndExtensions) {
    ASSERT_EQ(allExportFormats.size(), 2u);
    EXPECT_EQ(allExportFormats[0], ExportFormat::wav) << "lists show WAV first";
    EXPECT_EQ(allExportFormats[1], ExportFormat::m4a);
    EXPECT_EQ(rawValue(ExportFormat::wav), "WAV");
    EXPECT_EQ(rawValue(ExportFormat::m4a), "M4A");
    EXPECT_EQ(fileExtension(ExportFormat::wav), "wav");
    EXPECT_EQ(fileExtension(ExportFormat::m4a), "m4a");
}

// Stored texts are matched byte for byte; anything unknown, absent or not a string reads as WAV.
TEST(ExportFormat, ReadsOnlyExactRawValuesAndRoundTrips) {
    const struct {
        const char* text;
        ExportFormat expected;
    } cases[] = {{"WAV", ExportFormat::wav}, {"M4A", ExportFormat::m4a}, {"m4a", ExportFormat::wav},
                 {"wav", ExportFormat::wav}, {"M4A ", ExportFormat::wav}, {"", ExportFormat::wav},
                 {"AAC", ExportFormat::wav}};
    for (const auto& c : cases) {
        EXPECT_EQ(exportFormatFromRawValue(c.text), c.expected) << '"' << c.text << '"';
        MemoryPreferences store;
        store.setString(kExportFormatKey, c.text);
        EXPECT_EQ(savedExportFormat(store), c.expected) << "stored \"" << c.text << '"';
    }

    MemoryPreferences store;
    EXPECT_EQ(savedExportFormat(store), ExportFormat::wav) << "absent key";
    store.setBool(kExportFormatKey, true);
    EXPECT_EQ(savedExportFormat(store), ExportFormat::wav) << "a value that is not a string";
    saveExportFormat(store, ExportFormat::m4a);
    EXPECT_EQ(store.stringValue("exportFormat"), "M4A") << "stored as its raw value";
    EXPECT_EQ(savedExportFormat(store), ExportFormat::m4a);
}

}  // namespace
}  // namespace korvanta

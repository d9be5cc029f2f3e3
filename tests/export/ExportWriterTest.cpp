#include "export/ExportWriter.h"

#include <gtest/gtest.h>

#include "ExportTestSupport.h"
#include "support/ChildProcess.h"

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;

class ExportWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = folder / "Song_master.wav";
        writeWav(source, makeSine(44100, 2, 0.8, 330.0, 0.5f), WavSampleFormat::int16);
        exports = folder / "exports";
        fs::create_directory(exports);
    }
    // The exports, and nothing half-written beside them.
    std::vector<std::string> exportedNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(exports)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchFolder folder;
    fs::path source;
    fs::path exports;
    MemoryPreferences store;
};

TEST_F(ExportWriterTest, WavAndWhatTheEncoderRefusesAreByteCopiesReplacingAnOldFile) {
    store.setBool("globalArtworkEnabled", true);
    store.setBytes("globalArtworkData", makeImage(folder, "color=c=red:s=32x32", "art.png"));
    const fs::path nine = folder / "nine.wav";
    writeWav(nine, makeNoise(44100, 9, 0.2, 0.3f, 4));  // AAC cannot carry 9 channels
    const MemoryPreferences noArtwork;
    const struct {
        fs::path source;
        const char* name;
        ExportFormat format;
        const Preferences* settings;
    } cases[] = {{source, "Song (MASTER).wav", ExportFormat::wav, &store},  // WAV exports carry no cover
                 {nine, "nine (MASTER).m4a", ExportFormat::m4a, &noArtwork}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(exports / c.name, Bytes(100, 'o'));
        ASSERT_TRUE(writeExportFile(c.source, exports / c.name, c.format, std::nullopt, *c.settings));
        EXPECT_EQ(readBytes(exports / c.name), readBytes(c.source));
    }
    EXPECT_EQ(exportedNames(), (std::vector<std::string>{"Song (MASTER).wav", "nine (MASTER).m4a"}));
}

TEST_F(ExportWriterTest, ADisposableWavMovesIntoPlaceAndAnythingElseIsWritten) {
    const fs::path destination = exports / "Song (MASTER).wav";
    writeBytes(destination, Bytes(100, 'o'));
    const Bytes rendered = readBytes(source);
    ASSERT_TRUE(moveOrWriteExportFile(source, destination, ExportFormat::wav, std::nullopt, store));
    EXPECT_EQ(readBytes(destination), rendered) << "the same bytes, replacing the old file";
    EXPECT_FALSE(fs::exists(source)) << "moved, not copied";
    EXPECT_EQ(exportedNames(), std::vector<std::string>{"Song (MASTER).wav"});

    // M4A is encoded as ever, and the source stays.
    writeBytes(source, rendered);
    ASSERT_TRUE(moveOrWriteExportFile(source, exports / "Song (MASTER).m4a", ExportFormat::m4a, std::nullopt, store));
    EXPECT_EQ(probeFile(exports / "Song (MASTER).m4a").majorBrand, "M4A ");
    EXPECT_EQ(readBytes(source), rendered);

    // A link is exported as the bytes it points at, and stays a link.
    const fs::path link = folder / "link.wav";
    fs::create_symlink(source, link);
    ASSERT_TRUE(moveOrWriteExportFile(link, exports / "Linked.wav", ExportFormat::wav, std::nullopt, store));
    EXPECT_EQ(readBytes(exports / "Linked.wav"), rendered);
    EXPECT_FALSE(fs::is_symlink(exports / "Linked.wav"));
    EXPECT_TRUE(fs::is_symlink(link));

    // A folder at the destination's name is never replaced, and the source is kept.
    const fs::path folderAtName = exports / "taken";
    fs::create_directory(folderAtName);
    EXPECT_FALSE(moveOrWriteExportFile(source, folderAtName, ExportFormat::wav, std::nullopt, store));
    EXPECT_TRUE(fs::is_directory(folderAtName));
    EXPECT_EQ(readBytes(source), rendered);
}

// Which cover an M4A export gets, from the switch, the batch image and the stored image.
TEST_F(ExportWriterTest, M4aCoverFollowsTheArtworkSettingsAsBaselineJpeg) {
    const Bytes stored = makeImage(folder, "color=c=blue:s=50x40", "stored.png");
    const struct {
        const char* name;
        std::optional<bool> enabled;
        std::optional<Bytes> session;
        std::optional<Bytes> storedData;
        int expectedCoverWidth;  // 0: no cover
    } cases[] = {
        {"the batch's own image wins over the stored one", true, makeImage(folder, "testsrc=s=100x80", "session.png"),
         stored, 100},
        {"stored image used without a batch image", true, std::nullopt, stored, 50},
        {"switch off", false, std::nullopt, stored, 0},
        {"switch absent", std::nullopt, std::nullopt, stored, 0},
        {"switch on, no image anywhere", true, std::nullopt, std::nullopt, 0},
        {"unreadable image is left out", true, Bytes{'j', 'u', 'n', 'k'}, stored, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryPreferences settings;
        if (c.enabled) settings.setBool("globalArtworkEnabled", *c.enabled);
        if (c.storedData) settings.setBytes("globalArtworkData", *c.storedData);
        const fs::path destination = exports / "Song (FINAL).m4a";
        ASSERT_TRUE(writeExportFile(source, destination, ExportFormat::m4a, c.session, settings))
            << "artwork problems never fail the export";
        const ProbedFile probed = probeFile(destination);
        const ProbedStream* audio = probed.firstOfType("audio");
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->codecName, "aac");
        EXPECT_EQ(probed.majorBrand, "M4A ");
        EXPECT_NEAR(audio->durationSeconds, 0.8, 0.001) << "the export keeps the rendering's length";
        const ProbedStream* cover = probed.firstOfType("video");
        EXPECT_EQ(cover ? cover->width : 0, c.expectedCoverWidth);
        if (cover) {
            EXPECT_TRUE(cover->attachedPicture);
            const JpegLayout layout = parseJpeg(extractCover(folder, destination));
            EXPECT_TRUE(layout.baseline);
            EXPECT_FALSE(layout.progressive);
            EXPECT_EQ(layout.width, c.expectedCoverWidth);
        }
        EXPECT_EQ(exportedNames(), std::vector<std::string>{"Song (FINAL).m4a"}) << "the previous export is replaced";
    }
}

TEST_F(ExportWriterTest, UnwritableDestinationOrMissingSourceReportsFailure) {
    writeBytes(folder / "not-a-folder", Bytes{1});
    const fs::path folderAtName = exports / "taken";
    fs::create_directory(folderAtName);
    for (ExportFormat format : allExportFormats) {
        SCOPED_TRACE(std::string(rawValue(format)));
        const fs::path belowAFile = folder / "not-a-folder" / "Song (MASTER).m4a";
        EXPECT_FALSE(writeExportFile(source, belowAFile, format, std::nullopt, store))
            << "a path below a regular file cannot be written";
        EXPECT_FALSE(writeExportFile(source, folderAtName, format, std::nullopt, store))
            << "a folder at the destination's name is not replaced";
        EXPECT_TRUE(fs::is_directory(folderAtName));
        EXPECT_FALSE(writeExportFile(folder / "gone.wav", exports / "gone.out", format, std::nullopt, store));
    }
    EXPECT_EQ(exportedNames(), std::vector<std::string>{"taken"}) << "no partial files left";
}

TEST_F(ExportWriterTest, AFullDiskIsReportedAsSuchAndLeavesNothingBehind) {
    // Three seconds of 16-bit stereo (about 520 kB) onto a disk of 64 kB.
    writeWav(source, makeNoise(44100, 2, 3.0, 0.3f, 7), WavSampleFormat::int16);
    for (ExportFormat format : allExportFormats) {
        SCOPED_TRACE(std::string(rawValue(format)));
        const fs::path disk = folder / ("disk-" + std::string(rawValue(format)));
        fs::create_directory(disk);
        const int outcome = runInChild([&] {
            if (!mountPrivateSmallDisk(disk, 64 * 1024, nullptr)) return kCannotMountPrivately;
            const fs::path destination = disk / ("Song (MASTER)." + std::string(rawValue(format)));
            const Status written = writeExportFile(source, destination, format, std::nullopt, store);
            if (written) return 1;
            if (written.error().description().find("No space left on device") == std::string::npos) {
                std::fprintf(stderr, "reported as: %s\n", written.error().description().c_str());
                return 2;
            }
            return fs::is_empty(disk) ? 0 : 3;
        });
        if (outcome == kCannotMountPrivately) GTEST_SKIP() << kNoPrivateSmallDisk;
        EXPECT_EQ(outcome, 0) << "1: written anyway, 2: another reason given, 3: a partial file is left";
    }
}

}  // namespace
}  // namespace korvanta::test

#include "export/ResultViewModel.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fstream>

#include "export/ExportFormat.h"
#include "support/ManualDelays.h"
#include "support/QtTestSupport.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;
using test::waitUntil;

TEST(ExportFileName, CutsTheExtensionAndRenderingSuffixesThenNamesTheVersion) {
    struct Case {
        const char* filename;
        bool finalVersion;
        const char* extension;
        const char* expected;
    } cases[] = {
        {"Track_master.wav", false, "wav", "Track (MASTER).wav"},
        {"My Song_final.mp3", true, "m4a", "My Song (FINAL).m4a"},
        {"  Spaced Out .flac", false, "wav", "Spaced Out (MASTER).wav"},
        {"Mix_final_master_v2.aiff", false, "wav", "Mix (MASTER).wav"},  // "_master" is cut first
        {"a.b.c.ogg", false, "wav", "a.b.c (MASTER).wav"},             // only the last dot
        {"NoExtension", true, "wav", "NoExtension (FINAL).wav"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exportFileName(c.filename, c.finalVersion, c.extension), c.expected) << c.filename;
}

// A batch whose songs "master" by copying themselves into a rendering; time moves only when told.
class ResultExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        delays = test::installManualDelays();
        batch.setMasteringOperation([this](const fs::path& input, const DJMasteringSettings&, bool finalMode,
                                           const std::optional<EQSettings>&, const std::shared_ptr<ProgressUpdater>&,
                                           const AudioProcessor::CancellationCheck&) -> Result<DJMasteringResult> {
            const fs::path rendering =
                renderings.path() / (input.stem().string() + (finalMode ? "_final.wav" : "_master.wav"));
            fs::copy_file(input, rendering, fs::copy_options::overwrite_existing);
            return DJMasteringResult{rendering, AudioStats{-10, -0.5, -12}, 128, 1};
        });
        model.setBatchProcessor(&batch);
        model.setCleanup([this](bool removeAll) { cleanups.push_back(removeAll); });
        model.setResetApplication([this](bool clearFiles) { resets.push_back(clearFiles); });
    }

    void masterSongs(int count) {
        std::vector<fs::path> paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(songs / ("Song " + std::to_string(i + 1) + ".wav"));
            test::writeWav(paths.back(), test::makeNoise(44100, 2, 0.2, 0.2f, uint32_t(i + 1)),
                           WavSampleFormat::int16);
        }
        batch.addFiles(paths);
        ASSERT_TRUE(waitUntil([&] { return !batch.isAddingFiles() && batch.fileCount() == count; }));
        batch.processFiles({}, false, false, -10.0f, -0.3f);
        ASSERT_TRUE(waitUntil([&] { return !batch.isProcessing(); }));
        ASSERT_EQ(model.rowCount(), count);
    }

    std::vector<std::string> exported() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(target.path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    MemoryPreferences store;
    test::ScratchFolder songs, renderings, target;
    std::shared_ptr<test::ManualDelays> delays;
    BatchProcessor batch;
    ResultViewModel model{store};
    std::vector<bool> cleanups, resets;
};

TEST_F(ResultExportTest, ThreeSongsLeaveTwoAtATimeThenSavedAndBackToImport) {
    masterSongs(3);
    std::ofstream(target / "Song 1 (MASTER).wav") << "an older export";  // replaced, not numbered

    model.startExportAll();
    EXPECT_TRUE(model.showFolderChooser()) << "normal mode asks for the folder at once";
    model.exportFolderChosen(QUrl::fromLocalFile(QString::fromStdString(target.path().string())));
    EXPECT_TRUE(model.isExportAnimating());
    EXPECT_EQ(model.exportedFilesCount(), 0);

    delays->advance(0.19);
    EXPECT_EQ(model.exportedFilesCount(), 0) << "the first song waits 0.2 s";
    delays->advance(0.01);
    ASSERT_TRUE(waitUntil([&] { return model.exportedFilesCount() == 1; }));
    delays->advance(0.25);  // the second card of the pair
    ASSERT_TRUE(waitUntil([&] { return model.exportedFilesCount() == 2; }));
    EXPECT_EQ(model.rowCount(), 3) << "the pair leaves together";
    delays->advance(0.3);
    EXPECT_EQ(model.rowCount(), 1);
    delays->advance(0.2);  // back to the top of the grid: song 3
    ASSERT_TRUE(waitUntil([&] { return model.exportedFilesCount() == 3; }));
    delays->advance(0.25);  // an odd card out: the loop walks past the end
    EXPECT_FALSE(model.exportAnimationCompleted());
    delays->advance(0.5);
    EXPECT_TRUE(model.exportAnimationCompleted()) << "\"Saved Successfully!\" after 0.5 s";
    EXPECT_EQ(cleanups, std::vector<bool>{true});
    EXPECT_TRUE(resets.empty());
    delays->advance(2.0);
    EXPECT_EQ(resets, std::vector<bool>{true}) << "back to the import screen after 2.0 s";
    EXPECT_FALSE(model.isExportAnimating());

    EXPECT_EQ(exported(),
              (std::vector<std::string>{"Song 1 (MASTER).wav", "Song 2 (MASTER).wav", "Song 3 (MASTER).wav"}));
    EXPECT_GT(fs::file_size(target / "Song 1 (MASTER).wav"), 1000u);
}

TEST_F(ResultExportTest, FinalModeAsksWhichVersionAndAVanishedRenderingIsSteppedOver) {
    masterSongs(2);
    batch.processFiles({}, true, false, -10.0f, -0.3f);  // a final batch through the equaliser
    ASSERT_TRUE(waitUntil([&] { return !batch.isProcessing(); }));
    ASSERT_TRUE(model.isFinalMode());
    ASSERT_EQ(model.rowCount(), 2);

    model.startExportAll();
    EXPECT_TRUE(model.showExportChoiceAlert());
    EXPECT_FALSE(model.showFolderChooser());
    model.cancelExportChoice();
    EXPECT_FALSE(model.showExportChoiceAlert());
    EXPECT_FALSE(model.showFolderChooser()) << "Cancel does nothing more";

    fs::remove(*batch.audioFiles()[0].finalURL);
    model.startExportAll();
    model.chooseExport(true);
    EXPECT_TRUE(model.showFolderChooser());
    model.exportFolderChosen(QUrl::fromLocalFile(QString::fromStdString(target.path().string())));
    delays->advance(0.2);
    ASSERT_TRUE(waitUntil([&] { return model.exportedFilesCount() == 1; }));
    delays->advance(0.25 + 0.5);
    EXPECT_TRUE(model.exportAnimationCompleted()) << "an export always ends as saved";
    EXPECT_EQ(exported(), std::vector<std::string>{"Song 2 (FINAL).wav"});
}

}  // namespace
}  // namespace korvanta

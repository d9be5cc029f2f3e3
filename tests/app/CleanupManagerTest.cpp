#include "app/CleanupManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) { std::ofstream(path) << "x"; }

TEST(CleanupManager, RemovesRenderingsByNameOrEveryAudioFile) {
    struct Entry {
        const char* name;
        bool removedByNamePass;  // removeAll false
        bool removedByFullPass;  // removeAll true
    };
    const Entry entries[] = {
        {"song_master.wav", true, true},
        {"song_final.m4a", true, true},
        {"Mix_final.FLAC", true, true},    // the extension test ignores case
        {"take.wav", false, true},         // not a rendering by name
        {"SONG_MASTER.WAV", false, true},  // the name test is case-sensitive
        {"loop_master.ogg", false, false}, // ogg is not among the cleaned extensions
        {"song_master", false, false},     // no extension at all
        {"notes.txt", false, false},
    };
    for (bool removeAll : {false, true}) {
        SCOPED_TRACE(removeAll ? "removeAll" : "renderings only");
        test::ScratchFolder folder;
        for (const auto& e : entries) touch(folder / e.name);
        fs::create_directory(folder / "stems");
        touch(folder / "stems" / "stem_master.wav");

        CleanupManager::cleanupTempFiles(removeAll, folder.path());

        for (const auto& e : entries) {
            const bool removed = removeAll ? e.removedByFullPass : e.removedByNamePass;
            EXPECT_EQ(!fs::exists(folder / e.name), removed) << e.name;
        }
        EXPECT_TRUE(fs::exists(folder / "stems" / "stem_master.wav"))
            << "only direct children are considered; a sub-folder is left whole";
    }
}

TEST(CleanupManager, BackgroundPassFreesNamesAtOnceAndSparesANewRenderingOfTheSameName) {
    test::ScratchFolder folder;
    for (const char* name : {"a_master.wav", "b_final.m4a", "take.wav", "notes.txt"}) touch(folder / name);

    CleanupManager::cleanupTempFilesInBackground(false, folder.path());
    EXPECT_FALSE(fs::exists(folder / "a_master.wav")) << "gone from its name before the call returns";
    EXPECT_FALSE(fs::exists(folder / "b_final.m4a"));
    EXPECT_TRUE(fs::exists(folder / "take.wav"));
    touch(folder / "a_master.wav");  // the next batch renders the same song again

    CleanupManager::waitForBackgroundCleanup();
    EXPECT_TRUE(fs::exists(folder / "a_master.wav"));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder.path())) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a_master.wav", "notes.txt", "take.wav"})) << "no discard folder stays";

    fs::create_directory(folder / ".discarded-1-1");  // left by a run that was killed
    touch(folder / ".discarded-1-1" / "old_master.wav");
    CleanupManager::cleanupTempFiles(true, folder.path());
    EXPECT_FALSE(fs::exists(folder / ".discarded-1-1"));
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
}

TEST(CleanupManager, MissingFolderIsReportedAndNothingElseHappens) {
    test::ScratchFolder folder;
    testing::internal::CaptureStdout();
    CleanupManager::cleanupTempFiles(true, folder / "gone");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("Failed to enumerate temp directory: ", 0), 0u) << printed;
    EXPECT_GT(printed.size(), std::string("Failed to enumerate temp directory: \n").size())
        << "the reason follows the prefix";
}

}  // namespace
}  // namespace korvanta

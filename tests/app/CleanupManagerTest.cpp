#include "app/CleanupManager.h"

#include <gtest/gtest.h>

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

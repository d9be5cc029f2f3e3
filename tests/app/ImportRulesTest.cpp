#include "app/ImportRules.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;

TEST(ImportRules, AcceptsTheEightAudioExtensionsInAnyCase) {
    const std::pair<const char*, bool> cases[] = {
        {"a.mp3", true},   {"b.WAV", true},    {"c.Aiff", true},  {"d.aif", true},
        {"e.M4A", true},   {"f.flac", true},   {"g.OGG", true},   {"h.aac", true},
        {"i.txt", false},  {"j.wma", false},   {"k.wav.bak", false}, {"wav", false},
        {"l.", false},     {"m.mp", false},    {"n.mp33", false},
    };
    for (const auto& [name, accepted] : cases) {
        EXPECT_EQ(hasAcceptedAudioExtension(name), accepted) << name;
    }
}

TEST(ImportRules, FolderImportTakesTopLevelAudioFilesInNameOrder) {
    test::ScratchFolder folder;
    for (const char* name : {"b.wav", "a.MP3", "notes.txt", ".hidden.flac"}) std::ofstream(folder / name) << "x";
    fs::create_directory(folder / "sub");
    std::ofstream(folder / "sub" / "inner.wav") << "x";
    fs::create_directory(folder / "folder.wav");

    const auto files = audioFilesInFolder(folder.path());
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{".hidden.flac", "a.MP3", "b.wav"}))
        << "no sub-folder's files, no folder named like audio, no other extensions";
    for (const auto& f : files) EXPECT_EQ(f.parent_path(), folder.path());

    EXPECT_TRUE(audioFilesInFolder(folder / "missing").empty());
}

}  // namespace
}  // namespace korvanta

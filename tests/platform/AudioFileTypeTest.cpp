#include "platform/AudioFileType.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TestAudio.h"

namespace korvanta {
namespace {

using namespace test;

TEST(AudioFileType, AudioIsKnownByNameOrContentAndOnlyLocalFilesAreTaken) {
    ScratchFolder folder;
    writeWav(folder / "song.WAV", makeSine(44100, 2, 0.1, 440, 0.5f));
    std::filesystem::copy_file(folder / "song.WAV", folder / "song-without-extension");
    std::ofstream(folder / "notes.txt") << "not audio\n";
    std::ofstream(folder / "empty") << "";
    const auto local = [&](const char* name) { return QString::fromStdString((folder / name).string()); };
    const auto url = [&](const char* name) { return QUrl::fromLocalFile(local(name)); };

    EXPECT_TRUE(looksLikeAudioFile(local("song.WAV")));
    EXPECT_TRUE(looksLikeAudioFile(local("song-without-extension"))) << "a WAV known by its content";
    EXPECT_FALSE(looksLikeAudioFile(local("notes.txt")));
    EXPECT_FALSE(looksLikeAudioFile(local("empty")));

    EXPECT_EQ(firstAudioFile({url("notes.txt"), QUrl("https://example.org/a.mp3"),
                              url("song-without-extension"), url("song.WAV")}),
              local("song-without-extension"))
        << "text and remote items are passed over; the first local audio file wins";
    EXPECT_EQ(firstAudioFile({url("notes.txt")}), QString());
    EXPECT_EQ(firstAudioFile(QList<QUrl>{}), QString());
}

}  // namespace
}  // namespace korvanta

#include "platform/AudioFileType.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TestAudio.h"

namespace korvanta {
namespace {

using namespace test;

QUrl fileUrl(const std::filesystem::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

TEST(AudioFileType, AudioIsKnownByNameOrContentAndOnlyLocalFilesAreTaken) {
    ScratchFolder folder;
    writeWav(folder / "song.WAV", makeSine(44100, 2, 0.1, 440, 0.5f));
    std::filesystem::copy_file(folder / "song.WAV", folder / "song-without-extension");
    std::ofstream(folder / "notes.txt") << "not audio\n";
    std::ofstream(folder / "empty") << "";

    EXPECT_TRUE(looksLikeAudioFile(QString::fromStdString((folder / "song.WAV").string())));
    EXPECT_TRUE(looksLikeAudioFile(QString::fromStdString((folder / "song-without-extension").string())))
        << "a WAV is recognised by its content";
    EXPECT_FALSE(looksLikeAudioFile(QString::fromStdString((folder / "notes.txt").string())));
    EXPECT_FALSE(looksLikeAudioFile(QString::fromStdString((folder / "empty").string())));

    const QString song = QString::fromStdString((folder / "song-without-extension").string());
    EXPECT_EQ(firstAudioFile(QList<QUrl>{fileUrl(folder / "notes.txt"), QUrl("https://example.org/a.mp3"),
                              fileUrl(folder / "song-without-extension"), fileUrl(folder / "song.WAV")}),
              song)
        << "text and remote items are passed over; the first local audio file wins";
    EXPECT_EQ(firstAudioFile(QList<QUrl>{fileUrl(folder / "notes.txt")}), QString());
    EXPECT_EQ(firstAudioFile(QList<QUrl>{}), QString());
}

}  // namespace
}  // namespace korvanta

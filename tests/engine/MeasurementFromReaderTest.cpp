#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "analysis/TempoAnalyzer.h"
#include "engine/LoudnessMeter.h"
#include "platform/MemoryDecoder.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Songs shorter and longer than the two-minute window (the longer one is measured on its centre;
// the tempo on its first two minutes), each read from the file and from memory, whatever the
// reader's position beforehand: the figures are the path versions', bit for bit.
TEST(MeasurementFromReader, GivesThePathVersionsFiguresWhereverTheReaderStands) {
    test::ScratchFolder scratch;
    const struct {
        const char* name;
        double seconds;
    } cases[] = {{"short", 7.0}, {"longer than the window", 130.0}};
    for (const auto& c : cases) {
        const fs::path path = scratch.path() / (std::string(c.name) + ".wav");
        // A pulse every 0.5 s (120 BPM) whose loudness changes along the song.
        test::writeWav(path, test::makeSignal(8000.0, 2, size_t(8000 * c.seconds), [](int ch, size_t i) {
                           const float level = 0.1f + 0.4f * float(i % 400000) / 400000.0f;
                           return (i % 4000) < 400 ? level * (ch ? -0.7f : 1.0f) : 0.01f;
                       }),
                       WavSampleFormat::int16);
        auto expected = analyzeAudioFile(path);
        ASSERT_TRUE(expected.ok()) << c.name;
        BPMAnalyzer::clearCache();
        auto expectedTempo = BPMAnalyzer::detectTempo(path);
        ASSERT_TRUE(expectedTempo.ok()) << c.name;

        const auto expectPathFigures = [&](const std::string& where, const Result<AudioStats>& stats,
                                           const std::function<Result<int>()>& detectTempo) {
            ASSERT_TRUE(stats.ok()) << where;
            EXPECT_TRUE(sameBits(stats->lufs, expected->lufs)) << where << ": " << stats->lufs << " vs " << expected->lufs;
            EXPECT_TRUE(sameBits(stats->peak, expected->peak)) << where;
            EXPECT_TRUE(sameBits(stats->rms, expected->rms)) << where;
            BPMAnalyzer::clearCache();
            auto tempo = detectTempo();
            ASSERT_TRUE(tempo.ok()) << where;
            EXPECT_EQ(tempo.value(), expectedTempo.value()) << where;
        };
        auto file = AudioFileReader::open(path);
        ASSERT_TRUE(file.ok());
        auto decoded = decodeIntoMemory(path, UINT64_MAX, {});
        ASSERT_TRUE(decoded.ok());
        auto memory = readerOverMemory(decoded.value(), path);
        for (AudioFileReader* reader : {file.value().get(), memory.get()}) {
            reader->setFramePosition(12345);  // the measurements choose their own start
            expectPathFigures(std::string(c.name) + (reader == memory.get() ? " in memory" : " file"),
                              analyzeAudioFile(*reader), [&] {
                                  reader->setFramePosition(12345);
                                  return BPMAnalyzer::detectTempo(*reader, path.string());
                              });
        }
        expectPathFigures(std::string(c.name) + " in place, without a reader", analyzeAudioFile(*decoded.value()),
                          [&] { return BPMAnalyzer::detectTempo(*decoded.value(), path.string()); });
    }
}

// The reader version caches under the key it is given, as the path versions do.
TEST(MeasurementFromReader, TempoIsCachedUnderTheGivenKeyAndAnEmptyReaderIsEmpty) {
    test::ScratchFolder scratch;
    const fs::path path = scratch.path() / "song.wav";
    test::writeWav(path, test::makeNoise(8000.0, 1, 3.0, 0.5f, 5));
    auto decoded = decodeIntoMemory(path, UINT64_MAX, {});
    ASSERT_TRUE(decoded.ok());
    BPMAnalyzer::clearCache();
    auto reader = readerOverMemory(decoded.value());
    auto tempo = BPMAnalyzer::detectTempo(*reader, "/songs/original.mp3");
    ASSERT_TRUE(tempo.ok());
    EXPECT_EQ(BPMAnalyzer::detectTempo(fs::path("/songs/original.mp3")).value(), tempo.value())
        << "a missing file under a cached key is answered from the cache";

    auto empty = std::make_shared<DecodedAudio>();
    empty->format = {44100.0, 2};
    empty->channels.resize(2);
    auto emptyReader = readerOverMemory(empty);
    auto stats = analyzeAudioFile(*emptyReader);
    ASSERT_FALSE(stats.ok());
    EXPECT_TRUE(stats.error().is("KorvantaApp", 4)) << "no frames: \"Audio file is empty\"";
    EXPECT_EQ(BPMAnalyzer::detectTempo(*emptyReader, "empty").value(), 120) << "the default tempo";
    auto emptyInPlace = analyzeAudioFile(*empty);
    ASSERT_FALSE(emptyInPlace.ok());
    EXPECT_TRUE(emptyInPlace.error().is("KorvantaApp", 4));
    EXPECT_EQ(BPMAnalyzer::detectTempo(*empty, "empty in place").value(), 120);
}

}  // namespace
}  // namespace korvanta

// The whole road through the equaliser: import, master, equalise one band, REMASTER, export FINAL
// as M4A with a cover; the file is checked with ffprobe and its loudness with our own meter.
#include <gtest/gtest.h>

#include <cmath>

#include "AppTestSupport.h"
#include "app/ContentView.h"
#include "engine/LoudnessMeasurement.h"
#include "export/ExportFormat.h"
#include "export/ExportTestSupport.h"
#include "platform/PreferenceKeys.h"
#include "support/ManualDelays.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;

// Four seconds of something like music: a bass line, a chord, hats of noise (a stand-in for
// machines without the music package).
Signal songLike() {
    const Signal hats = makeNoise(44100, 2, 4.0, 1.0f, 7);
    return makeSignal(44100, 2, 4 * 44100, [&](int c, size_t n) {
        const double t = double(n) / 44100.0;
        const double beat = std::fmod(t, 0.5);
        const double bass = 0.30 * std::sin(2 * M_PI * (beat < 0.25 ? 55.0 : 82.4) * t) * std::exp(-4 * beat);
        const double chord = 0.08 * (std::sin(2 * M_PI * 440.0 * t) + std::sin(2 * M_PI * 554.4 * t + c) +
                                     std::sin(2 * M_PI * 659.3 * t));
        const double hat = std::fmod(t, 0.25) < 0.02 ? 0.05 * hats.channels[size_t(c)][n] : 0.0;
        return float(bass + chord + hat);
    });
}

TEST(EqualiserRoad, MasterEqualiseRemasterAndExportTheFinalAsM4AWithACover) {
    auto delays = installManualDelays();
    MemoryPreferences store;
    saveExportFormat(store, ExportFormat::m4a);
    ScratchFolder folder;
    const fs::path song = folder / "Road Song.wav";
    // Real music where the package scripts/setup installs is there (eight seconds of a song,
    // resampled to 44.1 kHz), else the stand-in above.
    const fs::path music = "/usr/share/games/asc/music/machine_wars.mp3";
    const double seconds = fs::exists(music) ? 8.0 : 4.0;
    if (fs::exists(music)) {
        convertWithFfmpeg(music, song, "-ss 30 -t 8 -ar 44100 -c:a pcm_s16le");
    } else {
        writeWav(song, songLike(), WavSampleFormat::int16);
    }

    AudioEngine engine;
    auto player = fakePlayer(engine, store);
    EQManager eq(store, player.get());
    ContentView view(store);
    view.playback()->setPlayer(player.get());
    view.setEqManager(&eq);
    view.appear();

    view.processAudioFiles({urlOf(song)});
    ASSERT_TRUE(waitUntil([&] { return view.batchProcessor()->fileCount() == 1 && !view.batchProcessor()->isAddingFiles(); }));
    view.startMasteringProcess();
    ASSERT_TRUE(waitUntil([&] { return view.appState() == AppState::result; }, std::chrono::minutes(3)));
    const AudioFile mastered = view.batchProcessor()->audioFiles()[0];
    ASSERT_EQ(mastered.processingStatus, ProcessingStatus::completed);
    ASSERT_TRUE(mastered.masterURL && mastered.masterStats);

    // The equaliser: one band up, REMASTER.
    view.toggleEQ();
    ASSERT_TRUE(eq.isVisible());
    EQSettings edited = eq.eqSettings();
    edited.bands[5].gain = 6.0f;  // 1 kHz
    eq.applyPanelSettings(edited);
    eq.remasterWithEQ();
    delays->advance(0.1);
    delays->advance(0.1);
    ASSERT_EQ(view.appState(), AppState::processing);
    ASSERT_TRUE(waitUntil([&] { return view.appState() == AppState::result; }, std::chrono::minutes(3)));
    const AudioFile remastered = view.batchProcessor()->audioFiles()[0];
    ASSERT_EQ(remastered.processingStatus, ProcessingStatus::completed);
    ASSERT_TRUE(remastered.finalURL && remastered.finalStats);
    EXPECT_TRUE(view.batchProcessor()->isFinalMode());
    EXPECT_GT(remastered.finalStats->lufs, mastered.masterStats->lufs + 0.3f) << "the boost is heard";

    // Export the FINAL versions with a cover.
    store.setBool(keys::kGlobalArtworkEnabled, true);
    const Bytes cover = makeImage(folder, "color=c=orange:s=64x64", "cover.jpg");
    view.batchProcessor()->setSessionGlobalArtwork(QByteArray(reinterpret_cast<const char*>(cover.data()), qsizetype(cover.size())));
    ScratchFolder target;
    ResultViewModel* results = view.results();
    results->startExportAll();
    ASSERT_TRUE(results->showExportChoiceAlert()) << "final mode asks which version";
    results->chooseExport(true);
    results->exportFolderChosen(urlOf(target.path()));
    ASSERT_TRUE(waitUntil([&] {
        delays->advance(0.1);
        return results->exportedFilesCount() == 1 && results->exportAnimationCompleted();
    }, std::chrono::minutes(2)));

    const fs::path exported = target / "Road Song (FINAL).m4a";
    ASSERT_TRUE(fs::exists(exported));
    const ProbedFile probed = probeFile(exported);
    const ProbedStream* audio = probed.firstOfType("audio");
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->codecName, "aac");
    EXPECT_EQ(audio->channels, 2);
    EXPECT_NEAR(audio->durationSeconds, seconds, 0.05);
    const ProbedStream* picture = probed.firstOfType("video");
    ASSERT_TRUE(picture) << "the cover travels along";
    EXPECT_TRUE(picture->attachedPicture);

    const Signal decoded = decodeWithFfmpeg(folder, exported);
    const AudioStats stats = measureLoudness(planes(decoded).data(), decoded.channelCount(), uint32_t(decoded.frameCount()),
                                             float(decoded.sampleRate));
    EXPECT_NEAR(stats.lufs, remastered.finalStats->lufs, 0.5) << "the file is the final rendering";
    view.disappear();
}

}  // namespace
}  // namespace korvanta::test

#include "mastering/AudioProcessor.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <set>
#include <vector>

#include "analysis/TempoAnalyzer.h"
#include "engine/DeliveryMeasurement.h"
#include "engine/LoudnessMeter.h"
#include "engine/MasteringRenderer.h"
#include "platform/AudioFileReader.h"
#include "platform/Preferences.h"
#include "platform/TempFolder.h"
#include "support/ProgressLog.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;
using test::ProgressLog;
using test::makeSong;
using test::Signal;
using Names = std::set<std::string>;

constexpr DJMasteringSettings kEvents{-12.0f, -0.3f};
constexpr DJMasteringSettings kRadio{-14.0f, -0.3f};
constexpr DJMasteringSettings kClub{-10.0f, -0.2f};
constexpr DJMasteringSettings kFestival{-8.0f, -0.3f};
constexpr DJMasteringSettings kUnreachable{-3.0f, -20.0f};  // -3 LUFS under -20 dBFS: every pass misses

double dbToLinear(double db) { return std::pow(10.0, db / 20.0); }

// Writes `song` as a float WAV (peaks may exceed full scale) scaled so that the product's own
// measurement reads `lufs`; returns that measurement.
AudioStats writeSongAt(const fs::path& path, Signal song, double lufs) {
    test::writeWav(path, song);
    auto first = analyzeAudioFile(path);
    EXPECT_TRUE(first.ok());
    if (!first.ok()) return {};
    const double factor = dbToLinear(lufs - first->lufs);
    for (auto& channel : song.channels) {
        for (float& x : channel) x = static_cast<float>(x * factor);
    }
    test::writeWav(path, song);
    auto levelled = analyzeAudioFile(path);
    EXPECT_TRUE(levelled.ok());
    if (!levelled.ok()) return {};
    EXPECT_NEAR(levelled->lufs, lufs, 0.02) << "the test input must sit where the case needs it";
    return levelled.value();
}

fs::path toMp3(const fs::path& wav) {
    fs::path mp3 = wav;
    mp3.replace_extension(".mp3");
    test::convertWithFfmpeg(wav, mp3, "-c:a libmp3lame -q:a 2");
    return mp3;
}

// The sample format ffprobe reads from a file's header, e.g. "pcm_s16le" or "pcm_f32le".
std::string sampleFormat(const fs::path& path) { return test::ffprobeStreamField(path, "codec_name"); }

float largestMagnitude(const Signal& s) {
    float m = 0.0f;
    for (const auto& channel : s.channels) {
        for (float x : channel) m = std::max(m, std::fabs(x));
    }
    return m;
}

float largestDifference(const Signal& a, const Signal& b) {
    if (a.channelCount() != b.channelCount() || a.frameCount() != b.frameCount()) return INFINITY;
    float m = 0.0f;
    for (int c = 0; c < a.channelCount(); ++c) {
        for (size_t i = 0; i < a.frameCount(); ++i) {
            m = std::max(m, std::fabs(a.channels[c][i] - b.channels[c][i]));
        }
    }
    return m;
}

bool finite(const AudioStats& s) {
    return std::isfinite(s.lufs) && std::isfinite(s.peak) && std::isfinite(s.rms);
}

// Stricter than operator==: unmeasured (NaN) delivery figures never match.
bool sameStats(const AudioStats& a, const AudioStats& b) {
    return a.lufs == b.lufs && a.peak == b.peak && a.rms == b.rms && a.truePeak == b.truePeak &&
           a.lufsR128 == b.lufsR128;
}

Names namesIn(const fs::path& folder) {
    Names names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

const std::regex kTrialName(
    "temp_iteration_([0-9]+)_[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.wav");

// What the private temporary folder held while a call ran, seen from the cancellation callback
// (asked before each step and each rendered chunk). With a `keepFolder` on the same file system,
// every rendering seen is hard-linked there, so that removed trials can be read afterwards.
struct TempFolderWatch {
    explicit TempFolderWatch(fs::path folder, fs::path keepFolder = {})
        : folder(std::move(folder)), keepFolder(std::move(keepFolder)) {}

    const fs::path folder, keepFolder;
    Names seen;
    int looks = 0;

    void look() {
        for (const auto& name : namesIn(folder)) {
            if (seen.insert(name).second && !keepFolder.empty()) {
                ::link((folder / name).c_str(), (keepFolder / name).c_str());
            }
        }
        ++looks;
    }
    AudioProcessor::CancellationCheck check() {
        return [this] {
            look();
            return false;
        };
    }
    size_t trialCount() const {
        return std::count_if(seen.begin(), seen.end(),
                             [](const std::string& n) { return n.rfind("temp_iteration_", 0) == 0; });
    }
    // The trial of `pass`, or "" (which kTrialName does not match).
    std::string trial(int pass) const {
        const std::string prefix = "temp_iteration_" + std::to_string(pass) + "_";
        for (const auto& name : seen) {
            if (name.rfind(prefix, 0) == 0) return name;
        }
        return {};
    }
};

// Counts the opens of one file through inotify; poll() takes the events so far without blocking.
struct OpenWatch {
    explicit OpenWatch(const fs::path& file) : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd >= 0) ::inotify_add_watch(fd, file.c_str(), IN_OPEN);
    }
    ~OpenWatch() {
        if (fd >= 0) ::close(fd);
    }
    OpenWatch(const OpenWatch&) = delete;

    void poll() {
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(fd, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                opens += (event->mask & IN_OPEN) != 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    const int fd;
    int opens = 0;
};

// Every test gets its own TMPDIR (and so its own private rendering folder), preferences store and
// an empty tempo cache.
class AudioProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        savedTmp_ = tmp ? std::optional<std::string>(tmp) : std::nullopt;
        for (const char* sub : {"tmp", "songs", "kept"}) fs::create_directories(root_ / sub);
        ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        auto folder = privateTempFolder();
        ASSERT_TRUE(folder.ok());
        temp_ = folder.value();
        preferences_ = std::make_shared<MemoryPreferences>();
        installSharedPreferences(preferences_);
        BPMAnalyzer::clearCache();
    }
    void TearDown() override {
        if (savedTmp_) ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        else ::unsetenv("TMPDIR");
        installSharedPreferences(std::make_shared<MemoryPreferences>());
    }

    fs::path song(const std::string& name) const { return root_ / "songs" / name; }
    fs::path kept() const { return root_ / "kept"; }
    // songs/`name`, written by writeSongAt; its measurement goes to `stats` when given.
    fs::path songAt(const std::string& name, Signal signal, double lufs, AudioStats* stats = nullptr) {
        const fs::path path = song(name);
        const AudioStats measured = writeSongAt(path, std::move(signal), lufs);
        if (stats) *stats = measured;
        return path;
    }

    static Result<DJMasteringResult> master(const fs::path& input, const DJMasteringSettings& settings,
                                            const AudioProcessor::CancellationCheck& isCancelled = {},
                                            const std::shared_ptr<ProgressUpdater>& progress = nullptr) {
        return AudioProcessor::masterAudioFile(input, settings, false, std::nullopt, progress,
                                               isCancelled);
    }

    // A reference pass over `input` at `gain`, written to the scratch folder.
    fs::path renderAt(const fs::path& input, const DJMasteringSettings& settings, float gain, int bpm) {
        const fs::path out = root_ / ("reference-" + std::to_string(references_++) + ".wav");
        const Status s = renderMasteringPass(input, out, settings.targetLUFS, settings.limitThreshold,
                                             gain, bpm, {}, {});
        EXPECT_TRUE(s.ok()) << (s.ok() ? "" : s.error().description());
        return out;
    }

    test::ScratchFolder scratch_;
    const fs::path root_ = scratch_.path();
    std::optional<std::string> savedTmp_;
    fs::path temp_;
    std::shared_ptr<MemoryPreferences> preferences_;
    int references_ = 0;
};

// --- Gains and names ----------------------------------------------------------------------------

TEST(AudioProcessorGains, FollowTheWorkedExamples) {
    using P = AudioProcessor;
    const struct {
        const char* why;
        double gainDb, expected;
    } cases[] = {
        // firstGainDb(input LUFS, input peak, target): distance d plus extra e
        {"-20 -> -10 with peak -6: d 10, e 2.8 + 0.2 + 1.2", P::firstGainDb(-20, -6, -10), 14.2},
        {"-6 -> -8 (target >= -13): a 2, c -0.03*2", P::firstGainDb(-6, -1, -8), -2.06},
        {"-8 -> -14 (target < -13): a 6, c -0.3 - 0.3*2", P::firstGainDb(-8, -1, -14), -6.9},
        {"a <= 1: e 0.6 a", P::firstGainDb(-10.5, -3, -10), 0.5 + 0.3},
        {"1 < a <= 3: e 0.8 + (a-1) 0.35; the peak does not count", P::firstGainDb(-12, -9, -10),
         2.0 + 1.15},
        {"3 < a <= 5: e 1.5 + (a-3) 0.25 + |P| 0.05", P::firstGainDb(-14, -4, -10), 4.0 + 1.75 + 0.2},
        {"5 < a <= 7: e 2.0 + (a-5) 0.2 + |P| 0.1", P::firstGainDb(-16, -4, -10), 6.0 + 2.2 + 0.4},
        {"7 < a <= 9: e 2.4 + (a-7) 0.2 + |P| 0.15", P::firstGainDb(-18, -4, -10), 8.0 + 2.6 + 0.6},
        {"exactly on target: no gain at all", P::firstGainDb(-10, -1, -10), 0.0},
        {"a peak above full scale counts by its magnitude", P::firstGainDb(-20, 2, -10),
         10.0 + 3.0 + 0.4},
        // reductionCorrection(a, target)
        {"loud targets: -0.03 a up to 3 dB", P::reductionCorrection(2, -8), -0.06},
        {"loud targets: the two pieces meet at 3 dB", P::reductionCorrection(3, -10), -0.09},
        {"loud targets beyond 3 dB: -0.1 (a - 3)", P::reductionCorrection(5, -12), -0.2},
        {"-13 itself counts as a loud target", P::reductionCorrection(5, -13), -0.2},
        {"quiet targets: -0.05 a up to 2 dB", P::reductionCorrection(1, -14), -0.05},
        {"quiet targets at 2 dB", P::reductionCorrection(2, -14), -0.1},
        {"quiet targets 2..4 dB: -0.1 - 0.1 (a - 2)", P::reductionCorrection(3, -14), -0.2},
        {"quiet targets at 4 dB", P::reductionCorrection(4, -14), -0.3},
        {"quiet targets beyond 4 dB: -0.3 - 0.3 (a - 4)", P::reductionCorrection(6, -14), -0.9},
        {"nothing to reduce: no correction", P::reductionCorrection(0, -14), 0.0},
        // correctionGainDb(measured, target) after a pass: overshoots upward, eases downward
        {"too quiet by D: D + 0.6 D, pushing against the limiter", P::correctionGainDb(-11, -10), 1.6},
        {"on target: nothing", P::correctionGainDb(-10, -10), 0.0},
        {"too loud for a loud target: D + c(|D|)", P::correctionGainDb(-7, -8), -1.03},
        {"too loud for a quiet target: D + c(|D|)", P::correctionGainDb(-11, -14), -3.0 - 0.2},
        {"too loud by more than 4 dB for a quiet target", P::correctionGainDb(-8, -14), -6.9},
    };
    for (const auto& c : cases) EXPECT_NEAR(c.gainDb, c.expected, 1e-9) << c.why;
}

TEST(AudioProcessorNames, RenderingNamesCutAtMasterThenAtFinal) {
    const std::pair<const char*, const char*> cases[] = {
        {"/music/Mix_master_final.wav", "Mix"},
        {"/music/Song.mp3", "Song"},
        {"/music/Song_final_master.wav", "Song"},  // "_master" first leaves "Song_final"
        {"/music/Song_master.wav", "Song"},
        {"/music/Finale_finalize.flac", "Finale"},  // any "_final" counts, even inside a word
        {"/music/My.Song.v2.aiff", "My.Song.v2"},   // only the last extension goes
        {"/music/Über Straße.m4a", "Über Straße"},
        {"/music/_master.wav", ""},
    };
    for (const auto& [input, base] : cases) {
        EXPECT_EQ(AudioProcessor::renderingBaseName(input), base) << input;
    }
}

// --- Master mode on real files ------------------------------------------------------------------

TEST_F(AudioProcessorTest, InputWithinToleranceRendersOnePassAtUnityGainStraightIntoTheMaster) {
    const fs::path input = songAt("Near.wav", makeSong(22050.0, 8.0, 11), -14.2);  // Radio: -14
    TempFolderWatch watch(temp_);
    auto result = master(input, kRadio, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();

    EXPECT_EQ(result->passes, 1) << "within 0.3 LU the song is rendered exactly once";
    EXPECT_TRUE(watch.trialCount() == 0) << "no trial file is made when no pass is repeated";
    EXPECT_GT(watch.looks, 4) << "the watch must have looked during the pass, not only before";
    EXPECT_EQ(namesIn(temp_), Names{"Near_master.wav"});
    EXPECT_EQ(largestDifference(test::readAll(result->outputURL),
                                test::readAll(renderAt(input, kRadio, 1.0f, result->bpm))),
              0.0f)
        << "the one pass runs at gain 1.0 with the limiter and clipper still active";
    auto measured = analyzeAudioFile(result->outputURL);
    ASSERT_TRUE(measured.ok());
    EXPECT_TRUE(sameStats(result->stats, measured.value()))
        << "the figures returned are the measurement of the file written";
}

// Songs that need repeated passes: every trial is kept (hard-linked) as it is written, and each
// pass must equal a rendering at the gain derived from the input's figures and the previous
// pass's measured loudness.
struct PassCase {
    const char* name;
    DJMasteringSettings settings;
    double seconds, inputLufs;
    uint32_t seed;
    int passes;  // 0: two or three
};

void PrintTo(const PassCase& c, std::ostream* os) { *os << c.name; }

class AudioProcessorPassTest : public AudioProcessorTest,
                               public ::testing::WithParamInterface<PassCase> {};

TEST_P(AudioProcessorPassTest, EachPassRendersAtTheGainThePreviousMeasurementCalledFor) {
    const PassCase& c = GetParam();
    const float target = c.settings.targetLUFS;
    AudioStats in;
    const fs::path input =
        songAt(std::string(c.name) + ".wav", makeSong(22050.0, c.seconds, c.seed), c.inputLufs, &in);
    TempFolderWatch watch(temp_, kept());
    auto result = master(input, c.settings, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();
    EXPECT_TRUE(c.passes == 0 || result->passes == c.passes) << result->passes;
    ASSERT_GE(result->passes, 2) << "the case needs a repeated pass; choose a quieter input";
    ASSERT_EQ(watch.trialCount(), static_cast<size_t>(std::min(result->passes, 2)))
        << "passes 1 and 2 write trial files; pass 3 writes the master itself";

    double gainDb = AudioProcessor::firstGainDb(in.lufs, in.peak, target);
    AudioStats last{};
    for (int pass = 1; pass <= result->passes; ++pass) {
        fs::path rendering = result->outputURL;
        if (pass < 3) {
            const std::string trial = watch.trial(pass);
            ASSERT_TRUE(std::regex_match(trial, kTrialName))
                << "pass " << pass << " has its own trial name (number, UUID, .wav): " << trial;
            rendering = kept() / trial;
        }
        const fs::path expected =
            renderAt(input, c.settings, static_cast<float>(dbToLinear(gainDb)), result->bpm);
        EXPECT_LE(largestDifference(test::readAll(rendering), test::readAll(expected)), 1.5f / 32768.0f)
            << "pass " << pass << " at " << gainDb << " dB";
        auto measured = analyzeAudioFile(rendering);
        ASSERT_TRUE(measured.ok());
        last = measured.value();
        if (pass < result->passes) {
            EXPECT_GT(std::fabs(last.lufs - target), 0.3)
                << "a pass within 0.3 LU is accepted, so only a miss leads to another pass";
            gainDb += AudioProcessor::correctionGainDb(last.lufs, target);
        }
    }
    EXPECT_TRUE(sameStats(result->stats, last)) << "the accepted pass's own measurement is returned";
    EXPECT_TRUE(finite(result->stats));
    const double miss = std::fabs(result->stats.lufs - target);
    EXPECT_TRUE(result->passes == 3 || miss <= 0.3) << miss;
    EXPECT_TRUE(c.passes != 3 || miss > 0.3) << "the third pass is accepted whatever its loudness";
    EXPECT_EQ(namesIn(temp_), Names{std::string(c.name) + "_master.wav"})
        << "rejected trials are removed and the accepted one is moved onto the master";
}

INSTANTIATE_TEST_SUITE_P(
    Passes, AudioProcessorPassTest,
    ::testing::Values(PassCase{"Quiet", kClub, 10.0, -26.0, 5, 0},
                      PassCase{"Unreachable", kUnreachable, 6.0, -20.0, 7, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AudioProcessorTest, ATrialThatMissesStopsAfterItsMeasuredWindowAndTheMasterIsUnchanged) {
    // Over two minutes, so the measured window (the central 120 s) ends before the song.
    AudioStats in;
    const fs::path input = songAt("LongQuiet.wav", makeSong(8000.0, 160.0, 5), -26.0, &in);
    TempFolderWatch watch(temp_, kept());
    auto result = master(input, kClub, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();
    ASSERT_GE(result->passes, 2) << "the case needs a repeated pass; choose a quieter input";
    ASSERT_EQ(watch.trialCount(), static_cast<size_t>(std::min(result->passes, 2)));

    const size_t windowEnd = (160 * 8000 - 120 * 8000) / 2 + 120 * 8000;
    double gainDb = AudioProcessor::firstGainDb(in.lufs, in.peak, kClub.targetLUFS);
    fs::path whole;
    for (int pass = 1; pass <= result->passes; ++pass) {
        whole = renderAt(input, kClub, static_cast<float>(dbToLinear(gainDb)), result->bpm);
        auto measured = analyzeAudioFile(whole);
        ASSERT_TRUE(measured.ok());
        if (pass == result->passes) {
            EXPECT_TRUE(sameStats(result->stats, measured.value())) << "the accepted pass's figures";
            break;
        }
        EXPECT_GT(std::fabs(measured->lufs - kClub.targetLUFS), 0.3) << "pass " << pass << " missed";
        gainDb += AudioProcessor::correctionGainDb(measured->lufs, kClub.targetLUFS);

        const std::string name = watch.trial(pass);
        ASSERT_FALSE(name.empty()) << "pass " << pass;
        const Signal trial = test::readAll(kept() / name);
        Signal full = test::readAll(whole);
        EXPECT_GE(trial.frameCount(), windowEnd) << "the window is written before the pass stops";
        EXPECT_LT(trial.frameCount(), full.frameCount()) << "pass " << pass << " stopped early";
        for (auto& channel : full.channels) channel.resize(trial.frameCount());
        EXPECT_EQ(largestDifference(trial, full), 0.0f) << "what was written is the whole pass's start";
    }
    EXPECT_EQ(largestDifference(test::readAll(result->outputURL), test::readAll(whole)), 0.0f)
        << "the master is the last pass rendered whole";
    EXPECT_EQ(namesIn(temp_), Names{"LongQuiet_master.wav"});
}

// The four presets on music-like songs coming from both sides of their targets.
struct PresetCase {
    const char* name;
    DJMasteringSettings settings;
    double inputLufs;
    bool highQuality;
    uint32_t seed;
};

void PrintTo(const PresetCase& c, std::ostream* os) { *os << c.name; }

class AudioProcessorPresetTest : public AudioProcessorTest,
                                 public ::testing::WithParamInterface<PresetCase> {};

TEST_P(AudioProcessorPresetTest, MastersToTheTargetWithinFullScaleAndLeavesOnlyTheMaster) {
    const PresetCase& c = GetParam();
    preferences_->setBool("highQualityMode", c.highQuality);
    const Signal source = makeSong(44100.0, 24.0, c.seed);
    const fs::path input = songAt(std::string(c.name) + " Song.wav", source, c.inputLufs);
    ProgressLog progress;
    auto result = master(input, c.settings, {}, progress.updater);
    ASSERT_TRUE(result.ok()) << result.error().description();

    EXPECT_TRUE(finite(result->stats));
    EXPECT_GE(result->passes, 1);
    EXPECT_LE(result->passes, 3);
    if (result->passes < 3) {
        EXPECT_LE(std::fabs(result->stats.lufs - c.settings.targetLUFS), 0.3)
            << "only the third pass may be accepted away from the target";
    }
    const Signal mastered = test::readAll(result->outputURL);
    EXPECT_LT(largestMagnitude(mastered), 1.0f) << "no sample of the master reaches full scale";
    EXPECT_EQ(mastered.frameCount(), source.frameCount()) << "the master keeps the song's length";
    EXPECT_EQ(mastered.sampleRate, source.sampleRate);
    EXPECT_EQ(mastered.channelCount(), source.channelCount());
    EXPECT_EQ(sampleFormat(result->outputURL), c.highQuality ? "pcm_s24le" : "pcm_s16le")
        << "masters hold integer samples; \"highQualityMode\" picks 24 bits";
    EXPECT_EQ(namesIn(temp_), Names{std::string(c.name) + " Song_master.wav"});

    const auto values = progress.until(1.0);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 1.0) << "a finished song ends at 1.0";
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end())
        << "each delivered value is larger than the one before";
    const double lastBeforeEnd = values.size() >= 2 ? values[values.size() - 2] : 0.0;
    EXPECT_GE(lastBeforeEnd, result->passes == 1 ? 0.6 : 0.38)
        << "the passes report their progress on the way, not only the final 1.0";
}

INSTANTIATE_TEST_SUITE_P(
    Presets, AudioProcessorPresetTest,
    ::testing::Values(PresetCase{"Events", kEvents, -22.0, false, 21},
                      PresetCase{"Radio", kRadio, -9.0, true, 22},
                      PresetCase{"Club", kClub, -18.0, false, 23},
                      PresetCase{"Festival", kFestival, -13.0, true, 24}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AudioProcessorTest, CompressedInputIsDecodedOnceAndNothingIsLeftBehind) {
    const fs::path mp3 = toMp3(songAt("Song.wav", makeSong(44100.0, 12.0, 31), -17.0));
    OpenWatch opens(mp3);
    ASSERT_GE(opens.fd, 0);
    int64_t mp3Frames = 0;
    {
        auto mp3Reader = AudioFileReader::open(mp3);
        ASSERT_TRUE(mp3Reader.ok());
        mp3Frames = mp3Reader.value()->length();
    }
    opens.poll();
    const int opensPerDecoding = opens.opens;
    ASSERT_GE(opensPerDecoding, 1);

    TempFolderWatch watch(temp_);
    auto result = master(mp3, kClub, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();
    EXPECT_EQ(result->outputURL, temp_ / "Song_master.wav");
    EXPECT_TRUE(finite(result->stats));

    opens.poll();
    EXPECT_EQ(opens.opens - opensPerDecoding, opensPerDecoding)
        << "the song is opened (and so decoded) once for the measurement, tempo and every pass";
    for (const auto& name : watch.seen) {
        EXPECT_TRUE(name == "Song_master.wav" || std::regex_match(name, kTrialName))
            << name << ": a song this short is decoded into memory, not into a copy on disk";
    }
    EXPECT_EQ(namesIn(temp_), Names{"Song_master.wav"}) << "the trials are removed";

    const Signal mastered = test::readAll(result->outputURL);
    EXPECT_EQ(static_cast<int64_t>(mastered.frameCount()), mp3Frames);
    EXPECT_EQ(mastered.channelCount(), 2);
    EXPECT_LT(largestMagnitude(mastered), 1.0f);
    if (result->passes < 3) {
        EXPECT_LE(std::fabs(result->stats.lufs - kClub.targetLUFS), 0.3);
    }
    EXPECT_EQ(result->bpm, BPMAnalyzer::detectTempo(mp3).value())
        << "the tempo of the decoded song is the tempo of the file, cached under its own path";

    // Decoding in memory neither loses nor alters anything: the same samples in a float file
    // give the same master, bit for bit.
    const fs::path asFloat = song("Float.wav");
    test::writeWav(asFloat, test::readAll(mp3), WavSampleFormat::float32);
    auto fromFloat = master(asFloat, kClub);
    ASSERT_TRUE(fromFloat.ok()) << fromFloat.error().description();
    EXPECT_TRUE(sameStats(fromFloat->stats, result->stats));
    EXPECT_EQ(fromFloat->bpm, result->bpm);
    EXPECT_EQ(fromFloat->passes, result->passes);
    EXPECT_TRUE(test::readAll(fromFloat->outputURL).channels == mastered.channels);
}

TEST_F(AudioProcessorTest, DeliveryFiguresAreThoseOfTheWholeOriginalAndTheWholeMaster) {
    // 150 s: the measured window is the centre (from 15 s), and a loud bar at the start lies
    // outside it.
    const fs::path input = song("Long.wav");
    Signal signal = makeSong(11025.0, 150.0, 41);
    for (auto& channel : signal.channels) {
        for (float& v : channel) v *= 0.5f;
        for (size_t i = 0; i < 11025 * 5; ++i) channel[i] = 0.99f * float(std::sin(0.37 * double(i)));
    }
    test::writeWav(input, signal, WavSampleFormat::float32);
    auto result = master(input, kClub);
    ASSERT_TRUE(result.ok()) << result.error().description();
    ASSERT_TRUE(result->inputStats.has_value());

    auto windowOnly = analyzeAudioFile(input, MeasurementScope::window);
    auto whole = analyzeAudioFile(input);
    ASSERT_TRUE(windowOnly.ok() && whole.ok());
    EXPECT_FALSE(windowOnly->hasDeliveryFigures()) << "a quick import measurement leaves them unmeasured";
    EXPECT_TRUE(sameStats(*result->inputStats, whole.value()))
        << "the original: the system's figures of its window, true peak and R128 of all of it";
    EXPECT_GT(result->inputStats->truePeak, windowOnly->peak + 1.0f) << "the loud bar outside the window counts";

    auto measured = analyzeAudioFile(result->outputURL);
    ASSERT_TRUE(measured.ok());
    // Pass 2 is a kept trial: metered from the frames it held back once its window was in.
    EXPECT_EQ(result->passes, 2);
    EXPECT_TRUE(sameStats(result->stats, measured.value())) << "the master, metered as it was written";
    preferences_->setBool("highQualityMode", true);
    auto deep = master(input, kClub);
    ASSERT_TRUE(deep.ok()) << deep.error().description();
    measured = analyzeAudioFile(deep->outputURL);
    ASSERT_TRUE(measured.ok());
    EXPECT_TRUE(sameStats(deep->stats, measured.value())) << "24-bit: the same";
    preferences_->setBool("highQualityMode", false);
    setDeliveryFiguresEnabled(false);
    auto without = master(input, kClub);
    setDeliveryFiguresEnabled(true);
    ASSERT_TRUE(without.ok());
    EXPECT_FALSE(without->stats.hasDeliveryFigures());
    EXPECT_EQ(without->stats.lufs, result->stats.lufs) << "the switch changes no rendering";
}

// --- Final mode ---------------------------------------------------------------------------------

TEST_F(AudioProcessorTest, FinalModeWritesAMeasuredFloatRenderingThroughTheEqualiser) {
    // A -20 dBFS tone at 1 kHz through +6 dB on the 1 kHz band comes out about 6 dB hotter.
    const fs::path input = song("Tone_master.wav");
    test::writeWav(input, test::makeSine(22050.0, 2, 4.0, 1000.0, 0.1f), WavSampleFormat::int16);
    EQSettings eq;
    eq.isEnabled = true;
    ASSERT_EQ(eq.bands[5].frequency, 1000.0f);
    eq.bands[5].gain = 6.0f;
    ProgressLog progress;
    auto result = AudioProcessor::masterAudioFile(input, kClub, true, eq, progress.updater, {});
    ASSERT_TRUE(result.ok()) << result.error().description();

    EXPECT_EQ(result->outputURL, temp_ / "Tone_final.wav");
    EXPECT_EQ(sampleFormat(result->outputURL), "pcm_f32le") << "final renderings are float";
    auto measured = analyzeAudioFile(result->outputURL);
    ASSERT_TRUE(measured.ok());
    EXPECT_TRUE(sameStats(result->stats, measured.value())) << "the final rendering is measured";
    EXPECT_NEAR(result->stats.peak, -20.0 + 6.0, 0.3) << "the band gain was applied";
    EXPECT_EQ(result->passes, 0) << "no mastering pass runs in final mode";
    EXPECT_EQ(test::readAll(result->outputURL).frameCount(), test::readAll(input).frameCount());
    EXPECT_EQ(namesIn(temp_), Names{"Tone_final.wav"});
    EXPECT_EQ(progress.until(1.0).back(), 1.0);
}

TEST_F(AudioProcessorTest, FinalModeWithoutAnEnabledEqualiserMastersInstead) {
    const fs::path input = songAt("Track_master.wav", makeSong(22050.0, 6.0, 41), -18.0);
    EQSettings eq;
    eq.bands[5].gain = 6.0f;  // ignored while the record is switched off
    for (const auto& [why, settings] : {std::pair<const char*, std::optional<EQSettings>>{
                                            "isEnabled false", eq},
                                        {"no EQSettings at all", std::nullopt}}) {
        auto result = AudioProcessor::masterAudioFile(input, kClub, true, settings, nullptr, {});
        ASSERT_TRUE(result.ok()) << why << ": " << result.error().description();
        EXPECT_EQ(result->outputURL, temp_ / "Track_master.wav") << why;
        EXPECT_GE(result->passes, 1) << why << ": the mastering passes ran";
        EXPECT_EQ(sampleFormat(result->outputURL), "pcm_s16le") << why;
        EXPECT_FALSE(fs::exists(temp_ / "Track_final.wav")) << why;
    }
    eq.isEnabled = true;
    auto finalRendering = AudioProcessor::masterAudioFile(input, kClub, true, eq, nullptr, {});
    ASSERT_TRUE(finalRendering.ok()) << finalRendering.error().description();
    EXPECT_EQ(namesIn(temp_), (Names{"Track_master.wav", "Track_final.wav"}))
        << "a final rendering does not replace the master";
}

// --- Cancellation -------------------------------------------------------------------------------

// Each row cancels at another moment, recognised from what the temporary folder holds when the
// callback is asked. The pipeline must stop at that very check, fail with "KorvantaApp" 100 and
// leave no rendering behind.
struct CancelCase {
    const char* name;
    bool mp3;
    DJMasteringSettings settings;
    double inputLufs;
    // Prefix of a name in the temp folder that triggers it; "": the first ask; nullptr: the third
    // ask after the song was opened, inside its decoding (a check per chunk of at most 2 s of 12 s).
    const char* presentWhenCancelled;
};

void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class AudioProcessorCancelTest : public AudioProcessorTest,
                                 public ::testing::WithParamInterface<CancelCase> {};

TEST_P(AudioProcessorCancelTest, StopsAtTheNextCheckAndLeavesNoRendering) {
    const CancelCase& c = GetParam();
    fs::path input = songAt("Song.wav", makeSong(22050.0, 12.0, 61), c.inputLufs);
    if (c.mp3) input = toMp3(input);
    const std::string trigger = c.presentWhenCancelled ? c.presentWhenCancelled : "";
    TempFolderWatch watch(temp_);
    OpenWatch inputOpen(input);
    ASSERT_GE(inputOpen.fd, 0);
    bool cancelled = false;
    int asksAfterCancelling = 0;
    int asksSinceOpened = 0;
    auto isCancelled = [&] {
        if (cancelled) {
            ++asksAfterCancelling;
            return true;
        }
        watch.look();
        inputOpen.poll();
        if (c.presentWhenCancelled == nullptr && inputOpen.opens > 0) {
            cancelled = ++asksSinceOpened == 3 && namesIn(temp_).empty();
        }
        if (c.presentWhenCancelled && trigger.empty()) cancelled = true;
        for (const auto& name : namesIn(temp_)) {
            if (!trigger.empty() && name.rfind(trigger, 0) == 0) cancelled = true;
        }
        return cancelled;
    };
    ProgressLog progress;
    auto result = master(input, c.settings, isCancelled, progress.updater);
    ASSERT_TRUE(cancelled) << "the trigger never appeared: the case does not reach its moment";
    ASSERT_FALSE(result.ok()) << "a cancelled song has no result";
    EXPECT_TRUE(result.error().is("KorvantaApp", 100)) << result.error().description();
    EXPECT_EQ(result.error().message, "The process was canceled by the user");
    EXPECT_EQ(asksAfterCancelling, 0) << "the pipeline stops before the next chunk";
    EXPECT_TRUE(namesIn(temp_).empty())
        << "no partial master, trial or decoded copy is left: " << ::testing::PrintToString(namesIn(temp_));
}

INSTANTIATE_TEST_SUITE_P(
    Moments, AudioProcessorCancelTest,
    ::testing::Values(
        CancelCase{"AtTheStart", false, kClub, -18.0, ""},
        CancelCase{"WhileDecoding", true, kClub, -18.0, nullptr},
        CancelCase{"WhileDecodingALosslessSong", false, kClub, -18.0, nullptr},
        CancelCase{"DuringTheFirstTrialPass", false, kClub, -18.0, "temp_iteration_1_"},
        CancelCase{"DuringTheSecondTrialPass", false, kUnreachable, -18.0, "temp_iteration_2_"},
        CancelCase{"DuringTheThirdPassIntoTheMaster", false, kUnreachable, -18.0, "Song_master"},
        CancelCase{"DuringTheOnlyPassIntoTheMaster", false, kRadio, -14.1, "Song_master"},
        CancelCase{"DuringAPassOverTheDecodedSong", true, kUnreachable, -18.0, "temp_iteration_1_"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Bad input ----------------------------------------------------------------------------------

TEST_F(AudioProcessorTest, BadInputFailsAndLeavesNothingBehind) {
    test::writeFile(song("Corrupt.wav"), test::randomBytes(20000, 71));
    test::writeWav(song("Silence.wav"), test::makeSine(22050.0, 2, 3.0, 440.0, 0.0f));
    test::writeWav(song("Short.wav"), makeSong(22050.0, 0.3, 81));
    test::writeWav(song("Silence 44k.wav"), test::makeSine(44100.0, 2, 3.0, 440.0, 0.0f));
    const struct {
        fs::path input;
        bool opens;  // false: fails with the reader's error; true: holds no measurable loudness
    } cases[] = {{song("Missing.wav"), false}, {song("Corrupt.wav"), false}, {song("Silence.wav"), true},
                 {song("Short.wav"), true}, {toMp3(song("Silence 44k.wav")), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        auto result = master(c.input, kClub);
        ASSERT_FALSE(result.ok());
        if (c.opens) {
            EXPECT_TRUE(result.error().is("KorvantaApp", kUnmeasurableLoudness)) << result.error().description();
            EXPECT_FALSE(result.error().message.empty());
            EXPECT_EQ(result.error().message.find("nan"), std::string::npos);
            EXPECT_EQ(result.error().message.find("inf"), std::string::npos);
        } else {
            auto opened = AudioFileReader::open(c.input);
            ASSERT_FALSE(opened.ok());
            EXPECT_EQ(result.error(), opened.error()) << "passed on unchanged";
        }
        EXPECT_TRUE(namesIn(temp_).empty()) << "no master and no decoded copy is left";
    }
}

}  // namespace
}  // namespace korvanta

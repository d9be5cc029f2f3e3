#include "mastering/AudioProcessor.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
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
#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;
using test::ScratchFolder;
using test::Signal;

constexpr DJMasteringSettings kEvents{-12.0f, -0.3f};
constexpr DJMasteringSettings kRadio{-14.0f, -0.3f};
constexpr DJMasteringSettings kClub{-10.0f, -0.2f};
constexpr DJMasteringSettings kFestival{-8.0f, -0.3f};

double dbToLinear(double db) { return std::pow(10.0, db / 20.0); }

// --- Test material ------------------------------------------------------------------------------

// A music-like song: a kick on every beat, a noise snare on the off-beats, noise hats on the
// eighths, a bass line and a three-note pad whose root changes every bar. Each channel has its own
// noise (fixed by `seed`) and its own mix, so the channels differ as in a real stereo mix.
Signal makeSong(double sampleRate, int channelCount, double seconds, uint32_t seed,
                double bpm = 126.0) {
    const auto frames = static_cast<size_t>(std::llround(sampleRate * seconds));
    const double beat = 60.0 / bpm;
    const double roots[] = {220.0, 196.0, 174.61, 196.0};
    Signal s;
    s.sampleRate = sampleRate;
    for (int c = 0; c < channelCount; ++c) {
        std::mt19937 rng(seed * 7919u + static_cast<uint32_t>(c));
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        const double hatLevel = 0.10 + 0.06 * c;
        const double padLevel = 0.14 - 0.03 * c;
        std::vector<float> channel(frames);
        for (size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / sampleRate;
            const double sinceBeat = std::fmod(t, beat);
            const double sinceOffBeat = std::fmod(t + beat / 2.0, beat);
            const double sinceEighth = std::fmod(t, beat / 2.0);
            const double root = roots[static_cast<size_t>(t / (4.0 * beat)) % 4];
            const double kick = std::exp(-sinceBeat * 18.0) * std::sin(2.0 * M_PI * 55.0 * sinceBeat);
            const double pad = std::sin(2.0 * M_PI * root * t) +
                               std::sin(2.0 * M_PI * root * 1.26 * t) +
                               std::sin(2.0 * M_PI * root * 1.5 * t);
            const double bass = std::sin(2.0 * M_PI * root / 4.0 * t);
            const double n = noise(rng);
            const double snare = n * std::exp(-sinceOffBeat * 25.0);
            const double hat = n * std::exp(-sinceEighth * 90.0);
            channel[i] = static_cast<float>(0.55 * kick + padLevel * pad + 0.22 * bass +
                                            0.35 * snare + hatLevel * hat);
        }
        s.channels.push_back(std::move(channel));
    }
    return s;
}

Signal scaled(Signal s, double factor) {
    for (auto& channel : s.channels) {
        for (float& x : channel) x = static_cast<float>(x * factor);
    }
    return s;
}

// Writes `song` as a float WAV scaled so that the product's own measurement reads `lufs` (to
// within 0.02 LU); returns that measurement. Float keeps peaks above full scale for hot inputs.
AudioStats writeSongAt(const fs::path& path, const Signal& song, double lufs) {
    test::writeWav(path, song);
    auto first = analyzeAudioFile(path);
    EXPECT_TRUE(first.ok());
    if (!first.ok()) return {};
    test::writeWav(path, scaled(song, dbToLinear(lufs - first->lufs)));
    auto levelled = analyzeAudioFile(path);
    EXPECT_TRUE(levelled.ok());
    if (!levelled.ok()) return {};
    EXPECT_NEAR(levelled->lufs, lufs, 0.02) << "the test input must sit where the case needs it";
    return levelled.value();
}

struct WavLayout {
    int formatTag = 0;  // 1 integer PCM, 3 IEEE float
    int bitsPerSample = 0;
};

// The sample format from a WAV file's "fmt " chunk (the sub-format for WAVE_FORMAT_EXTENSIBLE).
WavLayout readWavLayout(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    auto u16 = [&](size_t at) { return int(uint8_t(bytes[at])) | int(uint8_t(bytes[at + 1])) << 8; };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    if (bytes.size() < 12 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) return {};
    for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + u32(at + 4) + (u32(at + 4) & 1)) {
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 8 + 16 <= bytes.size()) {
            int tag = u16(at + 8);
            if (tag == 0xFFFE && at + 8 + 26 <= bytes.size()) tag = u16(at + 8 + 24);
            return {tag, u16(at + 8 + 14)};
        }
    }
    return {};
}

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

bool sameStats(const AudioStats& a, const AudioStats& b) {
    // The delivery figures too: the accepted pass's are measured on its kept window, the same
    // samples the file holds.
    return a.lufs == b.lufs && a.peak == b.peak && a.rms == b.rms && a.truePeak == b.truePeak &&
           a.lufsR128 == b.lufsR128;
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

const std::regex kTrialName(
    "temp_iteration_([0-9]+)_[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.wav");

// What the private temporary folder held while a call ran, seen from the cancellation callback,
// which the pipeline asks before each step and the renderer before each chunk, on the working
// thread. Optionally hard-links every rendering it sees into `keepFolder` (same file system), so
// that trial files the pipeline removes can still be read once the call has returned.
class TempFolderWatch {
public:
    TempFolderWatch(fs::path tempFolder, fs::path keepFolder = {})
        : tempFolder_(std::move(tempFolder)), keepFolder_(std::move(keepFolder)) {}

    void look() {
        for (const auto& name : namesIn(tempFolder_)) {
            if (seen_.insert(name).second && !keepFolder_.empty()) {
                ::link((tempFolder_ / name).c_str(), (keepFolder_ / name).c_str());
            }
        }
        ++looks_;
    }
    AudioProcessor::CancellationCheck check() {
        return [this] {
            look();
            return false;
        };
    }

    const std::set<std::string>& seen() const { return seen_; }
    int looks() const { return looks_; }
    std::vector<std::string> trialNames() const {
        std::vector<std::string> trials;
        for (const auto& name : seen_) {
            if (name.rfind("temp_iteration_", 0) == 0) trials.push_back(name);
        }
        return trials;
    }
    fs::path kept(const std::string& name) const { return keepFolder_ / name; }

private:
    fs::path tempFolder_;
    fs::path keepFolder_;
    std::set<std::string> seen_;
    int looks_ = 0;
};

// Counts how often one file is opened, through inotify, so that a test can tell how many times the
// pipeline opened a song. poll() takes the events so far without blocking; the kernel queues them
// as the opens happen.
class OpenWatch {
public:
    explicit OpenWatch(const fs::path& file) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0) ::inotify_add_watch(fd_, file.c_str(), IN_OPEN);
    }
    ~OpenWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    bool ok() const { return fd_ >= 0; }
    void poll() {
        alignas(inotify_event) char events[4096];
        ssize_t n;
        while ((n = ::read(fd_, events, sizeof events)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                opens_ += (event->mask & IN_OPEN) != 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }
    int opens() const { return opens_; }

private:
    int fd_;
    int opens_ = 0;
};

// Collects the values a ProgressUpdater delivers. The state is shared with the callback, so a
// value delivered after the test has moved on touches nothing that is gone.
class ProgressLog {
public:
    ProgressLog()
        : state_(std::make_shared<State>()),
          updater_(ProgressUpdater::create([state = state_](double v) {
              std::lock_guard lock(state->mutex);
              state->values.push_back(v);
              state->arrived.notify_all();
          })) {}

    const std::shared_ptr<ProgressUpdater>& updater() const { return updater_; }

    // The values delivered up to and including 1.0. Delivery is asynchronous; values are strictly
    // increasing, so nothing can follow 1.0. Gives up (and the test fails) after a minute.
    std::vector<double> untilComplete() const {
        std::unique_lock lock(state_->mutex);
        state_->arrived.wait_for(lock, std::chrono::minutes(1), [&] {
            return !state_->values.empty() && state_->values.back() == 1.0;
        });
        return state_->values;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable arrived;
        std::vector<double> values;
    };
    std::shared_ptr<State> state_;
    std::shared_ptr<ProgressUpdater> updater_;
};

// Every test gets its own system temporary folder (and so its own private rendering folder) under
// the test run's TMPDIR, its own preferences store and an empty tempo cache.
class AudioProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        savedTmp_ = tmp ? std::optional<std::string>(tmp) : std::nullopt;
        fs::create_directories(root_ / "tmp");
        fs::create_directories(root_ / "songs");
        fs::create_directories(root_ / "kept");
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

    static Result<DJMasteringResult> master(const fs::path& input, const DJMasteringSettings& settings,
                                            const AudioProcessor::CancellationCheck& isCancelled = {},
                                            const std::shared_ptr<ProgressUpdater>& progress = nullptr) {
        return AudioProcessor::masterAudioFile(input, settings, false, std::nullopt, progress,
                                               isCancelled);
    }

    // A reference rendering of `input` at `gain` in the scratch folder, read back.
    Signal renderAt(const fs::path& input, const DJMasteringSettings& settings, float gain, int bpm) {
        const fs::path out = root_ / ("reference-" + std::to_string(references_++) + ".wav");
        const Status s = renderMasteringPass(input, out, settings.targetLUFS, settings.limitThreshold,
                                             gain, bpm, {}, {});
        EXPECT_TRUE(s.ok()) << (s.ok() ? "" : s.error().description());
        return test::readAll(out);
    }

    ScratchFolder scratch_;
    const fs::path root_ = scratch_.path();
    std::optional<std::string> savedTmp_;
    fs::path temp_;
    std::shared_ptr<MemoryPreferences> preferences_;
    int references_ = 0;
};

// --- Gains and names ----------------------------------------------------------------------------

TEST(AudioProcessorGains, FirstGainFollowsTheWorkedExamples) {
    struct Case {
        const char* why;
        double inputLufs, inputPeak, target, gainDb;
    };
    const Case cases[] = {
        {"-20 -> -10 with peak -6: d 10, e 2.8 + 0.2 + 1.2", -20.0, -6.0, -10.0, 14.2},
        {"-6 -> -8 (target >= -13): a 2, c -0.03*2", -6.0, -1.0, -8.0, -2.06},
        {"-8 -> -14 (target < -13): a 6, c -0.3 - 0.3*2", -8.0, -1.0, -14.0, -6.9},
        {"a <= 1: e 0.6 a", -10.5, -3.0, -10.0, 0.5 + 0.3},
        {"1 < a <= 3: e 0.8 + (a-1) 0.35; the peak does not count", -12.0, -9.0, -10.0, 2.0 + 1.15},
        {"3 < a <= 5: e 1.5 + (a-3) 0.25 + |P| 0.05", -14.0, -4.0, -10.0, 4.0 + 1.75 + 0.2},
        {"5 < a <= 7: e 2.0 + (a-5) 0.2 + |P| 0.1", -16.0, -4.0, -10.0, 6.0 + 2.2 + 0.4},
        {"7 < a <= 9: e 2.4 + (a-7) 0.2 + |P| 0.15", -18.0, -4.0, -10.0, 8.0 + 2.6 + 0.6},
        {"exactly on target: no gain at all", -10.0, -1.0, -10.0, 0.0},
        {"a peak above full scale counts by its magnitude", -20.0, 2.0, -10.0, 10.0 + 3.0 + 0.4},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(AudioProcessor::firstGainDb(c.inputLufs, c.inputPeak, c.target), c.gainDb, 1e-9)
            << c.why;
    }
    EXPECT_NEAR(dbToLinear(AudioProcessor::firstGainDb(-20.0, -6.0, -10.0)), 5.13, 0.005)
        << "the Club example's first gain is about 5.13 as a factor";
}

TEST(AudioProcessorGains, ReductionCorrectionInBothTargetRanges) {
    struct Case {
        const char* why;
        double a, target, correction;
    };
    const Case cases[] = {
        {"loud targets: -0.03 a up to 3 dB", 2.0, -8.0, -0.06},
        {"loud targets: the two pieces meet at 3 dB", 3.0, -10.0, -0.09},
        {"loud targets beyond 3 dB: -0.1 (a - 3)", 5.0, -12.0, -0.2},
        {"-13 itself counts as a loud target", 5.0, -13.0, -0.2},
        {"quiet targets: -0.05 a up to 2 dB", 1.0, -14.0, -0.05},
        {"quiet targets at 2 dB", 2.0, -14.0, -0.1},
        {"quiet targets 2..4 dB: -0.1 - 0.1 (a - 2)", 3.0, -14.0, -0.2},
        {"quiet targets at 4 dB", 4.0, -14.0, -0.3},
        {"quiet targets beyond 4 dB: -0.3 - 0.3 (a - 4)", 6.0, -14.0, -0.9},
        {"nothing to reduce: no correction", 0.0, -14.0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(AudioProcessor::reductionCorrection(c.a, c.target), c.correction, 1e-9) << c.why;
    }
}

TEST(AudioProcessorGains, CorrectionAfterAPassOvershootsUpwardAndEasesDownward) {
    struct Case {
        const char* why;
        double measured, target, gainDb;
    };
    const Case cases[] = {
        {"too quiet by D: D + 0.6 D, pushing against the limiter", -11.0, -10.0, 1.6},
        {"on target: nothing", -10.0, -10.0, 0.0},
        {"too loud for a loud target: D + c(|D|)", -7.0, -8.0, -1.03},
        {"too loud for a quiet target: D + c(|D|)", -11.0, -14.0, -3.0 - 0.2},
        {"too loud by more than 4 dB for a quiet target", -8.0, -14.0, -6.9},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(AudioProcessor::correctionGainDb(c.measured, c.target), c.gainDb, 1e-9) << c.why;
    }
}

TEST(AudioProcessorNames, RenderingNamesCutAtMasterThenAtFinal) {
    struct Case {
        const char* input;
        const char* base;
    };
    const Case cases[] = {
        {"/music/Mix_master_final.wav", "Mix"},
        {"/music/Song.mp3", "Song"},
        {"/music/Song_final_master.wav", "Song"},  // "_master" first leaves "Song_final"
        {"/music/Song_master.wav", "Song"},
        {"/music/Finale_finalize.flac", "Finale"},  // any "_final" counts, even inside a word
        {"/music/My.Song.v2.aiff", "My.Song.v2"},   // only the last extension goes
        {"/music/Über Straße.m4a", "Über Straße"},
        {"/music/_master.wav", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AudioProcessor::renderingBaseName(c.input), c.base) << c.input;
    }
}

// --- Master mode on real files ------------------------------------------------------------------

TEST_F(AudioProcessorTest, OutputNamesFollowTheSongInBothModes) {
    const fs::path mix = song("Mix_master_final.wav");
    writeSongAt(mix, makeSong(22050.0, 2, 6.0, 3), -16.0);
    auto mastered = master(mix, kClub);
    ASSERT_TRUE(mastered.ok()) << mastered.error().description();
    EXPECT_EQ(mastered->outputURL, temp_ / "Mix_master.wav");

    EQSettings eq;
    eq.isEnabled = true;
    eq.bands[3].gain = 3.0f;
    auto finalRendering = AudioProcessor::masterAudioFile(mix, kClub, true, eq, nullptr, {});
    ASSERT_TRUE(finalRendering.ok()) << finalRendering.error().description();
    EXPECT_EQ(finalRendering->outputURL, temp_ / "Mix_final.wav");
    EXPECT_EQ(namesIn(temp_), (std::set<std::string>{"Mix_master.wav", "Mix_final.wav"}))
        << "a final rendering does not replace the master";
}

TEST_F(AudioProcessorTest, InputWithinToleranceRendersOnePassAtUnityGainStraightIntoTheMaster) {
    // The worked example: -14.2 LUFS against the Radio target of -14.
    const fs::path input = song("Near.wav");
    writeSongAt(input, makeSong(22050.0, 2, 8.0, 11), -14.2);
    TempFolderWatch watch(temp_);
    auto result = master(input, kRadio, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();

    EXPECT_EQ(result->passes, 1) << "within 0.3 LU the song is rendered exactly once";
    EXPECT_TRUE(watch.trialNames().empty()) << "no trial file is made when no pass is repeated";
    EXPECT_GT(watch.looks(), 4) << "the watch must have looked during the pass, not only before";
    EXPECT_EQ(namesIn(temp_), std::set<std::string>{"Near_master.wav"});

    const Signal mastered = test::readAll(result->outputURL);
    const Signal reference = renderAt(input, kRadio, 1.0f, result->bpm);
    EXPECT_EQ(largestDifference(mastered, reference), 0.0f)
        << "the one pass runs at gain 1.0 with the limiter and clipper still active";
    auto measured = analyzeAudioFile(result->outputURL);
    ASSERT_TRUE(measured.ok());
    EXPECT_TRUE(sameStats(result->stats, measured.value()))
        << "the figures returned are the measurement of the file written";
}

TEST_F(AudioProcessorTest, EachPassRendersAtTheGainThePreviousMeasurementCalledFor) {
    // A dynamic song far below the Club target needs more than one pass: every trial rendering is
    // kept (hard-linked) as it is written, and each one must equal a rendering at the gain the
    // algorithm derives from the input's figures and the previous pass's measured loudness.
    const fs::path input = song("Quiet.wav");
    const AudioStats in = writeSongAt(input, makeSong(22050.0, 2, 10.0, 5), -26.0);
    TempFolderWatch watch(temp_, kept());
    auto result = master(input, kClub, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();
    ASSERT_GE(result->passes, 2) << "the case needs a repeated pass; choose a quieter input";

    const auto trials = watch.trialNames();
    ASSERT_EQ(trials.size(), static_cast<size_t>(std::min(result->passes, 2)))
        << "passes 1 and 2 write trial files; pass 3 writes the master itself";
    std::vector<fs::path> renderings;
    for (int pass = 1; pass <= result->passes; ++pass) {
        if (pass == 3) {
            renderings.push_back(result->outputURL);
            continue;
        }
        const std::string prefix = "temp_iteration_" + std::to_string(pass) + "_";
        auto it = std::find_if(trials.begin(), trials.end(),
                               [&](const std::string& n) { return n.rfind(prefix, 0) == 0; });
        ASSERT_NE(it, trials.end()) << "pass " << pass << " has its own trial name";
        EXPECT_TRUE(std::regex_match(*it, kTrialName)) << *it << ": number, UUID and .wav";
        renderings.push_back(watch.kept(*it));
    }

    double gainDb = AudioProcessor::firstGainDb(in.lufs, in.peak, kClub.targetLUFS);
    AudioStats last{};
    for (size_t k = 0; k < renderings.size(); ++k) {
        const Signal written = test::readAll(renderings[k]);
        const Signal expected =
            renderAt(input, kClub, static_cast<float>(dbToLinear(gainDb)), result->bpm);
        EXPECT_LE(largestDifference(written, expected), 1.5f / 32768.0f)
            << "pass " << k + 1 << " at " << gainDb << " dB";
        auto measured = analyzeAudioFile(renderings[k]);
        ASSERT_TRUE(measured.ok());
        last = measured.value();
        if (k + 1 < renderings.size()) {
            EXPECT_GT(std::fabs(last.lufs - kClub.targetLUFS), 0.3)
                << "a pass within 0.3 LU is accepted, so only a miss leads to another pass";
            gainDb += AudioProcessor::correctionGainDb(last.lufs, kClub.targetLUFS);
        }
    }
    EXPECT_TRUE(sameStats(result->stats, last)) << "the accepted pass's own measurement is returned";
    EXPECT_TRUE(result->passes == 3 || std::fabs(result->stats.lufs - kClub.targetLUFS) <= 0.3);
    EXPECT_EQ(namesIn(temp_), std::set<std::string>{"Quiet_master.wav"})
        << "rejected trials are removed and the accepted one is moved onto the master";
}

TEST_F(AudioProcessorTest, ASongThatNeverConvergesGetsExactlyThreeRenderings) {
    // -3 LUFS under a ceiling of -20 dBFS is out of reach: every pass misses.
    const DJMasteringSettings unreachable{-3.0f, -20.0f};
    const fs::path input = song("Unreachable.wav");
    writeSongAt(input, makeSong(22050.0, 2, 6.0, 7), -20.0);
    TempFolderWatch watch(temp_);
    auto result = master(input, unreachable, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();

    EXPECT_EQ(result->passes, 3);
    const auto trials = watch.trialNames();
    ASSERT_EQ(trials.size(), 2u) << "passes 1 and 2 are trials; the third writes the master";
    EXPECT_EQ(trials[0].rfind("temp_iteration_1_", 0), 0u) << trials[0];
    EXPECT_EQ(trials[1].rfind("temp_iteration_2_", 0), 0u) << trials[1];
    for (const auto& t : trials) EXPECT_TRUE(std::regex_match(t, kTrialName)) << t;
    EXPECT_EQ(namesIn(temp_), std::set<std::string>{"Unreachable_master.wav"})
        << "both trials are gone once the third pass has been accepted";

    EXPECT_GT(std::fabs(result->stats.lufs - unreachable.targetLUFS), 0.3)
        << "the third pass is accepted whatever its loudness";
    auto measured = analyzeAudioFile(result->outputURL);
    ASSERT_TRUE(measured.ok());
    EXPECT_TRUE(sameStats(result->stats, measured.value()))
        << "returned with the third pass's own figures";
    EXPECT_TRUE(finite(result->stats));
}

TEST_F(AudioProcessorTest, ATrialThatMissesStopsAfterItsMeasuredWindowAndTheMasterIsUnchanged) {
    // Longer than two minutes, so the measured window (the central 120 s) ends before the song:
    // a trial pass that misses the target is stopped there. The passes and the master must be
    // exactly those of passes rendered whole.
    const fs::path input = song("LongQuiet.wav");
    const AudioStats in = writeSongAt(input, makeSong(8000.0, 2, 160.0, 5), -26.0);
    TempFolderWatch watch(temp_, kept());
    auto result = master(input, kClub, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();
    ASSERT_GE(result->passes, 2) << "the case needs a repeated pass; choose a quieter input";
    const auto trials = watch.trialNames();
    ASSERT_EQ(trials.size(), static_cast<size_t>(std::min(result->passes, 2)));

    const size_t windowEnd = (160 * 8000 - 120 * 8000) / 2 + 120 * 8000;
    double gainDb = AudioProcessor::firstGainDb(in.lufs, in.peak, kClub.targetLUFS);
    fs::path whole;
    for (int pass = 1; pass <= result->passes; ++pass) {
        whole = root_ / ("whole-" + std::to_string(pass) + ".wav");
        ASSERT_TRUE(renderMasteringPass(input, whole, kClub.targetLUFS, kClub.limitThreshold,
                                        static_cast<float>(dbToLinear(gainDb)), result->bpm, {}, {})
                        .ok());
        auto measured = analyzeAudioFile(whole);
        ASSERT_TRUE(measured.ok());
        if (pass == result->passes) {
            EXPECT_TRUE(sameStats(result->stats, measured.value())) << "the accepted pass's figures";
            break;
        }
        EXPECT_GT(std::fabs(measured->lufs - kClub.targetLUFS), 0.3) << "pass " << pass << " missed";
        gainDb += AudioProcessor::correctionGainDb(measured->lufs, kClub.targetLUFS);

        const std::string prefix = "temp_iteration_" + std::to_string(pass) + "_";
        auto it = std::find_if(trials.begin(), trials.end(),
                               [&](const std::string& n) { return n.rfind(prefix, 0) == 0; });
        ASSERT_NE(it, trials.end());
        const Signal trial = test::readAll(watch.kept(*it));
        Signal full = test::readAll(whole);
        EXPECT_GE(trial.frameCount(), windowEnd) << "the window is written before the pass stops";
        EXPECT_LT(trial.frameCount(), full.frameCount()) << "pass " << pass << " stopped early";
        for (auto& channel : full.channels) channel.resize(trial.frameCount());
        EXPECT_EQ(largestDifference(trial, full), 0.0f) << "what was written is the whole pass's start";
    }
    EXPECT_EQ(largestDifference(test::readAll(result->outputURL), test::readAll(whole)), 0.0f)
        << "the master is the last pass rendered whole";
    EXPECT_EQ(namesIn(temp_), std::set<std::string>{"LongQuiet_master.wav"});
}

TEST_F(AudioProcessorTest, PassFiguresAreThoseOfTheWrittenFileAtBothBitDepths) {
    // Longer than two minutes, so that the measured window is the file's centre, not its start.
    const fs::path input = song("Long.wav");
    writeSongAt(input, makeSong(8000.0, 2, 130.0, 91), -24.0);
    for (const bool highQuality : {false, true}) {
        preferences_->setBool("highQualityMode", highQuality);
        auto result = master(input, {-10.0f, -0.2f});
        ASSERT_TRUE(result.ok()) << result.error().description();
        auto measured = analyzeAudioFile(result->outputURL);
        ASSERT_TRUE(measured.ok());
        EXPECT_TRUE(sameStats(result->stats, measured.value()))
            << (highQuality ? 24 : 16) << "-bit: the figures measured while writing are the file's";
    }
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
    const fs::path input = song(std::string(c.name) + " Song.wav");
    const Signal source = makeSong(44100.0, 2, 24.0, c.seed);
    writeSongAt(input, source, c.inputLufs);
    ProgressLog progress;
    auto result = master(input, c.settings, {}, progress.updater());
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
    const WavLayout layout = readWavLayout(result->outputURL);
    EXPECT_EQ(layout.formatTag, 1) << "masters hold integer samples";
    EXPECT_EQ(layout.bitsPerSample, c.highQuality ? 24 : 16) << "\"highQualityMode\" picks 24 bits";
    EXPECT_EQ(namesIn(temp_), std::set<std::string>{std::string(c.name) + " Song_master.wav"});

    const auto values = progress.untilComplete();
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
    const fs::path wav = song("Song source.wav");
    const Signal source = makeSong(44100.0, 2, 12.0, 31);
    writeSongAt(wav, source, -17.0);
    const fs::path mp3 = song("Song.mp3");
    test::convertWithFfmpeg(wav, mp3, "-c:a libmp3lame -q:a 2");
    OpenWatch opens(mp3);
    ASSERT_TRUE(opens.ok());
    int64_t mp3Frames = 0;
    {
        auto mp3Reader = AudioFileReader::open(mp3);
        ASSERT_TRUE(mp3Reader.ok());
        mp3Frames = mp3Reader.value()->length();
    }
    opens.poll();
    const int opensPerDecoding = opens.opens();
    ASSERT_GE(opensPerDecoding, 1);

    TempFolderWatch watch(temp_);
    auto result = master(mp3, kClub, watch.check());
    ASSERT_TRUE(result.ok()) << result.error().description();
    EXPECT_EQ(result->outputURL, temp_ / "Song_master.wav");
    EXPECT_TRUE(finite(result->stats));

    opens.poll();
    EXPECT_EQ(opens.opens() - opensPerDecoding, opensPerDecoding)
        << "the song is opened (and so decoded) once for the measurement, tempo and every pass";
    for (const auto& name : watch.seen()) {
        EXPECT_TRUE(name == "Song_master.wav" || std::regex_match(name, kTrialName))
            << name << ": a song this short is decoded into memory, not into a copy on disk";
    }
    EXPECT_EQ(namesIn(temp_), std::set<std::string>{"Song_master.wav"})
        << "the trials are removed";

    const Signal mastered = test::readAll(result->outputURL);
    EXPECT_EQ(static_cast<int64_t>(mastered.frameCount()), mp3Frames);
    EXPECT_EQ(mastered.channelCount(), 2);
    EXPECT_LT(largestMagnitude(mastered), 1.0f);
    if (result->passes < 3) {
        EXPECT_LE(std::fabs(result->stats.lufs - kClub.targetLUFS), 0.3);
    }
    EXPECT_EQ(result->bpm, BPMAnalyzer::detectTempo(mp3).value())
        << "the tempo of the decoded song is the tempo of the file, cached under its own path";

    // The same samples read straight from a float file give the same master, bit for bit: the
    // decoding in memory neither loses nor alters anything.
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
    // 150 s: the measured window starts at 15 s, so a loud bar at the start lies outside it.
    const fs::path input = song("Long.wav");
    Signal signal = makeSong(11025.0, 2, 150.0, 41);
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
    // The second pass is a trial that is kept: its meter starts once its window is in, from the
    // frames it held back, and must come to the same figures as the file read back.
    EXPECT_EQ(result->passes, 2);
    EXPECT_TRUE(sameStats(result->stats, measured.value())) << "the master, metered as it was written";
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
    auto result = AudioProcessor::masterAudioFile(input, kClub, true, eq, progress.updater(), {});
    ASSERT_TRUE(result.ok()) << result.error().description();

    EXPECT_EQ(result->outputURL, temp_ / "Tone_final.wav");
    const WavLayout layout = readWavLayout(result->outputURL);
    EXPECT_EQ(layout.formatTag, 3) << "final renderings are float";
    EXPECT_EQ(layout.bitsPerSample, 32);
    auto measured = analyzeAudioFile(result->outputURL);
    ASSERT_TRUE(measured.ok());
    EXPECT_TRUE(sameStats(result->stats, measured.value())) << "the final rendering is measured";
    EXPECT_NEAR(result->stats.peak, -20.0 + 6.0, 0.3) << "the band gain was applied";
    EXPECT_EQ(result->passes, 0) << "no mastering pass runs in final mode";
    EXPECT_EQ(test::readAll(result->outputURL).frameCount(), test::readAll(input).frameCount());
    EXPECT_EQ(namesIn(temp_), std::set<std::string>{"Tone_final.wav"});
    EXPECT_EQ(progress.untilComplete().back(), 1.0);
}

TEST_F(AudioProcessorTest, FinalModeWithoutAnEnabledEqualiserMastersInstead) {
    const fs::path input = song("Track_master.wav");
    writeSongAt(input, makeSong(22050.0, 2, 6.0, 41), -18.0);
    struct Case {
        const char* why;
        std::optional<EQSettings> eq;
    };
    EQSettings disabled;
    disabled.bands[5].gain = 6.0f;  // ignored: the record is switched off
    const Case cases[] = {{"isEnabled false", disabled}, {"no EQSettings at all", std::nullopt}};
    for (const auto& c : cases) {
        auto result = AudioProcessor::masterAudioFile(input, kClub, true, c.eq, nullptr, {});
        ASSERT_TRUE(result.ok()) << c.why << ": " << result.error().description();
        EXPECT_EQ(result->outputURL, temp_ / "Track_master.wav") << c.why;
        EXPECT_GE(result->passes, 1) << c.why << ": the mastering passes ran";
        EXPECT_EQ(readWavLayout(result->outputURL).bitsPerSample, 16) << c.why;
        EXPECT_FALSE(fs::exists(temp_ / "Track_final.wav")) << c.why;
    }
}

// --- Cancellation -------------------------------------------------------------------------------

TEST_F(AudioProcessorTest, CancelledAtTheStartFailsWithoutTouchingAnything) {
    const fs::path input = song("Early.wav");
    writeSongAt(input, makeSong(22050.0, 2, 4.0, 51), -18.0);
    ProgressLog progress;
    auto result = master(input, kClub, [] { return true; }, progress.updater());
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().is("KorvantaApp", 100)) << result.error().description();
    EXPECT_EQ(result.error().message, "The process was canceled by the user");
    EXPECT_TRUE(namesIn(temp_).empty()) << "nothing is rendered, decoded or moved";
}

// Each row cancels at a different moment, recognised from what the temporary folder holds when
// the callback is asked. The pipeline must stop at that very check (it is not asked again), fail
// with "KorvantaApp" 100, and leave no rendering behind.
struct CancelCase {
    const char* name;
    const char* file;
    DJMasteringSettings settings;
    double inputLufs;
    const char* presentWhenCancelled;  // prefix of a name in the temp folder that triggers it;
                                       // nullptr: the third ask after the song was opened,
                                       // which is inside its decoding (asked before every chunk
                                       // of at most 2 s; the song lasts 12 s)
};

void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class AudioProcessorCancelTest : public AudioProcessorTest,
                                 public ::testing::WithParamInterface<CancelCase> {};

TEST_P(AudioProcessorCancelTest, StopsAtTheNextCheckAndLeavesNoRendering) {
    const CancelCase& c = GetParam();
    const fs::path wav = song("Song.wav");
    writeSongAt(wav, makeSong(22050.0, 2, 12.0, 61), c.inputLufs);
    fs::path input = wav;
    if (std::string(c.file) == "mp3") {
        input = song("Song.mp3");
        test::convertWithFfmpeg(wav, input, "-c:a libmp3lame -q:a 2");
    }
    TempFolderWatch watch(temp_);
    OpenWatch inputOpen(input);
    ASSERT_TRUE(inputOpen.ok());
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
        if (c.presentWhenCancelled == nullptr && inputOpen.opens() > 0) {
            cancelled = ++asksSinceOpened == 3 && namesIn(temp_).empty();
        }
        for (const auto& name : namesIn(temp_)) {
            if (c.presentWhenCancelled && name.rfind(c.presentWhenCancelled, 0) == 0) cancelled = true;
        }
        return cancelled;
    };
    auto result = master(input, c.settings, isCancelled);
    ASSERT_TRUE(cancelled) << "the trigger never appeared: the case does not reach its moment";
    ASSERT_FALSE(result.ok()) << "a cancelled song has no result";
    EXPECT_TRUE(result.error().is("KorvantaApp", 100)) << result.error().description();
    EXPECT_EQ(asksAfterCancelling, 0) << "the pipeline stops before the next chunk";
    EXPECT_TRUE(namesIn(temp_).empty())
        << "no partial master or trial is left: " << ::testing::PrintToString(namesIn(temp_));
}

INSTANTIATE_TEST_SUITE_P(
    Moments, AudioProcessorCancelTest,
    ::testing::Values(
        CancelCase{"WhileDecoding", "mp3", kClub, -18.0, nullptr},
        CancelCase{"WhileDecodingALosslessSong", "wav", kClub, -18.0, nullptr},
        CancelCase{"DuringTheFirstTrialPass", "wav", kClub, -18.0, "temp_iteration_1_"},
        CancelCase{"DuringTheSecondTrialPass", "wav", {-3.0f, -20.0f}, -18.0, "temp_iteration_2_"},
        CancelCase{"DuringTheThirdPassIntoTheMaster", "wav", {-3.0f, -20.0f}, -18.0, "Song_master"},
        CancelCase{"DuringTheOnlyPassIntoTheMaster", "wav", kRadio, -14.1, "Song_master"},
        CancelCase{"DuringAPassOverTheDecodedSong", "mp3", {-3.0f, -20.0f}, -18.0,
                   "temp_iteration_1_"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Bad input ----------------------------------------------------------------------------------

TEST_F(AudioProcessorTest, UnreadableInputFailsWithTheReadersError) {
    const fs::path missing = song("Missing.wav");
    const fs::path corrupt = song("Corrupt.wav");
    {
        std::mt19937 rng(71);
        std::ofstream out(corrupt, std::ios::binary);
        for (int i = 0; i < 20000; ++i) out.put(static_cast<char>(rng() & 0xff));
    }
    for (const fs::path& input : {missing, corrupt}) {
        auto result = master(input, kClub);
        ASSERT_FALSE(result.ok()) << input;
        auto opened = AudioFileReader::open(input);
        ASSERT_FALSE(opened.ok()) << input;
        EXPECT_EQ(result.error(), opened.error()) << input << ": passed on unchanged";
        EXPECT_TRUE(namesIn(temp_).empty()) << input;
    }
}

TEST_F(AudioProcessorTest, SongsWithoutMeasurableLoudnessAreRefused) {
    struct Case {
        const char* file;
        Signal signal;
        const char* ffmpegOptions;  // nullptr: the WAV itself
    };
    const Case cases[] = {
        {"Silence.wav", test::makeSine(22050.0, 2, 3.0, 440.0, 0.0f), nullptr},
        {"Short.wav", makeSong(22050.0, 2, 0.3, 81), nullptr},
        {"Silence.mp3", test::makeSine(44100.0, 2, 3.0, 440.0, 0.0f), "-c:a libmp3lame -q:a 2"},
    };
    for (const auto& c : cases) {
        const fs::path wav = song(std::string(c.file) + ".source.wav");
        test::writeWav(wav, c.signal);
        fs::path input = wav;
        if (c.ffmpegOptions) {
            input = song(c.file);
            test::convertWithFfmpeg(wav, input, c.ffmpegOptions);
        }
        auto result = master(input, kClub);
        ASSERT_FALSE(result.ok()) << c.file;
        EXPECT_TRUE(result.error().is("KorvantaApp", kUnmeasurableLoudness))
            << c.file << ": " << result.error().description();
        EXPECT_FALSE(result.error().message.empty());
        EXPECT_EQ(result.error().message.find("nan"), std::string::npos) << c.file;
        EXPECT_EQ(result.error().message.find("inf"), std::string::npos) << c.file;
        EXPECT_TRUE(namesIn(temp_).empty()) << c.file << ": no master and no decoded copy is left";
    }
}

}  // namespace
}  // namespace korvanta

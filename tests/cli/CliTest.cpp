// Runs the built korvanta-cli as a user would and checks what it prints, writes and exits with.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "analysis/TempoAnalyzer.h"
#include "eq/EQSettings.h"
#include "engine/LoudnessMeter.h"
#include "platform/AudioFileReader.h"
#include "support/ChildProcess.h"
#include "support/TestAudio.h"

#ifndef KORVANTA_CLI
#error "KORVANTA_CLI must name the korvanta-cli executable"
#endif

namespace korvanta {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::ScratchFolder;
using test::Signal;
using test::shellQuote;

// --- Running the program ------------------------------------------------------------------------

struct CliRun {
    int status = -1;  // exit status; -1 when it did not exit normally (a crash)
    std::string out;
    std::string err;

    // Standard output as JSON lines; a line that is not JSON fails the test.
    std::vector<json> lines() const {
        std::vector<json> parsed;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            json value = json::parse(line, nullptr, false);
            EXPECT_FALSE(value.is_discarded()) << "not a JSON line: " << line;
            parsed.push_back(value);
        }
        return parsed;
    }
};

// Runs korvanta-cli with `args` (each shell-quoted) and, when `tmpdir` is given, that TMPDIR.
CliRun runCli(const std::vector<std::string>& args, const fs::path& errFile,
           const fs::path& tmpdir = {}) {
    std::string command;
    if (!tmpdir.empty()) command += "TMPDIR=" + shellQuote(tmpdir.string()) + " ";
    command += shellQuote(KORVANTA_CLI);
    for (const auto& a : args) command += " " + shellQuote(a);
    command += " 2>" + shellQuote(errFile.string()) + " </dev/null";
    CliRun run;
    run.out = test::runCommand(command, &run.status);
    run.err = test::readFile(errFile);
    return run;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// --- Test material ------------------------------------------------------------------------------

// The music-like song of tests/support, at half of `level`: safe for 16-bit files.
Signal makeSong(double sampleRate, double seconds, uint32_t seed, float level = 0.5f) {
    return test::makeSong(sampleRate, seconds, seed, 0.5f * level);
}

// Writes a song in the format `extension` names (wav as 16-bit; others through ffmpeg).
void writeSong(const fs::path& path, const Signal& song) {
    if (path.extension() == ".wav") {
        test::writeWav(path, song, WavSampleFormat::int16);
        return;
    }
    const fs::path source = path.parent_path() / (".source-" + path.filename().string() + ".wav");
    test::writeWav(source, song);
    const std::string ext = path.extension().string();
    test::convertWithFfmpeg(source, path,
                            ext == ".mp3"    ? "-c:a libmp3lame -q:a 2"
                            : ext == ".flac" ? "-c:a flac"
                                             : "");
    fs::remove(source);
}

// The sample format ffprobe reads from a file's header, e.g. "pcm_s16le" or "pcm_f32le".
std::string sampleFormat(const fs::path& path) { return test::ffprobeStreamField(path, "codec_name"); }

// The program's private folder under the TMPDIR `tmp`.
fs::path privateTempIn(const fs::path& tmp) { return tmp / ("korvanta-" + std::to_string(::getuid())); }

int64_t lengthOf(const fs::path& path) {
    auto reader = AudioFileReader::open(path);
    return reader ? reader.value()->length() : -1;
}

// The figures of a JSON line are the product's measurement of `file`, read back to the same float.
AudioStats expectFiguresOf(const json& line, const fs::path& file) {
    auto stats = analyzeAudioFile(file);
    EXPECT_TRUE(stats.ok()) << file;
    if (!stats.ok()) return {};
    EXPECT_EQ(line.value("lufs", NAN), stats->lufs) << file;
    EXPECT_EQ(line.value("peak", NAN), stats->peak) << file;
    EXPECT_EQ(line.value("rms", NAN), stats->rms) << file;
    return stats.value();
}

class CliTest : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const { return scratch_ / name; }
    fs::path folder(const std::string& name) const {
        fs::create_directories(scratch_ / name);
        return scratch_ / name;
    }
    CliRun cli(const std::vector<std::string>& args, const fs::path& tmpdir = {}) {
        return runCli(args, scratch_ / "stderr.txt", tmpdir);
    }

    ScratchFolder scratch_;
};

// --- Help and usage ------------------------------------------------------------------------------

TEST_F(CliTest, HelpNamesEveryCommandAndOption) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"-h"}, {"master", "--help"}}) {
        const CliRun run = cli(args);
        EXPECT_EQ(run.status, 0) << args[0];
        for (const char* word :
             {"analyze", "tempo", "spectrum", "master", "eq", "--json", "--preset", "--target",
              "--ceiling", "--hq", "--format", "--cover", "--reference", "--out", "--settings",
              "--help", "--verbose", "Events", "Radio", "Club", "Festival", "(MASTER)", "(FINAL)",
              "pending", "130"}) {
            EXPECT_TRUE(contains(run.out, word)) << "the help should mention " << word;
        }
    }
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
    const fs::path song = path("Song.wav");
    writeSong(song, makeSong(22050.0, 2.0, 1));
    const fs::path out = path("out");
    const fs::path bad = path("bad.json"), notJson = path("notjson.json");
    std::ofstream(bad) << R"({"bands": 3})";
    std::ofstream(notJson) << "{bands:";
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> named;  // what the message must mention
    } cases[] = {
        {{}, {"COMMAND"}},
        {{"mix"}, {"mix"}},
        {{"analyze"}, {"FILE"}},
        {{"analyze", "--bogus", song}, {"--bogus"}},
        {{"master", "--bogus", "--out", out, song}, {"--bogus"}},
        {{"master", song}, {"--out"}},
        {{"master", "--out", out}, {"PATH"}},
        {{"master", "--preset", "Disco", "--out", out, song}, {"Disco"}},
        {{"master", "--preset", "club", "--out", out, song}, {"club"}},  // names are case-sensitive
        {{"master", "--target", "loud", "--out", out, song}, {"--target"}},
        {{"master", "--preset", "Club", "--target", "-9", "--out", out, song}, {"--preset"}},
        {{"master", "--format", "ogg", "--out", out, song}, {"--format"}},
        {{"master", "--out"}, {"--out"}},
        {{"master", "--report", path("report.txt"), "--out", out, song}, {"--report"}},
        {{"eq", "--out", out, song}, {"--settings"}},
        {{"eq", "--settings", bad, "--out", out, song}, {bad, "\"bands\" is not an array"}},
        {{"eq", "--settings", notJson, "--out", out, song}, {"not valid JSON"}},
    };
    for (const auto& c : cases) {
        const CliRun run = cli(c.args);
        SCOPED_TRACE(::testing::PrintToString(c.args) + "\n" + run.err);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(contains(run.err, "korvanta-cli: "));
        for (const auto& part : c.named) EXPECT_TRUE(contains(run.err, part)) << "should name " << part;
        EXPECT_TRUE(run.out.empty()) << "nothing on standard output";
    }
    EXPECT_FALSE(fs::exists(out)) << "a usage error writes nothing";
}

// --- analyze, tempo, spectrum --------------------------------------------------------------------

TEST_F(CliTest, AnalyzePrintsTheMeasurementOfEveryFileEvenWhenOneFails) {
    const fs::path a = path("A song.wav"), b = path("B song.flac"), bad = path("Broken.wav");
    writeSong(a, makeSong(22050.0, 3.0, 2));
    writeSong(b, makeSong(44100.0, 2.0, 3, 0.2f));
    test::writeFile(bad, test::randomBytes(5000, 4));

    const CliRun good = cli({"analyze", "--json", a, b});
    EXPECT_EQ(good.status, 0);
    const auto lines = good.lines();
    ASSERT_EQ(lines.size(), 2u);
    const struct {
        fs::path file;
        double rate, seconds;
    } files[] = {{a, 22050.0, 3.0}, {b, 44100.0, 2.0}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(lines[i].value("file", ""), files[i].file.string()) << "in command-line order";
        expectFiguresOf(lines[i], files[i].file);
        EXPECT_NEAR(lines[i]["duration"].get<double>(), files[i].seconds, 1e-6);
        EXPECT_EQ(lines[i]["sampleRate"].get<double>(), files[i].rate);
        EXPECT_EQ(lines[i]["channels"].get<int>(), 2);
    }

    const CliRun mixed = cli({"analyze", "--json", a, bad, b});
    EXPECT_EQ(mixed.status, 1) << "one file failed";
    const auto mixedLines = mixed.lines();
    ASSERT_EQ(mixedLines.size(), 3u) << "a failing file does not stop the others";
    EXPECT_EQ(mixedLines[1].value("file", ""), bad.string());
    ASSERT_TRUE(mixedLines[1].contains("error"));
    for (const char* key : {"domain", "code", "message"}) {
        EXPECT_TRUE(mixedLines[1]["error"].contains(key)) << key;
    }
    EXPECT_FALSE(mixedLines[1].contains("lufs"));
    EXPECT_EQ(mixedLines[2], lines[1]) << "the file after the failure is measured as before";

    const CliRun human = cli({"analyze", a, bad, b});
    EXPECT_EQ(human.status, 1);
    for (const char* part : {"FILE", "LUFS", "PEAK", "RMS", "A song.wav", "B song.flac", "Broken.wav",
                             "error:", "0:03", "22050", "44100"}) {
        EXPECT_TRUE(contains(human.out, part)) << part << " in\n" << human.out;
    }
}

TEST_F(CliTest, TempoAndSpectrumGiveTheirFiguresAsJson) {
    const fs::path song = path("Beat.wav");
    writeSong(song, makeSong(22050.0, 8.0, 5));

    const CliRun tempo = cli({"tempo", "--json", song});
    EXPECT_EQ(tempo.status, 0);
    const auto tempoLines = tempo.lines();
    ASSERT_EQ(tempoLines.size(), 1u);
    EXPECT_EQ(tempoLines[0].value("file", ""), song.string());
    BPMAnalyzer::clearCache();
    EXPECT_EQ(tempoLines[0].value("bpm", 0), BPMAnalyzer::detectTempo(song).value())
        << "the command reports the tempo estimate itself";

    const CliRun spectrum = cli({"spectrum", "--json", song});
    EXPECT_EQ(spectrum.status, 0);
    const auto lines = spectrum.lines();
    ASSERT_EQ(lines.size(), 1u);
    const json& line = lines[0];
    EXPECT_EQ(line.value("file", ""), song.string());
    ASSERT_TRUE(line.contains("bands") && line["bands"].is_array());
    EXPECT_EQ(line["bands"].size(), 12u) << "one level per equaliser band";
    for (const auto& level : line["bands"]) {
        EXPECT_TRUE(level.is_number() && level.get<double>() >= 0.0 && level.get<double>() <= 10.0)
            << level;
    }
    ASSERT_TRUE(line.contains("profile"));
    const json& profile = line["profile"];
    ASSERT_TRUE(profile.contains("frequencies") && profile.contains("magnitudes"));
    EXPECT_FALSE(profile["frequencies"].empty());
    EXPECT_EQ(profile["frequencies"].size(), profile["magnitudes"].size());
}

// --- master and eq -------------------------------------------------------------------------------

TEST_F(CliTest, MasterAFolderOfMixedFormats) {
    const fs::path in = folder("songs");
    writeSong(in / "One.wav", makeSong(22050.0, 5.0, 11));
    writeSong(in / "Two.flac", makeSong(44100.0, 4.0, 12, 0.2f));
    writeSong(in / "Three.mp3", makeSong(44100.0, 4.0, 13));
    test::writeFile(in / "Four.wav", test::randomBytes(8000, 14));
    std::ofstream(in / "notes.txt") << "not a song";
    std::map<std::string, std::string> before;
    for (const auto& entry : fs::directory_iterator(in)) before[entry.path().filename()] = test::readFile(entry.path());

    const fs::path out = path("out"), tmp = folder("tmp");
    const CliRun run = cli({"master", "--preset", "Club", "--json", "--out", out, in}, tmp);
    EXPECT_EQ(run.status, 1) << "one song failed\n" << run.err;
    const auto lines = run.lines();
    ASSERT_EQ(lines.size(), 4u) << "one line per song, none for the text file\n" << run.out;

    std::set<std::string> reportedFiles;
    for (const json& line : lines) {
        const fs::path file = line.value("file", "");
        reportedFiles.insert(file.filename());
        if (file.filename() == "Four.wav") {
            EXPECT_EQ(line.value("status", ""), "failed");
            ASSERT_TRUE(line.contains("error")) << line;
            EXPECT_TRUE(line["error"].contains("message"));
            EXPECT_FALSE(line.contains("output"));
            continue;
        }
        EXPECT_EQ(line.value("status", ""), "completed") << line;
        const fs::path output = line.value("output", "");
        EXPECT_EQ(output, out / (file.stem().string() + " (MASTER).wav"));
        ASSERT_TRUE(fs::exists(output)) << output;
        EXPECT_EQ(lengthOf(output), lengthOf(file)) << "the master keeps the song's length";
        const AudioStats stats = expectFiguresOf(line, output);
        const int passes = line.value("passes", 0);
        EXPECT_TRUE(passes >= 1 && passes <= 3) << line;
        if (passes < 3) {
            EXPECT_NEAR(stats.lufs, -10.0, 0.3) << "the Club target";
        }
        const int bpm = line.value("bpm", 0);
        EXPECT_TRUE(bpm >= 70 && bpm <= 170) << line;
        EXPECT_EQ(sampleFormat(output), "pcm_s16le") << "16-bit without --hq";
    }
    EXPECT_EQ(reportedFiles, (std::set<std::string>{"One.wav", "Two.flac", "Three.mp3", "Four.wav"}));

    for (const auto& [name, bytes] : before) {
        EXPECT_EQ(test::readFile(in / name), bytes) << name << " must be left exactly as it was";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(in), {}), static_cast<long>(before.size()))
        << "nothing is written next to the originals";
    EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 3) << "exactly the three masters";
    EXPECT_TRUE(fs::is_empty(privateTempIn(tmp))) << "the renderings were only the way to the exports";
}

TEST_F(CliTest, AnOutputFolderThatCannotBeMadeFailsEverySongWithoutACrash) {
    const fs::path one = path("One.wav"), two = path("Two.wav"), blocker = path("a-file");
    writeSong(one, makeSong(22050.0, 3.0, 21));
    writeSong(two, makeSong(22050.0, 3.0, 22));
    std::ofstream(blocker) << "a regular file where a folder would have to be";

    const CliRun run = cli({"master", "--json", "--out", blocker / "out", one, two});
    EXPECT_EQ(run.status, 1) << "exits normally, reporting failures\n" << run.err;
    const auto lines = run.lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const json& line : lines) {
        EXPECT_EQ(line.value("status", ""), "failed") << line;
        EXPECT_TRUE(line.contains("error")) << line;
        EXPECT_FALSE(line.contains("output")) << line;
    }
    EXPECT_EQ(test::readFile(blocker), "a regular file where a folder would have to be");
}

TEST_F(CliTest, FormatM4aWritesAacAndASongNamedTwiceIsMasteredOnce) {
    const fs::path song = path("Song.wav"), out = path("out");
    writeSong(song, makeSong(44100.0, 4.0, 31));
    const CliRun run = cli({"master", "--format", "m4a", "--json", "--out", out, song, song});
    EXPECT_EQ(run.status, 1) << "the repeat is reported as a failure\n" << run.err;
    const auto lines = run.lines();
    ASSERT_EQ(lines.size(), 2u) << "one line per PATH given";
    std::vector<std::string> statuses;
    std::string written;
    for (const json& line : lines) {
        statuses.push_back(line.value("status", ""));
        if (statuses.back() == "failed") {
            EXPECT_EQ(line["error"].value("message", ""), "Duplicate of an earlier song");
        } else {
            written = line.value("output", "");
        }
    }
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses, (std::vector<std::string>{"completed", "failed"}))
        << "the first mention is mastered, the repeat is not mastered a second time";
    EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 1);

    const fs::path output = out / "Song (MASTER).m4a";
    EXPECT_EQ(written, output.string());
    ASSERT_TRUE(fs::exists(output));
    int status = 0;
    const std::string probe = test::runCommand(
        "ffprobe -v error -select_streams a:0 -show_entries stream=codec_name:format=format_name,duration "
        "-of default=noprint_wrappers=1 " + shellQuote(output.string()), &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(contains(probe, "codec_name=aac")) << probe;
    EXPECT_TRUE(contains(probe, "mp4")) << probe;
    const auto at = probe.find("duration=");
    ASSERT_NE(at, std::string::npos) << probe;
    EXPECT_NEAR(std::stod(probe.substr(at + 9)), 4.0, 0.05) << "the whole song";
}

// The batch report of a two-song master, as CSV and as JSON: both read back to the figures of the
// JSON lines, with the standard figures and the M4A check beside them.
TEST_F(CliTest, MasterReportReadsBackToTheFiguresOfEverySong) {
    const fs::path quiet = path("Quiet.wav"), loud = path("Loud.wav");
    writeSong(quiet, makeSong(44100.0, 5.0, 41, 0.1f));
    writeSong(loud, makeSong(48000.0, 4.0, 42, 0.9f));
    std::map<std::string, json> byFile;
    for (const char* report : {"report.csv", "report.json"}) {
        const CliRun run = cli({"master", "--format", "m4a", "--json", "--report", path(report), "--out",
                                path(std::string("out-") + report), quiet, loud});
        ASSERT_EQ(run.status, 0) << run.err;
        for (const json& line : run.lines()) {
            EXPECT_TRUE(line.contains("truePeak") && line.contains("lufsR128")) << line.dump();
            EXPECT_TRUE(line.contains("m4aTruePeak")) << "every M4A is decoded again: " << line.dump();
            EXPECT_EQ(line.contains("warning"), line.value("m4aTruePeak", -100.0) > -1.0) << line.dump();
            byFile[line.value("file", "")] = line;
        }
        ASSERT_TRUE(fs::exists(path(report)));
    }
    ASSERT_EQ(byFile.size(), 2u);

    const auto parsed = json::parse(test::readFile(path("report.json")));
    ASSERT_EQ(parsed["songs"].size(), 2u);
    for (const json& song : parsed["songs"]) {
        const json& line = byFile.at(song.value("file", ""));
        EXPECT_EQ(song["status"], "completed");
        for (const auto& [key, field] : {std::pair{"lufs", "lufs"}, {"lufs_r128", "lufsR128"},
                                         {"true_peak_dbtp", "truePeak"}, {"peak_db", "peak"},
                                         {"rms_db", "rms"}}) {
            EXPECT_EQ(song["master"][key].get<float>(), line[field].get<float>()) << key;
        }
        EXPECT_EQ(song["bpm"].get<int>(), line["bpm"].get<int>());
        EXPECT_EQ(song["passes"].get<int>(), line["passes"].get<int>());
        EXPECT_NEAR(song["m4a_true_peak_dbtp"].get<float>(), line["m4aTruePeak"].get<float>(), 0.3)
            << "a second encode of the same master";
        EXPECT_NEAR(song["penalties_db"]["spotify"].get<double>(), line["platformGain"]["spotify"].get<double>(), 1e-4);
        EXPECT_TRUE(song["first_gain_db"].is_number());
        EXPECT_TRUE(song["original"]["lufs_r128"].is_number());
    }
    // The originals' figures are those `analyze` gives.
    const auto analyzed = cli({"analyze", "--json", quiet}).lines();
    ASSERT_EQ(analyzed.size(), 1u);
    EXPECT_EQ(parsed["songs"][0]["original"]["lufs_r128"].get<float>(), analyzed[0]["lufsR128"].get<float>());
    EXPECT_EQ(parsed["songs"][0]["original"]["true_peak_dbtp"].get<float>(), analyzed[0]["truePeak"].get<float>());
    EXPECT_EQ(parsed["songs"][0]["sample_rate"].get<double>(), 44100.0);
    EXPECT_EQ(parsed["songs"][1]["sample_rate"].get<double>(), 48000.0);

    // The CSV: a header and one row per song, in the order given.
    std::istringstream csv(test::readFile(path("report.csv")));
    std::vector<std::vector<std::string>> rows;
    for (std::string row; std::getline(csv, row);) {
        if (!row.empty() && row.back() == '\r') row.pop_back();
        std::vector<std::string> cells;
        std::stringstream cellStream(row);
        for (std::string cell; std::getline(cellStream, cell, ',');) cells.push_back(cell);
        if (!row.empty() && row.back() == ',') cells.push_back("");
        rows.push_back(cells);
    }
    ASSERT_EQ(rows.size(), 3u);
    const auto column = [&](const std::string& name) {
        return size_t(std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin());
    };
    for (size_t r = 1; r <= 2; ++r) {
        ASSERT_EQ(rows[r].size(), rows[0].size());
        const json& line = byFile.at(rows[r][column("file")]);
        EXPECT_EQ(std::stof(rows[r][column("master_lufs")]), line["lufs"].get<float>());
        EXPECT_EQ(std::stof(rows[r][column("master_true_peak_dbtp")]), line["truePeak"].get<float>());
        EXPECT_EQ(std::stof(rows[r][column("master_lufs_r128")]), line["lufsR128"].get<float>());
        EXPECT_EQ(rows[r][column("status")], "completed");
    }
    EXPECT_EQ(rows[1][column("file")], quiet.string());
}

TEST_F(CliTest, ReportsKeepTheSongsOrderWhenALaterExportEndsFirst) {
    // Exports run side by side: the short song's M4A is done long before the long one's.
    const fs::path longSong = path("Long.wav"), shortSong = path("Short.wav");
    writeSong(longSong, makeSong(44100.0, 40.0, 5));
    writeSong(shortSong, makeSong(44100.0, 1.0, 6));
    const CliRun run = cli({"master", "--format", "m4a", "--json", "--out", path("out"), longSong, shortSong});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = run.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].value("file", ""), longSong.string());
    EXPECT_EQ(lines[1].value("file", ""), shortSong.string());
    for (const json& line : lines) EXPECT_EQ(line.value("status", ""), "completed") << line.dump();
}

TEST_F(CliTest, EqRendersThroughASettingsFile) {
    const fs::path song = path("Mix.wav"), out = path("out"), tmp = folder("tmp");
    writeSong(song, makeSong(22050.0, 3.0, 41));
    EQSettings eq;  // switched off: the command switches it on
    eq.bands[2].gain = 4.0f;
    eq.masterGain = -1.0f;
    const fs::path settings = path("eq.json");
    std::ofstream(settings) << encodeEQSettings(eq);
    const CliRun run = cli({"eq", "--settings", settings, "--json", "--out", out, song}, tmp);
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = run.lines();
    ASSERT_EQ(lines.size(), 1u);
    const fs::path output = out / "Mix (FINAL).wav";
    EXPECT_EQ(lines[0].value("output", ""), output.string());
    ASSERT_TRUE(fs::exists(output));
    EXPECT_EQ(sampleFormat(output), "pcm_f32le") << "final renderings are 32-bit float";
    EXPECT_EQ(lengthOf(output), lengthOf(song));
    const AudioStats stats = expectFiguresOf(lines[0], output);
    auto original = analyzeAudioFile(song);
    ASSERT_TRUE(original.ok());
    EXPECT_NE(stats.lufs, original->lufs) << "the equaliser changed the song";
    EXPECT_TRUE(fs::is_empty(privateTempIn(tmp)));
}

// --- Standard error belongs to the program -------------------------------------------------------

TEST_F(CliTest, TheDecodingLibrariesPrintNothingOfTheirOwn) {
    // The bad inputs of the readers' own tests: text, random bytes and nothing under audio names,
    // and real songs with random bytes written over their middle.
    std::vector<std::string> inputs;
    auto add = [&](const std::string& name, const std::string& bytes) {
        test::writeFile(path(name), bytes);
        inputs.push_back(path(name).string());
    };
    add("list.mp3", test::notAudioText());
    add("list.aac", test::notAudioText());
    add("empty.mp3", "");
    for (const char* name : {"noise.mp3", "noise.m4a", "noise.wav"}) {
        add(name, test::randomBytes(300000, static_cast<uint32_t>(inputs.size())));
    }
    for (const char* name : {"damaged.mp3", "damaged.m4a", "damaged.flac"}) {
        writeSong(path(name), makeSong(44100.0, 3.0, 9));
        std::string bytes = test::readFile(path(name));
        add(name, bytes.replace(bytes.size() / 2, 3000, test::randomBytes(3000, 5)));
    }

    std::vector<std::string> analyze{"analyze", "--json"};
    analyze.insert(analyze.end(), inputs.begin(), inputs.end());
    std::vector<std::string> master{"master", "--json", "--out", path("out").string()};
    master.insert(master.end(), inputs.begin(), inputs.end());
    for (const auto& args : {analyze, master}) {
        const CliRun run = cli(args, path("tmp"));
        EXPECT_EQ(run.status, 1) << args[0] << ": some inputs are not audio";
        EXPECT_EQ(run.lines().size(), inputs.size()) << args[0] << ": every input is reported";
        EXPECT_EQ(run.err, "") << args[0] << " printed what is not its own";
    }

    // Asked for, the libraries' notes come as the program's own lines.
    analyze.push_back("--verbose");
    const CliRun verbose = cli(analyze);
    std::istringstream lines(verbose.err);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("korvanta-cli: ", 0), 0u) << line;
    }
    EXPECT_TRUE(contains(verbose.err, "korvanta-cli: libsndfile: list.mp3: ")) << verbose.err;
    EXPECT_TRUE(contains(verbose.err, "korvanta-cli: ffmpeg: ")) << verbose.err;
    EXPECT_EQ(verbose.lines().size(), inputs.size()) << "--verbose changes nothing else";
}

TEST_F(CliTest, AFullOutputDiskIsNamedAsTheCause) {
    const fs::path song = path("Song.wav"), disk = folder("disk"), tmp = folder("tmp");
    writeSong(song, makeSong(44100.0, 3.0, 4));  // about 530 kB of 16-bit WAV
    const fs::path errFile = path("stderr.txt");
    const int outcome = test::runInChild([&] {
        if (!test::mountPrivateSmallDisk(disk, 64 * 1024, nullptr)) return test::kCannotMountPrivately;
        const CliRun run = runCli({"master", "--json", "--out", disk.string(), song.string()}, errFile, tmp);
        std::fprintf(stderr, "%s", run.out.c_str());
        if (run.status != 1) return 1;
        const json line = json::parse(run.out, nullptr, false);
        if (line.is_discarded() || line.value("status", "") != "failed") return 2;
        const std::string message = line["error"].value("message", "");
        if (!contains(message, "No space left on device") || contains(message, "Input/output error")) return 3;
        return fs::is_empty(disk) ? 0 : 4;
    }, 120);
    if (outcome == test::kCannotMountPrivately) GTEST_SKIP() << test::kNoPrivateSmallDisk;
    EXPECT_EQ(outcome, 0) << "1: not exit status 1, 2: not reported as failed, 3: another cause named, "
                             "4: a partial file is left on the full disk";
}

// --- Ctrl-C ----------------------------------------------------------------------------------------

// korvanta-cli in a child process with its standard output on a pipe, read line by line.
class Child {
public:
    Child(const std::vector<std::string>& args, const fs::path& tmpdir, const fs::path& errFile) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (err >= 0) ::dup2(err, STDERR_FILENO);
            ::setenv("TMPDIR", tmpdir.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(KORVANTA_CLI)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(KORVANTA_CLI, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = ::fdopen(fds[0], "r");
    }
    ~Child() {
        if (out_) std::fclose(out_);
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool started() const { return pid_ > 0 && out_; }
    // The next line of standard output, or nullopt at its end.
    std::optional<std::string> readLine() {
        char* line = nullptr;
        size_t size = 0;
        const ssize_t n = ::getline(&line, &size, out_);
        std::optional<std::string> text;
        if (n >= 0) text = std::string(line, static_cast<size_t>(n));
        std::free(line);
        return text;
    }
    void interrupt() { ::kill(pid_, SIGINT); }
    // The exit status, or -1 when it did not exit normally.
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    bool reaped_ = false;
};

TEST_F(CliTest, CtrlCStopsTheRunningSongAndLeavesNoPartialFile) {
    const fs::path out = path("out"), tmp = folder("tmp"), errFile = path("stderr.txt");
    std::vector<fs::path> songs;
    std::vector<std::string> args{"master", "--json", "--out", out.string()};
    for (int i = 1; i <= 5; ++i) {
        songs.push_back(path("Song " + std::to_string(i) + ".wav"));
        writeSong(songs.back(), makeSong(44100.0, 75.0, 50u + static_cast<uint32_t>(i)));
        args.push_back(songs.back().string());
    }

    Child child(args, tmp, errFile);
    ASSERT_TRUE(child.started());
    std::vector<json> lines;
    while (auto line = child.readLine()) {
        lines.push_back(json::parse(*line, nullptr, false));
        ASSERT_FALSE(lines.back().is_discarded()) << *line;
        if (lines.size() == 1) {
            ASSERT_EQ(lines[0].value("status", ""), "completed") << "the first song finished first";
            child.interrupt();
        }
    }
    EXPECT_EQ(child.wait(), 130) << "a cancelled batch exits as interrupted, it does not die of the signal";
    EXPECT_TRUE(contains(test::readFile(errFile), "Cancelling")) << "the user is told what happens";

    ASSERT_EQ(lines.size(), songs.size()) << "every song is still reported";
    int failed = 0;
    std::set<std::string> expected;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string status = lines[i].value("status", "");
        EXPECT_EQ(lines[i].value("file", ""), songs[i].string()) << "in command-line order";
        if (status == "completed") {
            const fs::path output = lines[i].value("output", "");
            expected.insert(output.filename());
            EXPECT_EQ(lengthOf(output), lengthOf(songs[i])) << "a whole file";
        }
        if (status == "failed") {
            ++failed;
            ASSERT_TRUE(lines[i].contains("error"));
            EXPECT_EQ(lines[i]["error"].value("code", 0), 100) << "cancelled by the user";
            EXPECT_EQ(lines[i]["error"].value("domain", ""), "KorvantaApp");
        }
        if (i + 1 < lines.size() && status == "pending") {
            EXPECT_EQ(lines[i + 1].value("status", ""), "pending") << "no song starts after a cancel";
        }
    }
    EXPECT_EQ(lines.back().value("status", ""), "pending") << "the last song was never started";
    EXPECT_LE(failed, 1) << "only the running song is stopped";

    // The output folder holds whole masters of the completed songs and nothing else.
    std::set<std::string> present;
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename();
        present.insert(name);
        EXPECT_FALSE(contains(name, ".partial")) << name;
    }
    EXPECT_EQ(present, expected);
    std::vector<std::string> leftovers;
    for (const auto& entry : fs::directory_iterator(privateTempIn(tmp))) leftovers.push_back(entry.path().filename());
    EXPECT_TRUE(leftovers.empty()) << "no rendering of the run is left: "
                                   << ::testing::PrintToString(leftovers);
}

}  // namespace
}  // namespace korvanta

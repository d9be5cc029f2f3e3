// Delivery: the services' gains, the check of an encoded M4A, and the batch report read back.
#include <gtest/gtest.h>

#include <ebur128.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <utility>

#include "export/AacEncoder.h"
#include "export/DeliveryReport.h"
#include "export/EncodedTruePeak.h"
#include "export/PlatformLoudness.h"
#include "ExportTestSupport.h"

namespace korvanta::test {
namespace {

const PlatformLoudness& platform(const std::string& key) {
    for (const auto& p : platformLoudnessTable()) {
        if (p.key == key) return p;
    }
    ADD_FAILURE() << "no platform " << key;
    return platformLoudnessTable().front();
}

TEST(PlatformLoudness, GainsFollowEachServicesRule) {
    const struct {
        const char* platform;
        double lufs, truePeak;
        std::optional<double> gain;
        const char* why;
    } cases[] = {
        {"spotify", -8.0, -0.1, -6.0, "a loud master is turned down to the reference"},
        {"apple_music", -8.0, -0.1, -8.0, "Apple's reference is 2 LU lower"},
        {"deezer", -8.0, -0.1, -7.0, "Deezer's is 1 LU lower"},
        {"spotify", -20.0, -5.0, 4.0, "Spotify's own example: lifted to −16 LUFS only"},
        {"spotify", -17.0, -9.0, 3.0, "enough headroom: lifted all the way"},
        {"spotify", -20.0, 0.5, 0.0, "no headroom: never turned down for being quiet"},
        {"apple_music", -20.0, -6.0, 4.0, "lifted to −16, true peak −2 dBTP"},
        {"youtube", -20.0, -10.0, 0.0, "services that only turn down leave quiet songs alone"},
        {"tidal", -20.0, -10.0, 0.0, ""},
        {"tidal", -14.0, -1.0, 0.0, "at the reference nothing changes"},
        {"spotify", -INFINITY, -900.0, std::nullopt, "silence has no loudness to normalise"},
    };
    for (const auto& c : cases) {
        const auto gain = platformGainDb(platform(c.platform), c.lufs, c.truePeak);
        ASSERT_EQ(gain.has_value(), c.gain.has_value()) << c.platform << ": " << c.why;
        if (gain) {
            EXPECT_NEAR(*gain, *c.gain, 1e-6) << c.platform << ": " << c.why;
        }
    }
    const std::string summary = penaltySummary(platformPenalties(-8.0, -0.1));
    EXPECT_EQ(summary.find("Spotify -6.0"), 0u) << summary;
    EXPECT_NE(summary.find("Apple Music -8.0"), std::string::npos) << summary;
}

TEST(EncodedTruePeak, WarnsOnlyAboveMinusOneDbtpWithTheFigure) {
    EXPECT_EQ(encodedTruePeakWarning(0.4f), "M4A true peak +0.4 dBTP \u2014 may distort after encoding on some players");
    EXPECT_EQ(encodedTruePeakWarning(-0.5f), "M4A true peak -0.5 dBTP \u2014 may distort after encoding on some players");
    EXPECT_EQ(encodedTruePeakWarning(-1.0f), "");
    EXPECT_EQ(encodedTruePeakWarning(-3.0f), "");
}

TEST(EncodedTruePeak, MeasuresTheDecodedM4aWithoutChangingIt) {
    ScratchFolder folder;
    // A square-ish wave clipped at full scale: AAC rings well above 0 dBTP on it.
    const Signal loud = makeSignal(44100, 2, 44100 * 3, [](int c, size_t i) {
        const double v = 3.0 * std::sin(2.0 * M_PI * (220.0 + 110.0 * c) * double(i) / 44100.0);
        return float(std::clamp(v, -1.0, 1.0));
    });
    writeWav(folder / "loud.wav", loud, WavSampleFormat::int16);
    auto encoder = AacEncoder::create(folder / "loud.wav");
    ASSERT_TRUE(encoder.ok()) << encoder.error().description();
    ASSERT_TRUE(encoder.value()->encode(folder / "loud.m4a").ok());
    const Bytes before = readBytes(folder / "loud.m4a");

    auto peak = measureFileTruePeak(folder / "loud.m4a");
    ASSERT_TRUE(peak.ok()) << peak.error().description();
    EXPECT_GT(peak.value(), -1.0f);
    EXPECT_FALSE(encodedTruePeakWarning(peak.value()).empty());
    EXPECT_EQ(readBytes(folder / "loud.m4a"), before);

    // The same decoded samples through libebur128's true-peak mode.
    const Signal decoded = readAll(folder / "loud.m4a");
    ebur128_state* st = ebur128_init(2, 44100, EBUR128_MODE_TRUE_PEAK);
    std::vector<float> interleaved;
    for (size_t i = 0; i < decoded.frameCount(); ++i)
        for (const auto& ch : decoded.channels) interleaved.push_back(ch[i]);
    ebur128_add_frames_float(st, interleaved.data(), decoded.frameCount());
    double p[2] = {0, 0};
    for (unsigned c = 0; c < 2; ++c) ebur128_true_peak(st, c, &p[c]);
    ebur128_destroy(&st);
    EXPECT_NEAR(peak.value(), 20.0 * std::log10(std::max(p[0], p[1])), 0.1);

    EXPECT_FALSE(measureFileTruePeak(folder / "missing.m4a").ok());
}

std::vector<ReportSong> twoSongBatch() {
    ReportSong a;
    a.file = "/music/One, \"quoted\".wav";
    a.durationSeconds = 40.000022675736963;
    a.sampleRate = 44100;
    a.channelCount = 2;
    a.bpm = 128;
    a.passes = 2;
    a.firstGainDb = 4.6312345678;
    a.original = AudioStats{-17.213f, -0.4f, -12.91f, 0.37f, -16.702f};
    a.master = AudioStats{-10.04f, -0.1f, -7.33f, 0.61f, -9.55f};
    a.encodedTruePeakDb = 0.83f;
    a.status = "completed";
    ReportSong b;
    b.file = "/music/Two.flac";
    b.durationSeconds = 12.5;
    b.sampleRate = 96000;
    b.channelCount = 1;
    b.original = AudioStats{-30.5f, -9.0f, -25.0f, -8.8f, -29.99f};
    b.status = "failed";
    b.error = "The song has no measurable loudness:\nit is silent";
    return {a, b};
}

// RFC 4180 fields: quoted fields may hold commas, doubled quotes and line breaks.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool pair = i + 1 < text.size() && text[i + 1] == (c == '\r' ? '\n' : '"');
        if (quoted && c == '"' && pair) {
            field += text[++i];
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ',' || (c == '\r' && pair))) {
            rows.back().push_back(std::exchange(field, {}));
            if (c == '\r') {
                rows.emplace_back();
                ++i;
            }
        } else {
            field += c;
        }
    }
    if (rows.back().empty()) rows.pop_back();
    return rows;
}

TEST(DeliveryReport, CsvReadsBackToTheSameFigures) {
    const auto songs = twoSongBatch();
    const auto rows = parseCsv(reportCsv(songs));
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_EQ(rows[0], reportColumns());
    const auto cell = [&](size_t row, const std::string& column) {
        const auto at = std::find(rows[0].begin(), rows[0].end(), column);
        EXPECT_NE(at, rows[0].end()) << column;
        return rows[row][size_t(at - rows[0].begin())];
    };
    for (size_t r = 1; r <= 2; ++r) ASSERT_EQ(rows[r].size(), rows[0].size()) << "row " << r;
    EXPECT_EQ(cell(1, "file"), songs[0].file);
    EXPECT_EQ(std::stod(cell(1, "duration_s")), *songs[0].durationSeconds);
    EXPECT_EQ(std::stod(cell(1, "first_gain_db")), *songs[0].firstGainDb);
    EXPECT_EQ(cell(1, "bpm"), "128");
    EXPECT_EQ(std::stof(cell(1, "original_lufs")), songs[0].original->lufs);
    EXPECT_EQ(std::stof(cell(1, "master_lufs_r128")), songs[0].master->lufsR128);
    EXPECT_EQ(std::stof(cell(1, "master_true_peak_dbtp")), songs[0].master->truePeak);
    EXPECT_EQ(std::stof(cell(1, "master_rms_db")), songs[0].master->rms);
    EXPECT_EQ(std::stof(cell(1, "m4a_true_peak_dbtp")), 0.83f);
    EXPECT_EQ(cell(1, "final_lufs"), "") << "no final rendering: an empty cell";
    // The master at −9.55 LUFS (R128): Spotify turns it down by 4.45 dB.
    EXPECT_NEAR(std::stod(cell(1, "penalty_spotify_db")), -4.45, 1e-5);
    EXPECT_EQ(cell(2, "status"), "failed");
    EXPECT_EQ(cell(2, "error"), songs[1].error);
    EXPECT_EQ(cell(2, "bpm"), "");
    // A quiet original, true peak −8.8: Spotify lifts it by 7.8 dB, not the 15.99 it lacks.
    EXPECT_NEAR(std::stod(cell(2, "penalty_spotify_db")), 7.8, 1e-5);
}

TEST(DeliveryReport, JsonReadsBackToTheSameFigures) {
    const auto songs = twoSongBatch();
    const auto json = nlohmann::json::parse(reportJson(songs));
    ASSERT_EQ(json["songs"].size(), 2u);
    const auto& a = json["songs"][0];
    EXPECT_EQ(a["file"], songs[0].file);
    EXPECT_EQ(a["sample_rate"].get<double>(), 44100.0);
    EXPECT_EQ(a["channels"].get<int>(), 2);
    EXPECT_EQ(a["passes"].get<int>(), 2);
    EXPECT_EQ(a["first_gain_db"].get<double>(), *songs[0].firstGainDb);
    EXPECT_EQ(a["original"]["lufs"].get<float>(), songs[0].original->lufs);
    EXPECT_EQ(a["original"]["true_peak_dbtp"].get<float>(), songs[0].original->truePeak);
    EXPECT_EQ(a["master"]["lufs_r128"].get<float>(), songs[0].master->lufsR128);
    EXPECT_EQ(a["master"]["peak_db"].get<float>(), songs[0].master->peak);
    EXPECT_TRUE(a["final"].is_null());
    EXPECT_NEAR(a["penalties_db"]["apple_music"].get<double>(), -6.45, 1e-5);
    EXPECT_EQ(json["songs"][1]["error"], songs[1].error);
    EXPECT_TRUE(json["songs"][1]["bpm"].is_null());
    EXPECT_EQ(json["platforms"].size(), platformLoudnessTable().size());
}

TEST(DeliveryReport, HtmlIsOnePageThatFetchesNothing) {
    auto songs = twoSongBatch();
    songs[1].file = "/music/<script>alert(1)</script>.wav";
    const std::string html = reportHtml(songs, "Batch");
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos) << "names are escaped";
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("<link"), std::string::npos);
    EXPECT_EQ(html.find("url("), std::string::npos);
    // Every http(s) text is the SVG namespace, never something to load.
    for (size_t at = html.find("http"); at != std::string::npos; at = html.find("http", at + 1)) {
        EXPECT_EQ(html.compare(at, 26, "http://www.w3.org/2000/svg"), 0) << html.substr(at, 40);
    }
    EXPECT_NE(html.find("One, &quot;quoted&quot;.wav"), std::string::npos);
}

TEST(DeliveryReport, WritesByExtensionAndNeverClobbersOnError) {
    ScratchFolder folder;
    const auto songs = twoSongBatch();
    for (const char* name : {"r.csv", "r.JSON", "r.html"}) {
        ASSERT_TRUE(writeReport(folder / name, songs).ok()) << name;
    }
    EXPECT_EQ(readBytes(folder / "r.csv").front(), 'f');
    EXPECT_EQ(nlohmann::json::parse(std::ifstream(folder / "r.JSON"))["songs"].size(), 2u);

    writeBytes(folder / "keep.txt", Bytes{'o', 'l', 'd'});
    const Status refused = writeReport(folder / "keep.txt", songs);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().is(errc::kApp, kUnsupportedReportFormat));
    EXPECT_EQ(readBytes(folder / "keep.txt"), (Bytes{'o', 'l', 'd'}));

    EXPECT_FALSE(writeReport(folder / "no" / "such" / "r.csv", songs).ok());
    // A folder in the way: the write fails and leaves no partial file behind.
    std::filesystem::create_directory(folder / "taken.csv");
    EXPECT_FALSE(writeReport(folder / "taken.csv", songs).ok());
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder.path())) ++entries;
    EXPECT_EQ(entries, 5u) << "three reports, keep.txt, taken.csv";
}

}  // namespace
}  // namespace korvanta::test

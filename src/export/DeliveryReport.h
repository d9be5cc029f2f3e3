// The batch report: every song's figures and what the streaming services will do to it, as CSV,
// JSON or a self-contained HTML page.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/AudioStats.h"
#include "mastering/AudioFile.h"
#include "platform/Error.h"

namespace korvanta {

struct ReportSong {
    std::string file;  // the original's path
    std::optional<double> durationSeconds;
    double sampleRate = 0.0;  // Hz; 0 when unknown
    int channelCount = 0;     // 0 when unknown
    int bpm = 0;              // 0 before mastering
    int passes = 0;           // 0 before mastering
    std::optional<double> firstGainDb;  // the gain of the first mastering pass
    std::optional<AudioStats> original, master, final;
    std::optional<float> encodedTruePeakDb;  // the exported M4A's, decoded again
    std::string status;  // "completed", "failed", "pending", "processing"
    std::string error;   // the failure's text, or ""

    // The version a listener gets: the final when there is one, else the master, else the
    // original. The platform penalties are those of this version.
    const std::optional<AudioStats>& delivered() const;
};

// A song of the batch as the report shows it; the M4A check's figure is the caller's.
ReportSong reportSongFrom(const AudioFile& song, std::optional<float> encodedTruePeakDb = std::nullopt);

enum class ReportFormat { csv, json, html };

// By the extension, in any case: .csv, .json, .html or .htm; nothing for any other.
std::optional<ReportFormat> reportFormatFor(const std::filesystem::path& path);

// Column names of the CSV, in order; the JSON objects use the same names ("original", "master"
// and "final" nested, "penalties" keyed by platform).
const std::vector<std::string>& reportColumns();

// Numbers are the shortest decimals that read back to the same float (the cards' figures,
// exactly); a figure that is absent or not finite is an empty CSV cell or a JSON null.
std::string reportCsv(const std::vector<ReportSong>& songs);
std::string reportJson(const std::vector<ReportSong>& songs);
// One page with inline CSS and an inline SVG chart of original against master (or final)
// LUFS (R128) per song; it fetches nothing.
std::string reportHtml(const std::vector<ReportSong>& songs, const std::string& title);

// Writes the report in the format of `path`'s extension: into a hidden partial file beside it,
// then renamed into place, so an earlier file at `path` stays whole when anything fails.
// Errors: KorvantaApp kUnsupportedReportFormat for another extension; AudioFile kWriteFailed
// when the partial file cannot be written; those of moveIntoPlace.
inline constexpr int kUnsupportedReportFormat = 6;
Status writeReport(const std::filesystem::path& path, const std::vector<ReportSong>& songs);

}  // namespace korvanta

#include "export/DeliveryReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "export/PlatformLoudness.h"
#include "platform/FileOperations.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

// The shortest decimal reading back to the same float; "" for nothing or a non-finite figure.
std::string number(std::optional<double> value, bool asFloat = true) {
    if (!value || !std::isfinite(*value)) return {};
    char text[40];
    if (asFloat) {
        const auto f = static_cast<float>(*value);
        for (int digits = 6; digits <= 9; ++digits) {
            std::snprintf(text, sizeof text, "%.*g", digits, double(f));
            if (std::strtof(text, nullptr) == f) break;
        }
    } else {
        for (int digits = 10; digits <= 17; ++digits) {
            std::snprintf(text, sizeof text, "%.*g", digits, *value);
            if (std::strtod(text, nullptr) == *value) break;
        }
    }
    return text;
}

using Figure = std::function<std::optional<double>(const ReportSong&)>;

std::optional<double> statOf(const std::optional<AudioStats>& s, float AudioStats::*field) {
    if (!s || std::isnan((*s).*field)) return std::nullopt;  // NaN: not measured
    return double((*s).*field);
}

struct Column {
    std::string name;
    Figure figure;      // numeric columns
    bool exactDouble;   // durations and gains in double precision
};

std::vector<PlatformPenalty> penaltiesOf(const ReportSong& song) {
    const auto& d = song.delivered();
    if (!d) return platformPenalties(NAN, NAN);
    return platformPenalties(d->lufsR128, d->truePeak);
}

// Numeric columns between "file" and "status".
const std::vector<Column>& numericColumns() {
    static const std::vector<Column> columns = [] {
        std::vector<Column> c;
        c.push_back({"duration_s", [](const ReportSong& s) { return s.durationSeconds; }, true});
        c.push_back({"sample_rate", [](const ReportSong& s) {
                         return s.sampleRate > 0 ? std::optional<double>(s.sampleRate) : std::nullopt; }, true});
        c.push_back({"channels", [](const ReportSong& s) {
                         return s.channelCount > 0 ? std::optional<double>(s.channelCount) : std::nullopt; }, true});
        c.push_back({"bpm", [](const ReportSong& s) {
                         return s.bpm > 0 ? std::optional<double>(s.bpm) : std::nullopt; }, true});
        c.push_back({"passes", [](const ReportSong& s) {
                         return s.passes > 0 ? std::optional<double>(s.passes) : std::nullopt; }, true});
        c.push_back({"first_gain_db", [](const ReportSong& s) { return s.firstGainDb; }, true});
        const std::pair<const char*, float AudioStats::*> figures[] = {
            {"lufs", &AudioStats::lufs},          {"lufs_r128", &AudioStats::lufsR128},
            {"peak_db", &AudioStats::peak},       {"true_peak_dbtp", &AudioStats::truePeak},
            {"rms_db", &AudioStats::rms}};
        const std::pair<const char*, std::optional<AudioStats> ReportSong::*> versions[] = {
            {"original", &ReportSong::original}, {"master", &ReportSong::master}, {"final", &ReportSong::final}};
        for (const auto& [figure, field] : figures) {
            for (const auto& [version, member] : versions) {
                c.push_back({std::string(version) + "_" + figure,
                             [member = member, field = field](const ReportSong& s) { return statOf(s.*member, field); },
                             false});
            }
        }
        c.push_back({"m4a_true_peak_dbtp", [](const ReportSong& s) {
                         return s.encodedTruePeakDb ? std::optional<double>(*s.encodedTruePeakDb) : std::nullopt; }, false});
        for (size_t i = 0; i < platformLoudnessTable().size(); ++i) {
            c.push_back({std::string("penalty_") + platformLoudnessTable()[i].key + "_db",
                         [i](const ReportSong& s) { return penaltiesOf(s)[i].gainDb; }, false});
        }
        return c;
    }();
    return columns;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char ch : text) {
        if (ch == '"') quoted += '"';
        quoted += ch;
    }
    return quoted + "\"";
}

nlohmann::json jsonFigure(std::optional<double> value, bool exactDouble) {
    const std::string text = number(value, !exactDouble);
    if (text.empty()) return nullptr;
    return std::strtod(text.c_str(), nullptr);
}

nlohmann::json statsJson(const std::optional<AudioStats>& s) {
    if (!s) return nullptr;
    return {{"lufs", jsonFigure(s->lufs, false)},
            {"lufs_r128", jsonFigure(s->lufsR128, false)},
            {"peak_db", jsonFigure(s->peak, false)},
            {"true_peak_dbtp", jsonFigure(s->truePeak, false)},
            {"rms_db", jsonFigure(s->rms, false)}};
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += ch;
        }
    }
    return out;
}

std::string oneDecimal(std::optional<double> value, const char* unit = "") {
    if (!value || !std::isfinite(*value)) return "\u2014";
    char text[48];
    std::snprintf(text, sizeof text, "%.1f%s", std::fabs(*value) < 0.05 ? 0.0 : *value, unit);
    return text;
}

std::string baseName(const std::string& path) { return fs::path(path).filename().string(); }

// Horizontal bars of LUFS (R128) from −30 to 0 for the original and the delivered version,
// with the reference levels of the services as dashed lines.
std::string chartSvg(const std::vector<ReportSong>& songs) {
    constexpr double kLeft = 220, kWidth = 520, kRow = 34, kTop = 30, kMin = -30, kMax = 0;
    const double height = kTop + kRow * double(std::max<size_t>(songs.size(), 1)) + 30;
    const auto x = [&](double lufs) {
        return kLeft + kWidth * (std::clamp(lufs, kMin, kMax) - kMin) / (kMax - kMin);
    };
    char buf[512];
    std::string svg;
    std::snprintf(buf, sizeof buf,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                  "role=\"img\" aria-label=\"Original and master loudness per song\">\n",
                  kLeft + kWidth + 40, height);
    svg += buf;
    for (double lufs = kMin; lufs <= kMax; lufs += 6) {
        std::snprintf(buf, sizeof buf,
                      "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" class=\"grid\"/>"
                      "<text x=\"%.1f\" y=\"%.0f\" class=\"axis\">%.0f</text>\n",
                      x(lufs), kTop - 8, x(lufs), height - 24, x(lufs), height - 8, lufs);
        svg += buf;
    }
    for (double reference : {-14.0, -16.0}) {
        std::snprintf(buf, sizeof buf,
                      "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" class=\"reference\"/>"
                      "<text x=\"%.1f\" y=\"%.0f\" class=\"axis\">%.0f</text>\n",
                      x(reference), kTop - 8, x(reference), height - 24, x(reference) + 3, kTop - 12, reference);
        svg += buf;
    }
    for (size_t i = 0; i < songs.size(); ++i) {
        const ReportSong& s = songs[i];
        const double y = kTop + kRow * double(i);
        std::snprintf(buf, sizeof buf, "<text x=\"%.0f\" y=\"%.0f\" class=\"name\">", kLeft - 8, y + 18);
        svg += buf + htmlEscape(baseName(s.file)) + "</text>\n";
        const auto bar = [&](const std::optional<AudioStats>& stats, double offset, const char* cls) {
            if (!stats || !std::isfinite(stats->lufsR128)) return;
            std::snprintf(buf, sizeof buf,
                          "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"11\" class=\"%s\">"
                          "<title>%s %.1f LUFS (R128)</title></rect>\n",
                          kLeft, y + offset, x(stats->lufsR128) - kLeft, cls, cls, double(stats->lufsR128));
            svg += buf;
        };
        bar(s.original, 6, "original");
        bar(s.final ? s.final : s.master, 19, s.final ? "final" : "master");
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace

const std::optional<AudioStats>& ReportSong::delivered() const {
    if (final) return final;
    if (master) return master;
    return original;
}

ReportSong reportSongFrom(const AudioFile& song, std::optional<float> encodedTruePeakDb) {
    ReportSong r;
    r.file = song.url.string();
    r.durationSeconds = song.duration;
    r.sampleRate = song.sampleRate;
    r.channelCount = song.channelCount;
    r.bpm = song.masterBPM;
    r.passes = song.masterPasses;
    r.firstGainDb = song.masterFirstGainDb;
    r.original = song.originalStats;
    r.master = song.masterStats;
    r.final = song.finalStats;
    r.encodedTruePeakDb = encodedTruePeakDb;
    r.status = processingStatusName(song.processingStatus);
    if (song.failure) r.error = song.failure->description();
    return r;
}

std::optional<ReportFormat> reportFormatFor(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".csv") return ReportFormat::csv;
    if (ext == ".json") return ReportFormat::json;
    if (ext == ".html" || ext == ".htm") return ReportFormat::html;
    return std::nullopt;
}

const std::vector<std::string>& reportColumns() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n{"file"};
        for (const auto& c : numericColumns()) n.push_back(c.name);
        n.push_back("status");
        n.push_back("error");
        return n;
    }();
    return names;
}

std::string reportCsv(const std::vector<ReportSong>& songs) {
    std::string out;
    const auto& names = reportColumns();
    for (size_t i = 0; i < names.size(); ++i) out += (i ? "," : "") + names[i];
    out += "\r\n";
    for (const auto& s : songs) {
        out += csvField(s.file);
        for (const auto& c : numericColumns()) out += "," + number(c.figure(s), !c.exactDouble);
        out += "," + csvField(s.status) + "," + csvField(s.error) + "\r\n";
    }
    return out;
}

std::string reportJson(const std::vector<ReportSong>& songs) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& s : songs) {
        nlohmann::json song{{"file", s.file}};
        for (const auto& c : numericColumns()) {
            if (c.exactDouble) song[c.name] = jsonFigure(c.figure(s), true);
        }
        song["original"] = statsJson(s.original);
        song["master"] = statsJson(s.master);
        song["final"] = statsJson(s.final);
        song["m4a_true_peak_dbtp"] =
            jsonFigure(s.encodedTruePeakDb ? std::optional<double>(*s.encodedTruePeakDb) : std::nullopt, false);
        nlohmann::json penalties = nlohmann::json::object();
        for (const auto& p : penaltiesOf(s)) penalties[p.platform->key] = jsonFigure(p.gainDb, false);
        song["penalties_db"] = penalties;
        song["status"] = s.status;
        song["error"] = s.error;
        list.push_back(std::move(song));
    }
    nlohmann::json report{{"songs", list}};
    nlohmann::json platforms = nlohmann::json::array();
    for (const auto& p : platformLoudnessTable()) {
        platforms.push_back({{"key", p.key}, {"name", p.name}, {"reference_lufs", p.referenceLufs},
                             {"raises_quiet_songs", p.quietSongs == QuietSongRule::upToTruePeakCeiling},
                             {"source", p.source}});
    }
    report["platforms"] = platforms;
    return report.dump(2) + "\n";
}

std::string reportHtml(const std::vector<ReportSong>& songs, const std::string& title) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" + htmlEscape(title) +
        "</title>\n<style>\n"
        "body{font-family:system-ui,sans-serif;margin:24px;background:#111418;color:#e8eaed}\n"
        "h1{font-size:20px;font-weight:600}h2{font-size:15px;font-weight:600;margin-top:28px}\n"
        "table{border-collapse:collapse;font-size:12px}th,td{padding:4px 8px;border-bottom:1px solid #2a2f36;"
        "text-align:right;white-space:nowrap}th{color:#9aa0a6;font-weight:500}td.l,th.l{text-align:left}\n"
        ".failed{color:#f28b82}.warn{color:#fdd663}\n"
        "svg .grid{stroke:#2a2f36}svg .reference{stroke:#9aa0a6;stroke-dasharray:4 3}\n"
        "svg .axis{fill:#9aa0a6;font-size:10px}svg .name{fill:#e8eaed;font-size:12px;text-anchor:end}\n"
        "svg .original{fill:#5f6368}svg .master{fill:#8ab4f8}svg .final{fill:#81c995}\n"
        ".key span{display:inline-block;width:10px;height:10px;margin:0 4px 0 12px}\n"
        "</style></head><body>\n<h1>" + htmlEscape(title) + "</h1>\n";
    html += "<h2>Loudness per song, LUFS (R128)</h2>\n<div class=\"key\"><span style=\"background:#5f6368\"></span>original"
            "<span style=\"background:#8ab4f8\"></span>master<span style=\"background:#81c995\"></span>final"
            " &nbsp; dashed: −14 and −16 LUFS references</div>\n";
    html += chartSvg(songs);
    html += "<h2>Figures</h2>\n<table>\n<tr><th class=\"l\">File</th><th>Duration</th><th>Rate</th><th>Ch</th>"
            "<th>BPM</th><th>Passes</th><th>First gain</th><th>LUFS orig</th><th>LUFS master</th><th>LUFS final</th>"
            "<th>LUFS (R128)</th><th>Peak</th><th>True peak</th><th>RMS</th><th>M4A true peak</th>";
    for (const auto& p : platformLoudnessTable()) html += "<th>" + htmlEscape(p.name) + "</th>";
    html += "<th class=\"l\">Status</th></tr>\n";
    for (const auto& s : songs) {
        const auto& d = s.delivered();
        const auto stat = [&](const std::optional<AudioStats>& v, float AudioStats::*f) { return oneDecimal(statOf(v, f)); };
        char rate[32] = "\u2014";
        if (s.sampleRate > 0) std::snprintf(rate, sizeof rate, "%.1f kHz", s.sampleRate / 1000.0);
        html += "<tr><td class=\"l\">" + htmlEscape(baseName(s.file)) + "</td><td>" +
                (s.durationSeconds ? oneDecimal(*s.durationSeconds, " s") : "\u2014") + "</td><td>" + rate +
                "</td><td>" + (s.channelCount > 0 ? std::to_string(s.channelCount) : "\u2014") + "</td><td>" +
                (s.bpm > 0 ? std::to_string(s.bpm) : "\u2014") + "</td><td>" +
                (s.passes > 0 ? std::to_string(s.passes) : "\u2014") + "</td><td>" + oneDecimal(s.firstGainDb, " dB") +
                "</td><td>" + stat(s.original, &AudioStats::lufs) + "</td><td>" + stat(s.master, &AudioStats::lufs) +
                "</td><td>" + stat(s.final, &AudioStats::lufs) + "</td><td>" + stat(d, &AudioStats::lufsR128) +
                "</td><td>" + stat(d, &AudioStats::peak) + "</td><td>" + stat(d, &AudioStats::truePeak) + "</td><td>" +
                stat(d, &AudioStats::rms) + "</td>";
        const bool over = s.encodedTruePeakDb && *s.encodedTruePeakDb > -1.0f;
        html += std::string("<td") + (over ? " class=\"warn\"" : "") + ">" +
                (s.encodedTruePeakDb ? oneDecimal(*s.encodedTruePeakDb) : "\u2014") + "</td>";
        for (const auto& p : penaltiesOf(s)) html += "<td>" + oneDecimal(p.gainDb) + "</td>";
        html += std::string("<td class=\"l") + (s.status == "failed" ? " failed" : "") + "\">" +
                htmlEscape(s.status) + (s.error.empty() ? "" : ": " + htmlEscape(s.error)) + "</td></tr>\n";
    }
    html += "</table>\n<p style=\"font-size:11px;color:#9aa0a6\">LUFS: the system's own loudness figure. "
            "LUFS (R128), peak, true peak and RMS are those of the version delivered (final, else master). "
            "Service columns: the playback gain each service applies, in dB (negative: turned down).</p>\n";
    html += "<h2>Services</h2>\n<table>\n<tr><th class=\"l\">Service</th><th>Reference</th><th class=\"l\">Quiet songs</th>"
            "<th class=\"l\">Source</th></tr>\n";
    for (const auto& p : platformLoudnessTable()) {
        char ref[32];
        std::snprintf(ref, sizeof ref, "%.0f LUFS", double(p.referenceLufs));
        html += "<tr><td class=\"l\">" + htmlEscape(p.name) + "</td><td>" + ref + "</td><td class=\"l\">" +
                (p.quietSongs == QuietSongRule::upToTruePeakCeiling ? "raised, true peak kept ≤ −1 dBTP" : "left as they are") +
                "</td><td class=\"l\">" + htmlEscape(p.source) + "</td></tr>\n";
    }
    html += "</table>\n</body></html>\n";
    return html;
}

Status writeReport(const fs::path& path, const std::vector<ReportSong>& songs) {
    const auto format = reportFormatFor(path);
    if (!format) {
        return Error{errc::kApp, kUnsupportedReportFormat,
                     "Report files end in .csv, .json or .html: \"" + path.filename().string() + "\""};
    }
    std::string text;
    switch (*format) {
    case ReportFormat::csv: text = reportCsv(songs); break;
    case ReportFormat::json: text = reportJson(songs); break;
    case ReportFormat::html: text = reportHtml(songs, "Korvanta batch report"); break;
    }
    const fs::path partial = partialFilePath(path);
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            (void)removeFileIfExists(partial);
            return Error{errc::kAudioFile, errc::kWriteFailed, "Could not write \"" + path.string() + "\""};
        }
    }
    return moveIntoPlace(partial, path);
}

}  // namespace korvanta

// korvanta-cli master … and korvanta-cli eq …: batches through the same BatchProcessor the
// window uses, then exports every finished song into the output folder.
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <tuple>

#include "app/ImportRules.h"
#include "platform/PreferenceKeys.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/ProgressBar.h"
#include "eq/EQSettings.h"
#include "export/DeliveryReport.h"
#include "export/EncodedTruePeak.h"
#include "export/PlatformLoudness.h"
#include "export/ExportFormat.h"
#include "export/ExportWriter.h"
#include "mastering/BatchProcessor.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
#include "platform/StageTiming.h"
#include "platform/TempFolder.h"
#include "reference/ReferenceTrackManager.h"

namespace korvanta::cli {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted = true;
    std::signal(SIGINT, SIG_DFL);  // a second Ctrl-C ends the process at once
}

std::optional<float> parseNumber(const std::string& text) {
    try {
        size_t used = 0;
        const float value = std::stof(text, &used);
        if (used == text.size() && std::isfinite(value)) return value;
    } catch (...) {
    }
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream data;
    data << in.rdbuf();
    if (!in.good() && !in.eof()) return std::nullopt;
    return data.str();
}

// Files named on the command line, folders contributing their top-level audio files.
std::vector<fs::path> collectInputs(const std::vector<std::string>& paths) {
    std::vector<fs::path> files;
    for (const auto& p : paths) {
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            auto inFolder = audioFilesInFolder(p);
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.emplace_back(p);
        }
    }
    return files;
}

// The first preset whose two numbers lie within 0.1 of the batch's.
std::optional<std::string> presetNameFor(const DJMasteringSettings& settings) {
    for (const auto& preset : kMasteringPresets) {
        if (std::fabs(preset.settings.targetLUFS - settings.targetLUFS) < 0.1f &&
            std::fabs(preset.settings.limitThreshold - settings.limitThreshold) < 0.1f) {
            return std::string(preset.name);
        }
    }
    return std::nullopt;
}

template <typename Sender, typename Signal>
void waitFor(Sender* sender, Signal signal) {
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    loop.exec();
}

struct SongReport {
    fs::path input;
    std::string status = "failed";
    std::optional<fs::path> output;
    std::optional<AudioStats> stats;
    int bpm = 0;
    int passes = 0;
    std::optional<float> encodedTruePeak;  // of the exported M4A, decoded again
    std::optional<Error> error;
};

struct Options {
    bool json = false;
    bool eqMode = false;
    DJMasteringSettings settings;
    std::optional<std::string> presetName;
    bool highQuality = false;
    ExportFormat format = ExportFormat::wav;
    std::optional<Bytes> cover;
    std::optional<fs::path> reference;
    std::optional<EQSettings> eq;
    fs::path outFolder;
    std::optional<fs::path> report;  // --report FILE: .csv, .json or .html
    std::vector<fs::path> inputs;
};

// Parses and checks the options of master (eqMode false) or eq (eqMode true); returns a usage
// message on error.
std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args, bool eqMode) {
    auto parsed = eqMode ? parseArguments(args, {"--json", "--hq"},
                                          {"--settings", "--out", "--format", "--cover", "--report"})
                         : parseArguments(args, {"--json", "--hq"},
                                          {"--preset", "--target", "--ceiling", "--out", "--format",
                                           "--cover", "--reference", "--report"});
    if (auto* message = std::get_if<std::string>(&parsed)) return *message;
    const Arguments& a = std::get<Arguments>(parsed);

    Options o;
    o.eqMode = eqMode;
    o.json = a.has("--json");
    o.highQuality = a.has("--hq");
    if (a.positional.empty()) return "no PATH given";
    if (!a.option("--out")) return "--out DIR is required";
    o.outFolder = *a.option("--out");
    if (auto report = a.option("--report")) {
        if (!reportFormatFor(*report)) return "--report FILE must end in .csv, .json or .html";
        o.report = fs::path(*report);
    }

    if (auto preset = a.option("--preset")) {
        if (a.option("--target") || a.option("--ceiling")) return "--preset cannot be combined with --target/--ceiling";
        auto found = presetNamed(*preset);
        if (!found) return "unknown preset '" + *preset + "' (Events, Radio, Club or Festival)";
        o.settings = found->settings;
    } else {
        if (auto target = a.option("--target")) {
            auto value = parseNumber(*target);
            if (!value || *value > 0.0f || *value < -70.0f) return "--target needs a loudness in LUFS between -70 and 0";
            o.settings.targetLUFS = *value;
        }
        if (auto ceiling = a.option("--ceiling")) {
            auto value = parseNumber(*ceiling);
            if (!value || *value > 0.0f || *value < -20.0f) return "--ceiling needs a level in dBFS between -20 and 0";
            o.settings.limitThreshold = *value;
        }
    }
    o.presetName = presetNameFor(o.settings);

    if (auto format = a.option("--format")) {
        std::string f = *format;
        std::transform(f.begin(), f.end(), f.begin(), [](unsigned char c) { return std::tolower(c); });
        if (f == "wav") o.format = ExportFormat::wav;
        else if (f == "m4a") o.format = ExportFormat::m4a;
        else return "--format must be wav or m4a";
    }
    if (auto cover = a.option("--cover")) {
        auto bytes = readWholeFile(*cover);
        if (!bytes || bytes->empty()) return "cannot read the cover image '" + *cover + "'";
        o.cover = Bytes(bytes->begin(), bytes->end());
    }
    if (auto reference = a.option("--reference")) o.reference = fs::path(*reference);
    if (eqMode) {
        auto settingsPath = a.option("--settings");
        if (!settingsPath) return "--settings EQ.json is required";
        auto text = readWholeFile(*settingsPath);
        if (!text) return "cannot read the equaliser settings '" + *settingsPath + "'";
        auto decoded = decodeEQSettings(*text);
        if (!decoded) return "the equaliser settings '" + *settingsPath + "' are not valid: " + decoded.error().description();
        o.eq = decoded.value();
        o.eq->isEnabled = true;  // asking for an equaliser rendering means using it
    }
    o.inputs = collectInputs(a.positional);
    if (o.inputs.empty()) return "no audio files found in the given PATHs";
    return o;
}

// A store that holds only what the command line says, so the user's saved settings never change.
std::shared_ptr<MemoryPreferences> seedPreferences(const Options& o) {
    auto store = std::make_shared<MemoryPreferences>();
    store->setFloat(keys::kTargetLoudness, o.settings.targetLUFS);
    store->setFloat(keys::kLimitThreshold, o.settings.limitThreshold);
    store->setBool(keys::kHighQualityMode, o.highQuality);
    // The batch's renderings stay WAV and the export encodes M4A once, from them: converting in
    // the batch as well would encode AAC from AAC (twice the time, and a generation lost).
    saveExportFormat(*store, ExportFormat::wav);
    if (o.cover) {
        store->setBool(keys::kGlobalArtworkEnabled, true);
        store->setBytes(keys::kGlobalArtworkData, *o.cover);
    }
    return store;
}

// One aligned line per song: status, name, figures, where the export went.
void printHumanReport(const SongReport& r, size_t nameWidth) {
    const std::string name = padRight(r.input.filename().string(), nameWidth);
    if (r.status == "completed" && r.stats) {
        std::printf("ok      %s %6s LUFS  peak %5s  rms %5s", name.c_str(), formatDecibels(r.stats->lufs).c_str(),
                    formatDecibels(r.stats->peak).c_str(), formatDecibels(r.stats->rms).c_str());
        std::printf("  %6s LUFS (R128)  true peak %5s dBTP", formatDecibels(r.stats->lufsR128).c_str(),
                    formatDecibels(r.stats->truePeak).c_str());
        if (r.passes > 0) std::printf("  %3d BPM  %d pass%s", r.bpm, r.passes, r.passes == 1 ? "  " : "es");
        std::printf("  -> %s\n", r.output ? r.output->string().c_str() : "");
        std::printf("        %s\n", penaltySummary(platformPenalties(r.stats->lufsR128, r.stats->truePeak)).c_str());
        if (r.encodedTruePeak) {
            const std::string warning = encodedTruePeakWarning(*r.encodedTruePeak);
            if (!warning.empty()) std::printf("        %s\n", warning.c_str());
        }
    } else if (r.status == "pending") {
        std::printf("skipped %s  (cancelled before it started)\n", name.c_str());
    } else {
        std::printf("FAILED  %s  %s\n", name.c_str(), r.error ? r.error->description().c_str() : "");
    }
    std::fflush(stdout);
}

void printJsonReport(const SongReport& r) {
    nlohmann::json line{{"file", r.input.string()}, {"status", r.status}};
    if (r.output) line["output"] = r.output->string();
    if (r.stats) {
        line["lufs"] = jsonNumber(r.stats->lufs);
        line["peak"] = jsonNumber(r.stats->peak);
        line["rms"] = jsonNumber(r.stats->rms);
        line["truePeak"] = jsonNumber(r.stats->truePeak);
        line["lufsR128"] = jsonNumber(r.stats->lufsR128);
        nlohmann::json penalties = nlohmann::json::object();
        for (const auto& p : platformPenalties(r.stats->lufsR128, r.stats->truePeak)) {
            penalties[p.platform->key] = p.gainDb ? jsonNumber(static_cast<float>(*p.gainDb)) : nlohmann::json();
        }
        line["platformGain"] = penalties;
    }
    if (r.encodedTruePeak) {
        line["m4aTruePeak"] = jsonNumber(*r.encodedTruePeak);
        const std::string warning = encodedTruePeakWarning(*r.encodedTruePeak);
        if (!warning.empty()) line["warning"] = warning;
    }
    if (r.passes > 0) {
        line["bpm"] = r.bpm;
        line["passes"] = r.passes;
    }
    if (r.error) line["error"] = errorJson(*r.error);
    printJsonLine(line);
}

}  // namespace

int runMaster(const std::vector<std::string>& args, bool eqMode) {
    auto parsedOptions = parseOptions(args, eqMode);
    if (auto* message = std::get_if<std::string>(&parsedOptions)) return usageError(*message);
    const Options& o = std::get<Options>(parsedOptions);

    int argc = 1;
    char name[] = "korvanta-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    timingMark("application ready");

    auto store = seedPreferences(o);
    installSharedPreferences(store);
    (void)createFolders(o.outFolder);  // a folder that cannot be made fails each song's export

    BatchProcessor batch(*store);
    batch.setMeasuresOnImport(false);  // nothing here shows a song's original figures
    if (o.cover) batch.setSessionGlobalArtwork(QByteArray(reinterpret_cast<const char*>(o.cover->data()),
                                                          static_cast<qsizetype>(o.cover->size())));
    ProgressBar bar;
    const bool withJson = o.json;

    std::vector<SongReport> reports(o.inputs.size());
    size_t nameWidth = 0;
    for (const auto& input : o.inputs) nameWidth = std::max(nameWidth, displayWidth(input.filename().string()));
    for (size_t i = 0; i < o.inputs.size(); ++i) reports[i].input = o.inputs[i];

    // Ctrl-C from here on cancels: a song being mastered stops, later ones do not start.
    interrupted = false;
    std::signal(SIGINT, onInterrupt);

    // Import: songs that do not open are reported with the reader's error.
    if (bar.active()) bar.show("Reading " + std::to_string(o.inputs.size()) + " songs", 0.0);
    batch.addFiles(o.inputs);
    if (batch.isAddingFiles()) waitFor(&batch, &BatchProcessor::addFilesFinished);
    timingMark("import done");
    bar.clear();
    // Each song belongs to the first input naming it; a later input naming it again is a duplicate.
    std::vector<int> songOfInput(o.inputs.size(), -1);
    std::vector<bool> claimed(batch.audioFiles().size(), false);
    for (size_t i = 0; i < o.inputs.size(); ++i) {
        for (size_t s = 0; s < batch.audioFiles().size(); ++s) {
            if (!claimed[s] && batch.audioFiles()[s].url == o.inputs[i]) {
                songOfInput[i] = static_cast<int>(s);
                claimed[s] = true;
                break;
            }
        }
        if (songOfInput[i] < 0) {
            auto opened = AudioFileReader::open(o.inputs[i]);
            reports[i].error = opened ? Error{errc::kAudioFile, errc::kNotAudio, "Duplicate of an earlier song"}
                                      : opened.error();
        }
    }

    // Progress and cancellation.
    auto label = [&](const std::string& phase) {
        const int index = batch.currentIndex();
        const auto& files = batch.audioFiles();
        std::string song = index >= 0 && static_cast<size_t>(index) < files.size() ? files[static_cast<size_t>(index)].filename : "";
        return phase + " " + song;
    };
    std::string phase = eqMode ? "EQ" : "Mastering";
    QObject::connect(&batch, &BatchProcessor::currentFileProgressChanged, [&] {
        bar.show(label(phase), batch.currentFileProgress());
    });
    bool cancelled = false;
    auto cancelOnInterrupt = [&] {
        if (interrupted && !cancelled) {
            cancelled = true;
            batch.cancel();
            bar.clear();
            std::fprintf(stderr, "Cancelling: the running song stops at its next step…\n");
        }
    };
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, cancelOnInterrupt);
    interruptPoll.start(50);

    // Export and report each song as soon as the batch whose renderings are exported finishes it,
    // and at the end every song not reported by then. Exports run on threads of their own, one
    // per processor core, so songs are encoded side by side while the next one is mastered;
    // reports are printed in the order the songs were handed over, whichever export ends first.
    bool finalBatch = false;
    std::optional<Error> referenceError;
    const std::optional<Bytes> artwork = o.cover;
    int failed = 0, completed = 0, pending = 0;
    std::vector<bool> reported(o.inputs.size(), false);
    struct ExportJob {
        fs::path source;
        fs::path destination;
        bool disposable = false;  // the source is a rendering nobody needs after the export
    };
    // Where the batch's renderings are made; they are all removed at the end.
    std::optional<fs::path> renderingsFolder;
    if (auto folder = privateTempFolder()) renderingsFolder = folder.value();
    QThreadPool exporter;
    exporter.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    int reportsInFlight = 0;
    // Reports by the order report() was called in; printed from `nextToPrint` on as they complete.
    std::map<size_t, size_t> inputOfTicket;
    std::map<size_t, std::tuple<std::optional<ExportJob>, std::optional<Error>, bool, std::optional<float>>> ready;
    size_t ticketsIssued = 0, nextToPrint = 0;
    // Main thread, in report order: the export's outcome, the counts, the printed line.
    auto finish = [&](size_t i, const std::optional<ExportJob>& job, const std::optional<Error>& writeError,
                      bool referenceFailed, std::optional<float> encodedPeak) {
        SongReport& r = reports[i];
        r.encodedTruePeak = encodedPeak;
        if (job) {
            if (!writeError) {
                r.status = "completed";
                r.output = job->destination;
            } else {
                r.error = Error{errc::kAudioFile, errc::kWriteFailed,
                                "Could not write \"" + job->destination.string() + "\": " +
                                    writeError->description()};
            }
        }
        if (referenceFailed && r.status == "completed") {
            // Mastered, but the requested matching could not run.
            r.status = "failed";
            r.error = referenceError;
        }
        if (r.status == "completed") ++completed;
        else if (r.status == "pending") ++pending;
        else ++failed;
        if (withJson) printJsonReport(r);
        else printHumanReport(r, nameWidth);
        --reportsInFlight;
    };
    // Main thread: an export has ended; print every report whose turn has come.
    auto exported = [&](size_t ticket, const std::optional<ExportJob>& job, const std::optional<Error>& writeError,
                        bool referenceFailed, std::optional<float> encodedPeak) {
        ready.emplace(ticket, std::tuple{job, writeError, referenceFailed, encodedPeak});
        for (auto it = ready.find(nextToPrint); it != ready.end(); it = ready.find(nextToPrint)) {
            const auto& [doneJob, doneWriteError, doneReferenceFailed, donePeak] = it->second;
            finish(inputOfTicket.at(nextToPrint), doneJob, doneWriteError, doneReferenceFailed, donePeak);
            ready.erase(it);
            ++nextToPrint;
        }
    };
    auto report = [&](size_t i) {
        if (reported[i]) return;
        reported[i] = true;
        SongReport& r = reports[i];
        std::optional<ExportJob> job;
        if (songOfInput[i] >= 0) {
            const AudioFile& song = batch.audioFiles()[static_cast<size_t>(songOfInput[i])];
            r.bpm = song.masterBPM;
            r.passes = song.masterPasses;
            const auto& source = finalBatch ? song.finalURL : song.masterURL;
            r.stats = finalBatch ? song.finalStats : song.masterStats;
            if (song.processingStatus == ProcessingStatus::pending) {
                r.status = "pending";
            } else if (song.processingStatus == ProcessingStatus::completed && source) {
                const std::string suffix = finalBatch ? " (FINAL)" : " (MASTER)";
                job = ExportJob{*source, o.outFolder / (AudioProcessor::renderingBaseName(song.url) +
                                                        suffix + "." +
                                                        std::string(fileExtension(o.format)))};
                job->disposable = renderingsFolder && source->parent_path() == *renderingsFolder;
            } else {
                r.error = song.failure ? *song.failure
                                       : Error{errc::kApp, errc::kFileMissing, "Output file was not created"};
            }
        }
        const bool referenceFailed = !finalBatch && referenceError.has_value();
        ++reportsInFlight;
        const size_t ticket = ticketsIssued++;
        inputOfTicket[ticket] = i;
        exporter.start([&, ticket, job, referenceFailed] {
            // A rendering in the private folder is removed once exported: it may move into place.
            std::optional<Error> writeError;
            std::optional<float> encodedPeak;
            if (job) {
                Status written = job->disposable
                                     ? moveOrWriteExportFile(job->source, job->destination, o.format, artwork, *store)
                                     : writeExportFile(job->source, job->destination, o.format, artwork, *store);
                timingMark("exported " + job->destination.filename().string());
                if (!written) {
                    writeError = written.error();
                } else if (o.format == ExportFormat::m4a) {
                    // Every M4A is decoded again for its true peak; the file itself is left as written.
                    if (auto peak = measureFileTruePeak(job->destination)) encodedPeak = peak.value();
                }
            }
            QMetaObject::invokeMethod(
                &app,
                [&, ticket, job, writeError, referenceFailed, encodedPeak] {
                    exported(ticket, job, writeError, referenceFailed, encodedPeak);
                },
                Qt::QueuedConnection);
        });
    };
    bool exportAsFinished = false;  // whether the running batch makes the renderings exported
    QObject::connect(&batch, &BatchProcessor::songFinished, [&](int index, bool) {
        if (!exportAsFinished) return;
        for (size_t i = 0; i < o.inputs.size(); ++i) {
            if (songOfInput[i] == index) report(i);
        }
    });

    auto runBatch = [&](const QString& preset, bool withEQ, bool exported) {
        cancelOnInterrupt();  // an interrupt during the import or the reference's analysis
        if (cancelled) return;
        exportAsFinished = exported;
        finalBatch = withEQ;
        batch.processFiles(preset, withEQ, false, o.settings.targetLUFS, o.settings.limitThreshold);
        if (batch.isProcessing()) waitFor(&batch, &BatchProcessor::batchFinished);
        timingMark("batch done");
        exportAsFinished = false;
        bar.clear();
    };

    for (size_t i = 0; i < o.inputs.size(); ++i) {
        if (songOfInput[i] < 0) report(i);  // refused at import: known before any song runs
    }

    if (eqMode) {
        // The given songs are the masters the equaliser renders.
        batch.adoptOriginalsAsMasters();
        saveEQSettings(*o.eq, keys::kActiveEQSettings, *store);
        runBatch(QStringLiteral("Master + EQ"), true, true);
    } else {
        runBatch(o.presetName ? QString::fromStdString(*o.presetName) : QString(), false,
                 !o.reference.has_value());
        cancelOnInterrupt();
        if (o.reference && !cancelled) {
            auto* reference = ReferenceTrackManager::shared();
            bool loaded = false;
            QString why;
            QObject::connect(reference, &ReferenceTrackManager::loadFinished,
                             [&](bool ok, const QString& message) { loaded = ok; why = message; });
            bar.show("Analysing reference " + o.reference->filename().string(), 0.0);
            reference->loadReferenceTrack(*o.reference);
            waitFor(reference, &ReferenceTrackManager::loadFinished);
            bar.clear();
            if (loaded) {
                EQSettings matched;
                matched.isEnabled = true;
                matched.isAutoReferenceMode = true;
                saveEQSettings(matched, keys::kActiveEQSettings, *store);
                phase = "Matching";
                runBatch(QStringLiteral("Master + EQ"), true, true);
            } else {
                referenceError = Error{"ReferenceTrack", 1, "Failed to load reference track: " + why.toStdString()};
            }
        }
    }
    interruptPoll.stop();

    // Songs not reported yet: those of a batch whose renderings are not exported (a master batch
    // followed by matching) and those never started.
    for (size_t i = 0; i < o.inputs.size(); ++i) report(i);
    while (reportsInFlight > 0) {
        exporter.waitForDone();
        QCoreApplication::processEvents();  // the reports the finished exports queued
    }

    // The renderings were only the way to the exports: remove them (never anything outside the
    // private temporary folder, where the originals of `eq` live as their own masters).
    if (auto folder = privateTempFolder()) {
        for (const auto& song : batch.audioFiles()) {
            for (const auto& rendering : {song.masterURL, song.finalURL}) {
                if (rendering && rendering->parent_path() == folder.value()) {
                    (void)removeFileIfExists(*rendering);
                    // An M4A rendering was converted from the WAV rendering beside it.
                    (void)removeFileIfExists(fs::path(*rendering).replace_extension(".wav"));
                }
            }
        }
    }

    timingMark("renderings removed");

    int reportStatus = kExitOk;
    if (o.report) {
        std::vector<ReportSong> rows;
        for (size_t i = 0; i < o.inputs.size(); ++i) {
            const SongReport& r = reports[i];
            ReportSong row;
            if (songOfInput[i] >= 0) {
                row = reportSongFrom(batch.audioFiles()[static_cast<size_t>(songOfInput[i])], r.encodedTruePeak);
            }
            row.file = r.input.string();
            row.status = r.status;
            row.error = r.error ? r.error->description() : "";
            rows.push_back(std::move(row));
        }
        if (Status written = writeReport(*o.report, rows); !written) {
            std::fprintf(stderr, "Could not write the report: %s\n", written.error().description().c_str());
            reportStatus = kExitSomeFailed;
        }
    }

    if (!withJson) {
        std::printf("%d completed, %d failed", completed, failed);
        if (pending > 0) std::printf(", %d not started", pending);
        if (cancelled) std::printf(" (cancelled)");
        std::printf(". Output: %s\n", o.outFolder.string().c_str());
    }
    // Whatever the songs' outcome, an interrupt ends the process as shells expect of one.
    if (interrupted) return kExitInterrupted;
    return (failed > 0 || pending > 0) ? kExitSomeFailed : reportStatus;
}

}  // namespace korvanta::cli

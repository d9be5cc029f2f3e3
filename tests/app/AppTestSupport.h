// What the application's model tests share: file URLs, a player on a fake output, a mastering
// step that renders nothing, and equaliser records with one band changed.
#pragma once

#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>

#include "eq/EQSettings.h"
#include "mastering/BatchProcessor.h"
#include "platform/Error.h"
#include "playback/AudioPlayerManager.h"
#include "playback/FakeAudioOutput.h"
#include "support/QtTestSupport.h"

namespace korvanta::test {

inline QUrl urlOf(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

inline EQSettings withBand(float gain, size_t band = 5, bool enabled = false) {
    EQSettings s;
    s.bands[band].gain = gain;
    s.isEnabled = enabled;
    return s;
}

// A player on a fake output whose background jobs run at once; `output` receives that output.
inline std::unique_ptr<AudioPlayerManager> fakePlayer(AudioEngine& engine, Preferences& store,
                                                      std::function<double()> clock = [] { return 0.0; },
                                                      FakeAudioOutput** output = nullptr) {
    PlayerEnvironment environment;
    auto out = std::make_unique<FakeAudioOutput>();
    if (output) *output = out.get();
    environment.output = std::move(out);
    environment.engine = &engine;
    environment.store = &store;
    environment.clock = std::move(clock);
    environment.background = [](std::function<void()> job) { job(); };
    return std::make_unique<AudioPlayerManager>(std::move(environment));
}

// A mastering step that renders nothing and returns `stats` for its input. `seen` hears of each
// song; with a gate the song waits for it and then honours a cancellation.
using SeenRendering = std::function<void(bool finalMode, const std::optional<EQSettings>& eq)>;
inline BatchProcessor::MasteringOperation instantMastering(AudioStats stats, Gate* gate = nullptr,
                                                           SeenRendering seen = {}) {
    return [=](const std::filesystem::path& input, const DJMasteringSettings&, bool finalMode,
               const std::optional<EQSettings>& eq, const std::shared_ptr<ProgressUpdater>&,
               const AudioProcessor::CancellationCheck& cancelled) -> Result<DJMasteringResult> {
        if (seen) seen(finalMode, eq);
        if (gate) {
            gate->wait();
            if (cancelled()) return Error{errc::kApp, errc::kCancelled, "The process was canceled by the user"};
        }
        return DJMasteringResult{input, stats};
    };
}

}  // namespace korvanta::test

// A player over a fake output, a manual clock, a private engine and a memory store, with files
// written for it.
#pragma once

#include <QCoreApplication>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

#include "engine/AudioEngine.h"
#include "platform/Preferences.h"
#include "playback/AudioPlayerManager.h"
#include "playback/FakeAudioOutput.h"
#include "support/TestAudio.h"

namespace korvanta::test {

// Runs what the player posted to the main thread (prepared chunks, consumed buffers, the end).
inline void runPosted() {
    for (int i = 0; i < 8; ++i) QCoreApplication::sendPostedEvents(nullptr, 0);
}

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override { player = makePlayer(std::make_unique<FakeAudioOutput>()); }

    std::unique_ptr<AudioPlayerManager> makePlayer(std::unique_ptr<AudioOutput> out) {
        if (auto* fake = dynamic_cast<FakeAudioOutput*>(out.get())) output = fake;
        PlayerEnvironment environment;
        environment.output = std::move(out);
        environment.engine = &engine;
        environment.store = &store;
        environment.clock = [this] { return now; };
        environment.background = [](std::function<void()> job) { job(); };
        return std::make_unique<AudioPlayerManager>(std::move(environment));
    }

    QUrl writeSong(const std::string& name, const Signal& signal) {
        const auto path = folder / name;
        writeWav(path, signal, WavSampleFormat::float32);
        return QUrl::fromLocalFile(QString::fromStdString(path.string()));
    }

    // Loads and waits for the file to be open.
    void load(const QUrl& url) {
        player->loadAudio(url);
        runPosted();
    }

    // Pulls in device-sized steps until the output stops giving frames (running what the player
    // posts between steps), at most `limit` frames.
    Signal pullAll(size_t limit = SIZE_MAX, uint32_t step = 1000) {
        Signal out;
        out.sampleRate = output->format().sampleRate;
        out.channels.resize(size_t(output->format().channelCount));
        while (out.frameCount() < limit) {
            runPosted();
            maxPending = std::max(maxPending, output->queue().pendingItems());
            const auto want = uint32_t(std::min<size_t>(step, limit - out.frameCount()));
            auto got = output->pull(want);
            if (got.empty() || got[0].empty()) {
                runPosted();
                got = output->pull(want);
                if (got.empty() || got[0].empty()) break;
            }
            for (size_t c = 0; c < got.size(); ++c) out.channels[c].insert(out.channels[c].end(), got[c].begin(), got[c].end());
        }
        return out;
    }

    ScratchFolder folder;
    AudioEngine engine;
    MemoryPreferences store;
    double now = 100.0;
    FakeAudioOutput* output = nullptr;
    std::unique_ptr<AudioPlayerManager> player;
    size_t maxPending = 0;
};

}  // namespace korvanta::test

// Times one mastering pass over a four-minute 44.1 kHz stereo song against decoding that song
// once, and prints the ratio. Also times the pass's parts on their own (limiter only, writing
// only) to show where the time goes, and an equaliser rendering of the same song with all twelve
// bands active.
//
// Usage: korvanta-bench-render [repetitions]   (default 5; the best time of each is reported)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "BenchSongs.h"
#include "BenchTiming.h"
#include "engine/AudioEngine.h"
#include "engine/MasteringRenderer.h"
#include "engine/PeakLimiter.h"
#include "platform/AudioFileReader.h"
#include "platform/PcmBuffer.h"
#include "platform/Preferences.h"
#include "platform/WavWriter.h"

namespace fs = std::filesystem;
using namespace korvanta;
using namespace korvanta::bench;

namespace {

constexpr double kSeconds = 240.0;
constexpr uint32_t kChunk = 88200;

// A loud, music-like signal: a kick every beat at 128 bpm over bass, chords and noise, peaking
// above full scale before gain so that the limiter works all the time.
std::unique_ptr<PcmBuffer> makeSong() {
    const auto frames = static_cast<uint32_t>(kBenchSampleRate * kSeconds);
    auto song = PcmBuffer::allocate({kBenchSampleRate, 2}, frames);
    song->setFrameLength(frames);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const double beat = 60.0 / 128.0;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = i / kBenchSampleRate;
        const double sinceBeat = std::fmod(t, beat);
        const double kick = std::exp(-sinceBeat * 18.0) * std::sin(2 * M_PI * 55.0 * sinceBeat);
        const double chords = 0.2 * (std::sin(2 * M_PI * 220.0 * t) + std::sin(2 * M_PI * 277.2 * t) +
                                     std::sin(2 * M_PI * 329.6 * t));
        const double bass = 0.3 * std::sin(2 * M_PI * 41.2 * t);
        const float common = static_cast<float>(0.5 * kick + 0.3 * chords + bass);
        song->channel(0)[i] = 0.7f * common + 0.1f * noise(random);
        song->channel(1)[i] = 0.7f * common + 0.1f * noise(random);
    }
    return song;
}

void print(const char* what, const Timing& t) {
    std::printf("%-24s %8.1f ms wall %8.1f ms cpu\n", what, t.wall * 1e3, t.cpu * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const ScratchFolder scratchFolder("render");
    const fs::path& folder = scratchFolder.path();
    const fs::path input = folder / "song.wav";
    const fs::path output = folder / "song_master.wav";

    auto song = makeSong();
    {
        auto writer = WavWriter::create(input, song->format(), WavSampleFormat::int16);
        if (!writer) fail("writing the input", writer.error());
        if (Status s = writer.value()->write(*song); !s) fail("writing the input", s.error());
        if (Status s = writer.value()->close(); !s) fail("writing the input", s.error());
    }
    std::printf("input: %.0f s, %.0f Hz, 2 channels, 16-bit WAV (%.1f MB)\n", kSeconds, kBenchSampleRate,
                fs::file_size(input) / 1e6);

    const Timing decode = best(repetitions, [&] { decodeOnce(input, kChunk); });

    MemoryPreferences preferences;
    const Timing render = best(repetitions, [&] {
        const Status s = renderMasteringPass(input, output, -8.0f, -0.1f, 2.5f, 128, {}, {},
                                             preferences);
        if (!s) fail("rendering", s.error());
    });

    EQSettings equaliser;
    equaliser.isEnabled = true;
    for (size_t b = 0; b < equaliser.bands.size(); ++b) equaliser.bands[b].gain = b % 2 ? 3.0f : -2.0f;
    equaliser.masterGain = -1.0f;
    const fs::path final = folder / "song_final.wav";
    AudioEngine engine;
    const Timing equalise = best(repetitions, [&] {
        fs::remove(final);
        const Status s = engine.processAudioFile(input, final, equaliser, nullptr);
        if (!s) fail("equalising", s.error());
    });

    // The parts on their own, on the song held in memory.
    auto work = PcmBuffer::allocate(song->format(), kChunk);
    const Timing limiterOnly = best(repetitions, [&] {
        const LimiterTiming timing = limiterTimingForTempo(128, kBenchSampleRate);
        PeakLimiter left(2.5f, -8.0f, -0.1f, timing), right(2.5f, -8.0f, -0.1f, timing);
        for (uint32_t done = 0; done < song->frameLength(); done += kChunk) {
            const uint32_t n = std::min(kChunk, song->frameLength() - done);
            std::copy_n(song->channel(0) + done, n, work->channel(0));
            std::copy_n(song->channel(1) + done, n, work->channel(1));
            left.process(work->channel(0), n);
            right.process(work->channel(1), n);
        }
    });
    const fs::path scratch = folder / "write_only.wav";
    const Timing writeOnly = best(repetitions, [&] {
        fs::remove(scratch);
        auto writer = WavWriter::create(scratch, song->format(), WavSampleFormat::int16);
        if (!writer) fail("writing", writer.error());
        if (Status s = writer.value()->write(*song); !s) fail("writing", s.error());
        if (Status s = writer.value()->close(); !s) fail("writing", s.error());
    });

    print("decode once:", decode);
    print("mastering pass:", render);
    print("  limiter alone (2 ch):", limiterOnly);
    print("  16-bit write alone:", writeOnly);
    print("equaliser rendering:", equalise);
    std::printf("ratio pass / decode:     %8.2f wall %8.2f cpu\n", render.wall / decode.wall,
                render.cpu / decode.cpu);
    std::printf("ratio equaliser / decode:%8.2f wall %8.2f cpu\n", equalise.wall / decode.wall,
                equalise.cpu / decode.cpu);

    return 0;
}

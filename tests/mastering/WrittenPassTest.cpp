// A pass's figures as it is written: the window's system figures and the delivery figures of the
// whole rendering, whichever way it is metered (kept whole and followed, or metered on the
// writer's thread), for final passes, kept trials and given-up ones, one pass after another.
#include <gtest/gtest.h>

#include <cmath>

#include "support/TestAudio.h"
#include "engine/LoudnessMeasurement.h"
#include "mastering/WrittenPass.h"
#include "platform/SampleQuantizer.h"

namespace korvanta::test {
namespace {

constexpr int kBits = 16;

struct Written {
    Signal signal;     // the rendering as the renderer hands it over
    Signal snapped;    // as the file holds it
    DeliveryFigures figures;
    AudioStats windowStats;
};

// 150 s of noise with a loud bar before the measurement window (which starts at 15 s).
const Written& rendering() {
    static const Written w = [] {
        Written r;
        r.signal = makeNoise(44100, 2, 150.0, 0.3f, 5);
        for (auto& channel : r.signal.channels) {
            for (size_t i = 0; i < 44100; ++i) channel[i] = 0.99f * float(std::sin(0.37 * double(i)));
        }
        r.snapped = r.signal;
        for (auto& channel : r.snapped.channels) {
            snapToSampleGrid(channel.data(), channel.data(), channel.size(), kBits);
        }
        auto snapped = planes(r.snapped);
        DeliveryMeter meter;
        meter.prepare(2, 44100);
        meter.process(snapped.data(), int64_t(r.snapped.frameCount()));
        r.figures = meter.figures();
        const MeasurementWindow window = measurementWindow({44100, 2}, int64_t(r.snapped.frameCount()));
        for (auto& p : snapped) p += window.firstFrame;
        r.windowStats = measureLoudness(snapped.data(), 2, window.frameCount, 44100.0f);
        return r;
    }();
    return w;
}

// Hands the rendering over in uneven chunks up to `frames`; keeps the pass once its window is in
// when `keepIt`, as the mastering does.
void write(WrittenPass& pass, int64_t frames, bool keepIt) {
    const Signal& s = rendering().signal;
    auto chunk = PcmBuffer::allocate({44100, 2}, 70000);
    for (int64_t at = 0, step = 12345; at < frames; at += step, step = step % 65536 + 3001) {
        step = std::min<int64_t>(step, frames - at);
        chunk->setFrameLength(uint32_t(step));
        for (int c = 0; c < 2; ++c) std::copy_n(s.channels[size_t(c)].data() + at, step, chunk->channel(c));
        const bool wasComplete = pass.complete();
        pass.take(*chunk, at, kBits);
        if (keepIt && !wasComplete && pass.complete()) pass.keep();
    }
}

TEST(WrittenPass, DeliveryFiguresAreTheWholeWrittenRenderingsHoweverItIsMetered) {
    const Written& r = rendering();
    const auto length = int64_t(r.signal.frameCount());
    for (const uint64_t maxKept : {WrittenPass::kMaxKeptBytes, uint64_t(0)}) {
        SCOPED_TRACE(maxKept ? "kept whole and followed" : "metered on the writer's thread");
        WrittenPass pass({44100, 2}, length, true, maxKept);
        const auto expectFigures = [&](const char* what) {
            AudioStats stats{};
            ASSERT_TRUE(pass.addDelivery(stats)) << what;
            EXPECT_EQ(stats.truePeak, r.figures.truePeakDb) << what;
            EXPECT_EQ(stats.lufsR128, r.figures.integratedLufs) << what;
        };

        pass.restart(true);  // a trial given up just after its window
        write(pass, length * 19 / 20, false);
        ASSERT_TRUE(pass.complete());
        EXPECT_EQ(*pass.stats(), r.windowStats);
        AudioStats none{};
        EXPECT_FALSE(pass.addDelivery(none)) << "a pass not written whole has no delivery figures";

        pass.restart(true);  // a trial kept once its window is in
        write(pass, length, true);
        expectFigures("kept trial");
        EXPECT_EQ(*pass.stats(), r.windowStats);

        pass.restart(false);  // a final pass, cut short: nothing
        write(pass, length / 4, false);
        EXPECT_FALSE(pass.complete());
        EXPECT_FALSE(pass.stats().has_value());
        EXPECT_FALSE(pass.addDelivery(none));

        pass.restart(false);  // and whole
        write(pass, length, false);
        expectFigures("final pass");
    }
    WrittenPass off({44100, 2}, length, false);
    off.restart(false);
    write(off, length, false);
    AudioStats stats{};
    EXPECT_FALSE(off.addDelivery(stats)) << "figures off";
    EXPECT_EQ(*off.stats(), r.windowStats);
}

}  // namespace
}  // namespace korvanta::test

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/StereoVectorscopeAnalyzer.h"
#include "analysis/VectorscopePoints.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

TEST(VectorscopeThinning, KeepsEveryStepthPairFromTheFirst) {
    const struct {
        size_t frames, points, step;
    } cases[] = {{0, 0, 1},     {100, 100, 1},  {127, 127, 1},   {128, 128, 1},
                 {255, 255, 1}, {256, 128, 2},  {1024, 128, 8},  {1000, 143, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames");
        std::vector<float> left(c.frames), right(c.frames);
        for (size_t i = 0; i < c.frames; ++i) left[i] = float(i), right[i] = -float(i);
        const auto points = thinVectorscopeBlock(left.data(), right.data(), c.frames);
        ASSERT_EQ(points.left.size(), c.points);
        ASSERT_EQ(points.right.size(), c.points);
        for (size_t k = 0; k < c.points; ++k) {
            EXPECT_EQ(points.left[k], float(k * c.step));
            EXPECT_EQ(points.right[k], -float(k * c.step)) << "both channels keep the same indices";
        }
    }
}

TEST(VectorscopePlot, PlacesPointsOnTheHalfDiscAndLeavesOutThoseBeyondIt) {
    // 300 × 150: centre x 150, baseline y 150, radius 150.
    const auto plot =
        plotVectorscope({0.0f, 1.0f, -1.0f, 0.5f, 1.0f, 2.0f}, {0.0f, 0.0f, 0.0f, -0.5f, 1.0f, 0.0f}, 300, 150);
    // (1, 1) lies at 0.9·√2 ≈ 1.27 radii: outside. (2, 0) is clamped to (1, 0): inside.
    ASSERT_EQ(plot.dots.size(), 5u);
    EXPECT_DOUBLE_EQ(plot.dots[0].x, 150.0);
    EXPECT_DOUBLE_EQ(plot.dots[0].y, 150.0);
    EXPECT_DOUBLE_EQ(plot.dots[1].x, 150.0 + 135.0);
    EXPECT_DOUBLE_EQ(plot.dots[2].x, 150.0 - 135.0);
    EXPECT_DOUBLE_EQ(plot.dots[3].x, 150.0 + 67.5);
    EXPECT_DOUBLE_EQ(plot.dots[3].y, 150.0 - 67.5) << "the height follows the right value's magnitude";
    EXPECT_DOUBLE_EQ(plot.dots[4].x, 150.0 + 135.0) << "samples beyond full scale are clamped first";

    const auto narrow = plotVectorscope({1.0f}, {0.0f}, 300, 100);
    ASSERT_EQ(narrow.dots.size(), 1u);
    EXPECT_DOUBLE_EQ(narrow.dots[0].x, 150.0 + 90.0) << "the radius is the smaller of half the width and the height";

    EXPECT_TRUE(plotVectorscope({}, {}, 300, 150).dots.empty());
    EXPECT_TRUE(plotVectorscope({0.1f, 0.2f}, {}, 300, 150).dots.empty()) << "the shorter list counts";
}

TEST(VectorscopePlot, QuietMaterialGetsLargerDots) {
    // scale = 1.2 / (m + 0.1), m the mean magnitude of the unclamped values: ≥ 2.5 up to m = 0.38;
    // then 1.1 × scale, and never below 1.1 × 0.6 (m above 1.9).
    const struct {
        float level;  // every point at (level, 0)
        double scale, dotFactor;
    } cases[] = {{0.0f, 12.0, 2.75}, {0.3f, 3.0, 2.75}, {0.5f, 2.0, 2.2}, {-0.9f, 1.2, 1.32},
                 {1.0f, 1.2 / 1.1, 1.1 * 1.2 / 1.1}, {3.0f, 1.2 / 3.1, 0.66}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level);
        const auto plot = plotVectorscope(std::vector<float>(10, c.level), std::vector<float>(10, 0.0f), 300, 150);
        EXPECT_NEAR(plot.scale, c.scale, 1e-6);
        EXPECT_NEAR(plot.dotFactor, c.dotFactor, 1e-6);
        ASSERT_FALSE(plot.dots.empty());
        const double clamped = std::min(std::fabs(double(c.level)), 1.0);
        EXPECT_NEAR(plot.dots[0].diameter, std::max(c.dotFactor * (clamped + 0.5), 0.4), 1e-6);
    }
}

class AnalyzerTest : public ::testing::Test {
protected:
    // `s` written to a file and opened.
    StereoVectorscopeAnalyzer open(const Signal& s) {
        writeWav(folder / "s.wav", s);
        return StereoVectorscopeAnalyzer(folder / "s.wav", &engine);
    }
    ScratchFolder folder;
    AudioEngine engine;
};

TEST_F(AnalyzerTest, AMonoOrMissingFileGivesNoPoints) {
    StereoVectorscopeAnalyzer mono = open(makeSine(44100, 1, 1.0, 440, 0.5f));
    EXPECT_TRUE(mono.hasFile());
    EXPECT_FALSE(mono.snapshot(std::nullopt));
    EXPECT_FALSE(mono.blockAt(0.5f, std::nullopt));

    StereoVectorscopeAnalyzer missing(folder / "missing.wav", &engine);
    EXPECT_FALSE(missing.hasFile());
    EXPECT_FALSE(missing.snapshot(std::nullopt));
}

TEST_F(AnalyzerTest, WithoutActiveSettingsTheBlockIsTheFileThinned) {
    const Signal s = makeNoise(48000, 2, 1.0, 0.8f, 11);
    StereoVectorscopeAnalyzer analyzer = open(s);
    const auto points = analyzer.blockAt(0.5f, StereoVectorscopeAnalyzer::activeSettings(EQSettings{}));
    ASSERT_TRUE(points);
    ASSERT_EQ(points->left.size(), 128u);
    for (size_t k = 0; k < 128; ++k) {
        EXPECT_EQ(points->left[k], s.channels[0][24000 + 8 * k]);
        EXPECT_EQ(points->right[k], s.channels[1][24000 + 8 * k]);
    }
    EXPECT_FALSE(analyzer.blockAt(1.0f, std::nullopt)) << "nothing past the end";
    const auto tail = analyzer.blockAt(float(47950.0 / 48000.0), std::nullopt);
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->left.size(), 50u) << "the last frames, not thinned";
}

TEST_F(AnalyzerTest, ActiveSettingsEqualiseTheBlockWithoutKeepingState) {
    const Signal s = makeNoise(44100, 2, 0.5, 0.5f, 2);
    EQSettings eq{.isEnabled = true};
    eq.bands[2].gain = 9.0f;
    const auto points = open(s).blockAt(0.0f, StereoVectorscopeAnalyzer::activeSettings(eq));
    ASSERT_TRUE(points);
    std::shared_ptr<PcmBuffer> block = PcmBuffer::allocate({44100, 2}, 1024);
    for (int c = 0; c < 2; ++c) std::copy_n(s.channels[size_t(c)].begin(), 1024, block->channel(c));
    block->setFrameLength(1024);
    const auto expected = AudioEngine().processAudioBuffer(block, eq, false, false);
    for (size_t k = 0; k < points->left.size(); ++k) ASSERT_EQ(points->left[k], expected->channel(0)[8 * k]) << k;
    EXPECT_NE(points->left[5], s.channels[0][40]) << "equalised, not raw";
}

TEST_F(AnalyzerTest, TheSnapshotTakesFourWindowsAcrossTheSong) {
    const Signal s = makeNoise(44100, 2, 2.0, 0.5f, 4);  // 88,200 frames
    const auto points = open(s).snapshot(std::nullopt);
    ASSERT_TRUE(points);
    // 4 × 4,096 frames thinned by 16,384 / 128 = 128: window k starts at k · 22,050.
    ASSERT_EQ(points->left.size(), 128u);
    EXPECT_EQ(points->left[0], s.channels[0][0]);
    EXPECT_EQ(points->left[32], s.channels[0][22050]);
    EXPECT_EQ(points->left[97], s.channels[0][66150 + 128]);
}

}  // namespace
}  // namespace korvanta::test

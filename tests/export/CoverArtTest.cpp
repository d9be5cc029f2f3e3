#include "export/CoverArt.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ExportTestSupport.h"

namespace korvanta::test {
namespace {

TEST(CoverArt, ReencodesEveryImageFormatAsBaselineJpegAtQuality90) {
    ScratchFolder folder;
    // Four flat colour quadrants: JPEG keeps flat areas close to their colour.
    const std::string source =
        "color=c=0xC03020:s=64x48[a];color=c=0x20A040:s=64x48[b];color=c=0x3040D0:s=64x48[c];"
        "color=c=0xE0E0E0:s=64x48[d];[a][b]hstack[top];[c][d]hstack[bottom];[top][bottom]vstack";
    const struct {
        const char* fileName;
        const char* options;
    } inputs[] = {{"cover.png", ""}, {"cover.jpg", "-q:v 2"}, {"cover.bmp", ""},
                  {"cover.webp", "-lossless 1"}, {"cover.tiff", ""}};
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.fileName);
        const Bytes image = makeImage(folder, source, input.fileName, input.options);
        ASSERT_FALSE(image.empty());
        auto jpeg = makeCoverJpeg(image);
        ASSERT_TRUE(jpeg) << jpeg.error().description();
        EXPECT_EQ(jpeg->width, 128);
        EXPECT_EQ(jpeg->height, 96);

        const JpegLayout layout = parseJpeg(jpeg->data);
        EXPECT_TRUE(layout.startsWithSoi);
        EXPECT_TRUE(layout.baseline);
        EXPECT_FALSE(layout.progressive);
        EXPECT_EQ(layout.width, 128);
        EXPECT_EQ(layout.height, 96);
        // libjpeg scales the standard luminance DC entry 16 by 200 − 2·quality percent: 3 at 90.
        EXPECT_EQ(layout.firstLuminanceQuantizer, 3);

        const auto original = decodeToRgb(folder, image);
        const auto reencoded = decodeToRgb(folder, jpeg->data);
        ASSERT_EQ(reencoded.size(), original.size()) << "an independent decoder reads it";
        // The middle of each quadrant, away from the edges JPEG blurs.
        for (const auto& [x, y] : {std::pair{32, 24}, {96, 24}, {32, 72}, {96, 72}}) {
            const size_t at = (static_cast<size_t>(y) * 128 + x) * 3;
            for (size_t k = at; k < at + 3; ++k) {
                EXPECT_LE(std::abs(int(original[k]) - int(reencoded[k])), 12) << "colour kept at " << x << "," << y;
            }
        }
    }
}

TEST(CoverArt, LaysTransparentPixelsOverWhite) {
    ScratchFolder folder;
    auto jpeg = makeCoverJpeg(
        makeImage(folder, "color=c=black@0.0:s=16x16,format=rgba", "clear.png", "-pix_fmt rgba"));
    ASSERT_TRUE(jpeg) << jpeg.error().description();
    const auto pixels = decodeToRgb(folder, jpeg->data);
    ASSERT_EQ(pixels.size(), 16u * 16u * 3u);
    for (uint8_t component : pixels) ASSERT_GE(component, 250) << "transparent black shows as white";
}

TEST(CoverArt, RefusesBytesThatAreNoImage) {
    const Bytes cases[] = {
        Bytes{},
        Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'},
        Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13},  // a PNG cut short
        Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10},                           // a JPEG cut short
    };
    for (const Bytes& bytes : cases) {
        auto jpeg = makeCoverJpeg(bytes);
        ASSERT_FALSE(jpeg) << bytes.size() << " bytes";
        EXPECT_EQ(jpeg.error().domain, errc::kCoverArt);
    }
}

}  // namespace
}  // namespace korvanta::test

#include "export/CoverArt.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ExportTestSupport.h"

namespace korvanta::test {
namespace {

// Largest difference of any colour component between two RGB24 pictures of the same size.
int maxComponentDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    }
    return worst;
}

// Every image format a user may pick must come out as a baseline JPEG of the same picture.
TEST(CoverArt, ReencodesEveryImageFormatAsBaselineJpegAtQuality90) {
    ScratchFolder folder;
    // Four flat colour quadrants: JPEG keeps flat areas close to their colour.
    const std::string source =
        "color=c=0xC03020:s=64x48[a];color=c=0x20A040:s=64x48[b];color=c=0x3040D0:s=64x48[c];"
        "color=c=0xE0E0E0:s=64x48[d];[a][b]hstack[top];[c][d]hstack[bottom];[top][bottom]vstack";
    const struct {
        const char* fileName;
        const char* options;
    } inputs[] = {
        {"cover.png", ""},
        {"cover.jpg", "-q:v 2"},
        {"cover.bmp", ""},
        {"cover.webp", "-lossless 1"},
        {"cover.tiff", ""},
    };
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
        EXPECT_TRUE(layout.baseline) << "an SOF0 frame: baseline coding";
        EXPECT_FALSE(layout.progressive) << "progressive (SOF2) coding is not wanted";
        EXPECT_EQ(layout.width, 128);
        EXPECT_EQ(layout.height, 96);
        // libjpeg scales the standard luminance table (DC entry 16) by 200 − 2·quality percent:
        // 20 % at quality 90 gives 3 (quality 75 would give 8).
        EXPECT_EQ(layout.firstLuminanceQuantizer, 3);

        const auto original = decodeToRgb(folder, image);
        const auto reencoded = decodeToRgb(folder, jpeg->data);
        ASSERT_EQ(reencoded.size(), original.size()) << "an independent decoder reads it";
        // Sample the middle of each quadrant, away from the edges JPEG blurs.
        for (const auto& [x, y] : {std::pair{32, 24}, {96, 24}, {32, 72}, {96, 72}}) {
            const size_t at = (static_cast<size_t>(y) * 128 + x) * 3;
            const std::vector<uint8_t> a(original.begin() + at, original.begin() + at + 3);
            const std::vector<uint8_t> b(reencoded.begin() + at, reencoded.begin() + at + 3);
            EXPECT_LE(maxComponentDifference(a, b), 12) << "colour kept at " << x << "," << y;
        }
    }
}

TEST(CoverArt, LaysTransparentPixelsOverWhite) {
    ScratchFolder folder;
    const Bytes png = makeImage(folder, "color=c=black@0.0:s=16x16,format=rgba", "clear.png",
                                "-pix_fmt rgba");
    auto jpeg = makeCoverJpeg(png);
    ASSERT_TRUE(jpeg) << jpeg.error().description();
    const auto pixels = decodeToRgb(folder, jpeg->data);
    ASSERT_EQ(pixels.size(), 16u * 16u * 3u);
    for (uint8_t component : pixels) {
        ASSERT_GE(component, 250) << "fully transparent black must show as white, not black";
    }
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

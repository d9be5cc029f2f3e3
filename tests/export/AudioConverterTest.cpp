#include "export/AudioConverter.h"

#include <gtest/gtest.h>

#include "ExportTestSupport.h"
#include "platform/TempFolder.h"

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;
using ConversionError = AudioConverter::ConversionError;

// Outputs land in the shared private temporary folder: every test names its song uniquely and
// removes what it made.
class AudioConverterTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto temp = privateTempFolder();
        ASSERT_TRUE(temp) << temp.error().description();
        tempFolder = temp.value();
        stem = "song-" + makeUuidString().substr(0, 8) + "_master";
    }
    void TearDown() override {
        for (const char* extension : {".wav", ".m4a"}) fs::remove(tempFolder / (stem + extension));
    }
    fs::path writeInput(const Signal& signal, WavSampleFormat format = WavSampleFormat::float32) {
        writeWav(folder / (stem + ".wav"), signal, format);
        return folder / (stem + ".wav");
    }
    // Files in the private folder named after this test's song (partial files included).
    std::vector<std::string> filesOfThisSong() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(tempFolder)) {
            const std::string name = entry.path().filename().string();
            if (name.find(stem) != std::string::npos) names.push_back(name);
        }
        return names;
    }

    ScratchFolder folder;
    fs::path tempFolder;
    std::string stem;
};

TEST_F(AudioConverterTest, ErrorsCarryTheirDomainCodesAndTexts) {
    EXPECT_EQ(ConversionError::exportFailure("Export was cancelled"),
              (Error{"AudioConverter.ConversionError", 0, "Export was cancelled"}));
    EXPECT_TRUE(ConversionError::fileNotFound().is("AudioConverter.ConversionError", 1));
    EXPECT_EQ(ConversionError::fileNotFound().description(), "The input file was not found.");
    EXPECT_TRUE(ConversionError::unsupportedFormat().is("AudioConverter.ConversionError", 2));
}

TEST_F(AudioConverterTest, WavIsAByteCopyInThePrivateFolder) {
    const fs::path input = writeInput(makeNoise(44100, 2, 0.3, 0.5f, 11), WavSampleFormat::int16);
    auto output = AudioConverter::convert(input, ExportFormat::wav);
    ASSERT_TRUE(output) << output.error().description();
    EXPECT_EQ(output.value(), tempFolder / (stem + ".wav"));
    EXPECT_EQ(readBytes(output.value()), readBytes(input));
}

TEST_F(AudioConverterTest, InputTheEncoderRefusesIsCopiedUnderTheM4aName) {
    const fs::path input = writeInput(makeNoise(44100, 9, 0.2, 0.3f, 2));  // AAC cannot carry 9 channels
    auto output = AudioConverter::convert(input, ExportFormat::m4a);
    ASSERT_TRUE(output) << output.error().description();
    EXPECT_EQ(output.value(), tempFolder / (stem + ".m4a"));
    EXPECT_EQ(readBytes(output.value()), readBytes(input)) << "the fallback is a byte copy";
}

TEST_F(AudioConverterTest, M4aReplacesAnOutputOfTheSameName) {
    const fs::path input = writeInput(makeSine(48000, 2, 0.6, 440.0, 0.5f), WavSampleFormat::int24);
    const fs::path expected = tempFolder / (stem + ".m4a");
    writeBytes(expected, Bytes{'o', 'l', 'd'});

    double lastFraction = 0.0;
    auto output = AudioConverter::convert(input, ExportFormat::m4a, [&](double fraction) { lastFraction = fraction; });
    ASSERT_TRUE(output) << output.error().description();
    EXPECT_EQ(output.value(), expected) << "same base name, extension m4a";
    const ProbedFile probed = probeFile(expected);
    const ProbedStream* audio = probed.firstOfType("audio");
    ASSERT_NE(audio, nullptr) << "the old file was replaced by the encode";
    EXPECT_EQ(audio->codecName, "aac");
    EXPECT_EQ(audio->sampleRate, 48000);
    EXPECT_NEAR(audio->durationSeconds, 0.6, 0.001);
    EXPECT_EQ(probed.firstOfType("video"), nullptr) << "conversions carry no cover";
    EXPECT_DOUBLE_EQ(lastFraction, 1.0);
    EXPECT_EQ(filesOfThisSong(), std::vector<std::string>{stem + ".m4a"}) << "no partial file left";
}

TEST_F(AudioConverterTest, InputThatIsMissingOrNotAudioIsFileNotFound) {
    const fs::path notAudio = folder / (stem + ".wav");
    writeBytes(notAudio, Bytes(2000, 'x'));
    for (const fs::path& input : {fs::path(folder / "missing.wav"), notAudio}) {
        SCOPED_TRACE(input.filename().string());
        for (ExportFormat format : allExportFormats) {
            auto output = AudioConverter::convert(input, format);
            ASSERT_FALSE(output);
            EXPECT_EQ(output.error(), ConversionError::fileNotFound());
        }
    }
    EXPECT_TRUE(filesOfThisSong().empty()) << "nothing is written for an unusable input";
}

TEST_F(AudioConverterTest, CancelledEncodeIsAnExportFailureWithoutOutput) {
    double lastFraction = 0.0;
    auto output = AudioConverter::convert(
        writeInput(makeNoise(44100, 2, 2.0, 0.3f, 5)), ExportFormat::m4a,
        [&](double fraction) { lastFraction = fraction; }, [&] { return lastFraction > 0.2; });
    ASSERT_FALSE(output);
    EXPECT_EQ(output.error(), ConversionError::exportFailure("Export was cancelled"));
    EXPECT_TRUE(filesOfThisSong().empty()) << "neither the output nor a partial file remains";
}

TEST_F(AudioConverterTest, FileAlreadyInThePrivateFolderIsLeftInPlace) {
    const fs::path input = tempFolder / (stem + ".wav");
    writeWav(input, makeSine(44100, 1, 0.2, 440.0, 0.5f));
    const Bytes before = readBytes(input);
    auto output = AudioConverter::convert(input, ExportFormat::wav);
    ASSERT_TRUE(output) << output.error().description();
    EXPECT_EQ(output.value(), input);
    EXPECT_EQ(readBytes(input), before) << "the input is its own output and must survive";
}

}  // namespace
}  // namespace korvanta::test

// The reader's contract, the same for both backends: a read yields min(count, capacity, frames
// left), sets the buffer's frame length to it and advances the position by it; at or past the
// end it yields nothing and no error.
#include <gtest/gtest.h>

#include "ReaderTestSupport.h"

namespace korvanta::test {
namespace {

struct ReaderCase {
    const char* name;
    const char* file;
    const char* options;
};

const ReaderCase kReaders[] = {
    {"libsndfile", "clip.wav", "-c:a pcm_s16le"},
    {"ffmpeg", "clip.m4a", "-c:a aac -b:a 128k"},
};

class ReaderSemantics : public ::testing::TestWithParam<ReaderCase> {
protected:
    void SetUp() override {
        writeWav(folder_ / "source.wav", makeNoise(44100, 2, 0.5, 0.5f, 5), WavSampleFormat::float32);
        convertWithFfmpeg(folder_ / "source.wav", folder_ / GetParam().file, GetParam().options);
        auto opened = AudioFileReader::open(folder_ / GetParam().file);
        ASSERT_TRUE(opened.ok()) << opened.error().description();
        reader_ = std::move(opened).value();
    }

    ScratchFolder folder_;
    std::unique_ptr<AudioFileReader> reader_;
};

TEST_P(ReaderSemantics, ReadsTheSmallestOfCountCapacityAndFramesLeft) {
    AudioFileReader& reader = *reader_;
    ASSERT_EQ(reader.length(), 22050);
    auto buffer = PcmBuffer::allocate(reader.processingFormat(), 4096);
    ASSERT_TRUE(buffer);

    struct Step {
        int64_t setPosition;  // -1: keep
        std::optional<uint32_t> count;
        uint32_t expectedFrames;
        int64_t expectedPosition;
        const char* why;
    };
    const Step steps[] = {
        {-1, 1000u, 1000, 1000, "a count below the capacity is honoured"},
        {-1, std::nullopt, 4096, 5096, "no count: the buffer's capacity"},
        {-1, 100000u, 4096, 9192, "a count above the capacity is cut to it"},
        {-1, 0u, 0, 9192, "a count of 0 reads nothing"},
        {22050 - 10, std::nullopt, 10, 22050, "only the frames left at the end"},
        {-1, std::nullopt, 0, 22050, "at the end: nothing, and no error"},
        {30000, std::nullopt, 0, 30000, "past the end: nothing, and no error"},
        {-7, 5u, 5, 5, "a negative position is taken as 0"},
    };
    for (const Step& step : steps) {
        if (step.setPosition != -1) reader.setFramePosition(step.setPosition);
        buffer->setFrameLength(123);  // must be replaced by what the read yields
        auto status = reader.read(*buffer, step.count);
        ASSERT_TRUE(status.ok()) << step.why << ": " << status.error().description();
        EXPECT_EQ(buffer->frameLength(), step.expectedFrames) << step.why;
        EXPECT_EQ(reader.framePosition(), step.expectedPosition) << step.why;
    }
}

TEST_P(ReaderSemantics, RefusesABufferWithAnotherChannelCount) {
    auto mono = PcmBuffer::allocate({44100, 1}, 1024);
    auto status = reader_->read(*mono);
    ASSERT_FALSE(status.ok()) << "the decoder writes one array per channel of the file";
    EXPECT_TRUE(status.error().is(errc::kAudioFile, errc::kReadFailed));
    EXPECT_EQ(mono->frameLength(), 0u);
    EXPECT_EQ(reader_->framePosition(), 0) << "a refused read does not move the position";
}

INSTANTIATE_TEST_SUITE_P(BothBackends, ReaderSemantics, ::testing::ValuesIn(kReaders),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvanta::test

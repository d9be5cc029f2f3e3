#include <gtest/gtest.h>

#include "playback/OutputQueue.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

std::shared_ptr<PcmBuffer> ramp(uint32_t frames, float from) {
    std::shared_ptr<PcmBuffer> b = PcmBuffer::allocate({44100.0, 2}, frames);
    for (uint32_t i = 0; i < frames; ++i) {
        b->channel(0)[i] = from + float(i);
        b->channel(1)[i] = -(from + float(i));
    }
    b->setFrameLength(frames);
    return b;
}

std::vector<float> pullLeft(OutputQueue& q, uint32_t frames) {
    std::vector<float> l(frames), r(frames);
    float* channels[] = {l.data(), r.data()};
    l.resize(q.pull(channels, 2, frames));
    return l;
}

TEST(OutputQueueTest, PlaysItemsInOrderAcrossPullBoundariesAndReportsEachBufferOnce) {
    OutputQueue q;
    int firstDone = 0, secondDone = 0;
    q.scheduleBuffer(ramp(300, 0.0f), [&] { ++firstDone; });
    q.scheduleBuffer(ramp(200, 1000.0f), [&] { ++secondDone; });
    EXPECT_TRUE(pullLeft(q, 100).empty()) << "nothing leaves before play";
    q.setPlaying(true);
    EXPECT_EQ(pullLeft(q, 250).size(), 250u);
    EXPECT_EQ(firstDone, 0);
    auto b = pullLeft(q, 250);
    ASSERT_EQ(b.size(), 250u);
    EXPECT_EQ(b[49], 299.0f);
    EXPECT_EQ(b[50], 1000.0f) << "the second buffer follows without a gap";
    EXPECT_EQ(firstDone, 1);
    EXPECT_EQ(pullLeft(q, 10).size(), 0u);
    EXPECT_EQ(secondDone, 1);
    EXPECT_EQ(q.framesPulled(), 500u);
}

TEST(OutputQueueTest, StopDiscardsAndStillReportsEveryBuffer) {
    OutputQueue q;
    int done = 0;
    q.scheduleBuffer(ramp(100, 0.0f), [&] { ++done; });
    q.scheduleBuffer(ramp(100, 0.0f), [&] { ++done; });
    q.setPlaying(true);
    (void)pullLeft(q, 10);
    const uint64_t stops = q.stopCount();
    q.stop();
    EXPECT_EQ(done, 2);
    EXPECT_EQ(q.pendingItems(), 0u);
    EXPECT_FALSE(q.isPlaying());
    EXPECT_EQ(q.stopCount(), stops + 1);
}

TEST(OutputQueueTest, ASegmentIsReadFromTheFileAndCutAtItsEnd) {
    ScratchFolder folder;
    const Signal s = makeNoise(48000.0, 2, 0.1, 0.5f, 3);  // 4,800 frames
    writeWav(folder / "s.wav", s);
    auto file = SharedAudioFile::open(folder / "s.wav");
    ASSERT_TRUE(file);
    OutputQueue q;
    q.scheduleSegment(file.value(), 4000, 100000);
    q.setPlaying(true);
    auto l = pullLeft(q, 2000);
    ASSERT_EQ(l.size(), 800u);
    for (size_t i = 0; i < l.size(); ++i) ASSERT_EQ(l[i], s.channels[0][4000 + i]) << i;
}

}  // namespace
}  // namespace korvanta::test

// Bad input gives the right error, never a crash: what the file system refuses, files that are not
// audio whatever their name, empty and truncated files, and damaged audio data.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "ReaderTestSupport.h"

namespace korvanta::test {
namespace {

using Make = std::function<void(const std::filesystem::path&)>;

Make withBytes(const std::string& bytes) {
    return [bytes](const std::filesystem::path& path) { writeFile(path, bytes); };
}

Make testPicture(const std::string& options) {
    return [options](const std::filesystem::path& path) {
        EXPECT_TRUE(ffmpeg("-f lavfi -i testsrc=d=1 " + options + " " + shellQuote(path.string())));
    };
}

struct Refusal {
    const char* name;
    const char* file;
    Make make;  // null: nothing there
    int code;
};

const Refusal kRefusals[] = {
    {"missingFile", "nothing.wav", nullptr, errc::kNoSuchFile},
    {"missingFolder", "gone/song.mp3", nullptr, errc::kNoSuchFile},
    {"folder", "album.wav", [](const auto& path) { std::filesystem::create_directory(path); },
     errc::kIsDirectory},
    {"emptyWav", "e.wav", withBytes(""), errc::kNotAudio},
    {"emptyMp3", "e.mp3", withBytes(""), errc::kNotAudio},
    {"emptyM4a", "e.m4a", withBytes(""), errc::kNotAudio},
    {"emptyAac", "e.aac", withBytes(""), errc::kNotAudio},
    {"textNamedMp3", "t.mp3", withBytes(notAudioText()), errc::kNotAudio},
    {"textNamedAac", "t.aac", withBytes(notAudioText()), errc::kNotAudio},
    {"randomNamedWav", "r.wav", withBytes(randomBytes(65536, 1)), errc::kNotAudio},
    {"randomNamedMp3", "r.mp3", withBytes(randomBytes(300000, 2)), errc::kNotAudio},
    {"randomNamedM4a", "r.m4a", withBytes(randomBytes(65536, 3)), errc::kNotAudio},
    {"randomNamedAac", "r.aac", withBytes(randomBytes(65536, 4)), errc::kNotAudio},
    {"imageNamedMp3", "cover.mp3", testPicture("-frames:v 1 -f image2 -c:v png"), errc::kNotAudio},
    {"videoWithoutAudioNamedM4a", "clip.m4a", testPicture("-c:v mpeg4 -f mp4"), errc::kNotAudio},
};

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, GiveTheRightError) {
    ScratchFolder folder;
    const auto path = folder / GetParam().file;
    if (GetParam().make) GetParam().make(path);
    testing::internal::CaptureStderr();
    auto reader = AudioFileReader::open(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the decoding libraries print nothing";
    ASSERT_FALSE(reader.ok()) << "nothing here is a readable audio file";
    EXPECT_EQ(reader.error().domain, errc::kAudioFile);
    EXPECT_EQ(reader.error().code, GetParam().code) << reader.error().description();
    EXPECT_NE(reader.error().message.find(path.filename().string()), std::string::npos)
        << "the message names the file: " << reader.error().message;
}

INSTANTIATE_TEST_SUITE_P(BadInput, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInput, ZeroFrameWavOpensEmpty) {
    ScratchFolder folder;
    writeWav(folder / "silence.wav", makeSignal(44100, 2, 0, [](int, size_t) { return 0.0f; }));
    auto reader = AudioFileReader::open(folder / "silence.wav");
    ASSERT_TRUE(reader.ok()) << "a valid WAV with no frames is an audio file";
    EXPECT_EQ(reader.value()->length(), 0);
    auto buffer = PcmBuffer::allocate(reader.value()->processingFormat(), 1024);
    ASSERT_TRUE(reader.value()->read(*buffer).ok());
    EXPECT_EQ(buffer->frameLength(), 0u);
}

TEST(BadInput, UnreadableFileIsRefusedAsNotReadable) {
    std::string why;
    const auto reachable = scratchFolderOthersCanReach(&why);
    if (!reachable) GTEST_SKIP() << why;
    const ScratchFolder& folder = *reachable;
    writeWav(folder / "locked.wav", makeSine(44100, 1, 0.1, 440, 0.5f));
    writeWav(folder / "open.wav", makeSine(44100, 1, 0.1, 440, 0.5f));
    ::chmod((folder / "locked.wav").c_str(), 0);
    ::chmod((folder / "open.wav").c_str(), 0644);

    const auto exitCodeFor = [](const std::filesystem::path& path) {
        return runUnprivileged([path] {
            auto reader = AudioFileReader::open(path);
            if (reader.ok()) return 0;
            return reader.error().is(errc::kAudioFile, errc::kNotReadable) ? 1 : 2;
        });
    };
    EXPECT_EQ(exitCodeFor(folder / "open.wav"), 0)
        << "the unprivileged child can open a readable file, so the next refusal is the file's";
    EXPECT_EQ(exitCodeFor(folder / "locked.wav"), 1)
        << "a file without read permission is refused as not readable (exit 0: opened, 2: other error)";
}

TEST(BadInput, FifoIsRefusedWithoutWaitingForAWriter) {
    ScratchFolder folder;
    const auto path = folder / "stream.mp3";
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    const auto refusedAsNotAudio = [&] {
        auto reader = AudioFileReader::open(path);
        return !reader.ok() && reader.error().is(errc::kAudioFile, errc::kNotAudio) ? 0 : 1;
    };
    EXPECT_EQ(runInChild(refusedAsNotAudio, 10), 0)
        << "refused as not audio (1: other outcome, 201: blocked on the pipe)";
}

struct Damage {
    const char* name;
    const char* file;
    const char* options;
    bool ffmpegBackend;  // decoded by FFmpeg: the length contract must survive the damage
};

const Damage kDamaged[] = {
    {"wav", "d.wav", "-c:a pcm_s16le", false},
    {"flac", "d.flac", "-c:a flac", false},
    {"ogg", "d.ogg", "-c:a libvorbis", false},
    {"mp3WithHeader", "d.mp3", "-c:a libmp3lame -b:a 128k", false},
    {"mp3WithoutHeader", "dn.mp3", "-c:a libmp3lame -b:a 128k -write_xing 0", true},
    {"m4a", "d.m4a", "-c:a aac -b:a 128k", true},
    {"m4aFastStart", "df.m4a", "-c:a aac -b:a 128k -movflags +faststart", true},
    {"adts", "d.aac", "-c:a aac -b:a 128k", true},
};

class DamagedFiles : public ::testing::TestWithParam<Damage> {
protected:
    void SetUp() override {
        // Lossy codecs keep tones closely, so a decode can be compared with the source.
        source_ = tonesOverNoise(44100, 2, 2.0, {{0.3, 440, 0}, {0.2, 1234, 0}}, 0.02f, 9);
        writeWav(folder_ / "source.wav", source_, WavSampleFormat::float32);
        convertWithFfmpeg(folder_ / "source.wav", folder_ / GetParam().file, GetParam().options);
        bytes_ = readFile(folder_ / GetParam().file);
        ASSERT_GT(bytes_.size(), 4000u);
    }

    // Opens and reads `bytes` as a file of this format, printing nothing: the open fails with an
    // audio file error, or a sequential read ends. The frames read, or -1 when the open failed.
    int64_t openAndReadAll(const std::string& bytes, const char* why) {
        const auto path = folder_ / (std::string("damaged-") + GetParam().file);
        std::filesystem::remove(path);
        writeFile(path, bytes);
        testing::internal::CaptureStderr();
        struct Quiet {
            const char* why;
            ~Quiet() { EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << why; }
        } quiet{why};
        auto opened = AudioFileReader::open(path);
        if (!opened.ok()) {
            EXPECT_EQ(opened.error().domain, errc::kAudioFile) << why;
            return -1;
        }
        AudioFileReader& reader = *opened.value();
        auto buffer = PcmBuffer::allocate(reader.processingFormat(), 8192);
        decoded_.channels.assign(static_cast<size_t>(reader.processingFormat().channelCount), {});
        int64_t total = 0;
        for (int guard = 0; guard < 10000; ++guard) {
            auto status = reader.read(*buffer);
            if (!status.ok()) {
                EXPECT_TRUE(status.error().is(errc::kAudioFile, errc::kReadFailed)) << why;
                break;
            }
            if (buffer->frameLength() == 0) break;
            total += buffer->frameLength();
            for (int c = 0; c < decoded_.channelCount(); ++c) {
                decoded_.channels[c].insert(decoded_.channels[c].end(), buffer->channel(c),
                                            buffer->channel(c) + buffer->frameLength());
            }
        }
        // Jumping about in a damaged file is safe too.
        for (int64_t p : {reader.length() / 2, int64_t{0}, reader.length() - 1}) {
            reader.setFramePosition(p);
            (void)reader.read(*buffer);
        }
        if (GetParam().ffmpegBackend) {
            EXPECT_EQ(total, reader.length()) << why << ": a sequential read yields the length";
        }
        EXPECT_LE(total, static_cast<int64_t>(source_.frameCount()) + 4096) << why;
        return total;
    }

    std::string withJunkInTheMiddle() const {
        std::string damaged = bytes_;
        const std::string junk = randomBytes(3000, 17);
        return damaged.replace(damaged.size() / 2, junk.size(), junk);
    }

    ScratchFolder folder_;
    Signal source_;
    Signal decoded_;  // what the last openAndReadAll() read
    std::string bytes_;
};

TEST_P(DamagedFiles, TruncatedFilesOpenShorterOrFail) {
    const int64_t whole = openAndReadAll(bytes_, "intact");
    ASSERT_GT(whole, 0);
    for (double fraction : {0.6, 0.1}) {
        const auto cut = static_cast<size_t>(bytes_.size() * fraction);
        EXPECT_LT(openAndReadAll(bytes_.substr(0, cut), "truncated"), whole)
            << "a file cut to " << fraction << " yields fewer frames or none";
    }
    openAndReadAll(bytes_.substr(0, 300), "cut to its first 300 bytes");
}

TEST_P(DamagedFiles, OverwrittenDataNeverCrashes) {
    const int64_t frames = openAndReadAll(withJunkInTheMiddle(), "3000 random bytes in the middle");
    if (std::string_view(GetParam().file).ends_with(".m4a")) {
        EXPECT_EQ(frames, static_cast<int64_t>(source_.frameCount()))
            << "the container's timing survives: packets that fail to decode become silence";
        // The last quarter second, well after the damage, is still in its place.
        Signal tail = source_, decodedTail = decoded_;
        for (auto* s : {&tail, &decodedTail}) {
            for (auto& ch : s->channels) ch.erase(ch.begin(), ch.end() - 11025);
        }
        EXPECT_GT(correlation(tail, decodedTail, 0, 0), 0.8)
            << "audio after packets that failed to decode is not moved earlier";
    }

    // Scattered single-byte damage anywhere, headers included.
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::string damaged = bytes_;
        std::mt19937 rng(seed);
        for (int i = 0; i < 24; ++i) damaged[rng() % damaged.size()] = static_cast<char>(rng() & 0xff);
        openAndReadAll(damaged, "bytes changed at random");
    }
}

INSTANTIATE_TEST_SUITE_P(BadInput, DamagedFiles, ::testing::ValuesIn(kDamaged),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvanta::test

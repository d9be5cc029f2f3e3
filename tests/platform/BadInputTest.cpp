// Bad input gives the right error and never a crash: what the file system refuses, files that are
// not audio whatever their name, empty and truncated files, and damaged audio data.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "ReaderTestSupport.h"
#include "platform/DiagnosticLog.h"

namespace korvanta::test {
namespace {

std::string randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(rng() & 0xff);
    return bytes;
}

std::string someText() {
    std::string text;
    for (int i = 0; i < 400; ++i) text += "Track " + std::to_string(i) + ": not audio, just a list of songs.\n";
    return text;
}

struct Refusal {
    const char* name;
    std::function<std::filesystem::path(const ScratchFolder&)> make;
    int code;
};

const Refusal kRefusals[] = {
    {"missingFile", [](const ScratchFolder& f) { return f / "nothing.wav"; }, errc::kNoSuchFile},
    {"missingFolder", [](const ScratchFolder& f) { return f / "gone" / "song.mp3"; }, errc::kNoSuchFile},
    {"folder",
     [](const ScratchFolder& f) {
         std::filesystem::create_directory(f / "album.wav");
         return f / "album.wav";
     },
     errc::kIsDirectory},
    {"emptyWav", [](const ScratchFolder& f) { writeBytes(f / "e.wav", ""); return f / "e.wav"; }, errc::kNotAudio},
    {"emptyMp3", [](const ScratchFolder& f) { writeBytes(f / "e.mp3", ""); return f / "e.mp3"; }, errc::kNotAudio},
    {"emptyM4a", [](const ScratchFolder& f) { writeBytes(f / "e.m4a", ""); return f / "e.m4a"; }, errc::kNotAudio},
    {"emptyAac", [](const ScratchFolder& f) { writeBytes(f / "e.aac", ""); return f / "e.aac"; }, errc::kNotAudio},
    {"textNamedMp3", [](const ScratchFolder& f) { writeBytes(f / "t.mp3", someText()); return f / "t.mp3"; },
     errc::kNotAudio},
    {"textNamedAac", [](const ScratchFolder& f) { writeBytes(f / "t.aac", someText()); return f / "t.aac"; },
     errc::kNotAudio},
    {"randomNamedWav",
     [](const ScratchFolder& f) { writeBytes(f / "r.wav", randomBytes(65536, 1)); return f / "r.wav"; },
     errc::kNotAudio},
    {"randomNamedMp3",
     [](const ScratchFolder& f) { writeBytes(f / "r.mp3", randomBytes(300000, 2)); return f / "r.mp3"; },
     errc::kNotAudio},
    {"randomNamedM4a",
     [](const ScratchFolder& f) { writeBytes(f / "r.m4a", randomBytes(65536, 3)); return f / "r.m4a"; },
     errc::kNotAudio},
    {"randomNamedAac",
     [](const ScratchFolder& f) { writeBytes(f / "r.aac", randomBytes(65536, 4)); return f / "r.aac"; },
     errc::kNotAudio},
    {"imageNamedMp3",
     [](const ScratchFolder& f) {
         int status = 0;
         runCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc=d=1 -frames:v 1 -f image2 -c:v png " +
                        shellQuote((f / "cover.mp3").string()),
                    &status);
         EXPECT_EQ(status, 0);
         return f / "cover.mp3";
     },
     errc::kNotAudio},
    {"videoWithoutAudioNamedM4a",
     [](const ScratchFolder& f) {
         int status = 0;
         runCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc=d=1 -c:v mpeg4 -f mp4 " +
                        shellQuote((f / "clip.m4a").string()),
                    &status);
         EXPECT_EQ(status, 0);
         return f / "clip.m4a";
     },
     errc::kNotAudio},
};

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, GiveTheRightError) {
    ScratchFolder folder;
    const auto path = GetParam().make(folder);
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
    // The child runs as another user, so the folders on the way must let it pass.
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
    const int code = runInChild(
        [&] {
            auto reader = AudioFileReader::open(path);
            return !reader.ok() && reader.error().is(errc::kAudioFile, errc::kNotAudio) ? 0 : 1;
        },
        10);
    EXPECT_EQ(code, 0) << "refused as not audio (1: other outcome, 201: blocked on the pipe)";
}

// Damaged copies of real files: cut short or overwritten in the middle.
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
        // Tones over quiet noise: lossy codecs keep them closely, so a decode can be compared
        // with the source by correlation.
        const Signal noise = makeNoise(44100, 2, 2.0, 0.02f, 9);
        source_ = makeSignal(44100, 2, noise.frameCount(), [&](int c, size_t i) {
            const double t = static_cast<double>(i) / 44100.0;
            return static_cast<float>(0.3 * std::sin(2 * M_PI * 440.0 * t) +
                                      0.2 * std::sin(2 * M_PI * 1234.0 * t)) +
                   noise.channels[c][i];
        });
        writeWav(folder_ / "source.wav", source_, WavSampleFormat::float32);
        convertWithFfmpeg(folder_ / "source.wav", folder_ / GetParam().file, GetParam().options);
        bytes_ = readBytes(folder_ / GetParam().file);
        ASSERT_GT(bytes_.size(), 4000u);
    }

    // Opens and reads `bytes` as a file of this format. Either the open fails with an audio file
    // error, or a sequential read ends; returns the frames read, or -1 when the open failed.
    int64_t openAndReadAll(const std::string& bytes, const char* why) {
        const auto path = folder_ / (std::string("damaged-") + GetParam().file);
        std::filesystem::remove(path);
        writeBytes(path, bytes);
        // Whatever the damage, the decoding libraries print nothing of their own.
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

    ScratchFolder folder_;
    Signal source_;
    Signal decoded_;  // what the last openAndReadAll() read
    std::string bytes_;
};

TEST_P(DamagedFiles, TruncatedFilesOpenShorterOrFail) {
    const int64_t whole = openAndReadAll(bytes_, "intact");
    ASSERT_GT(whole, 0);
    for (double fraction : {0.6, 0.1}) {
        const int64_t cut = openAndReadAll(bytes_.substr(0, static_cast<size_t>(bytes_.size() * fraction)),
                                           "truncated");
        EXPECT_LT(cut, whole) << "a file cut to " << fraction << " yields fewer frames or none";
    }
    openAndReadAll(bytes_.substr(0, 300), "cut to its first 300 bytes");
}

TEST_P(DamagedFiles, OverwrittenDataNeverCrashes) {
    std::string middle = bytes_;
    const std::string junk = randomBytes(3000, 17);
    middle.replace(middle.size() / 2, junk.size(), junk);
    const int64_t frames = openAndReadAll(middle, "3000 random bytes in the middle");
    if (std::string(GetParam().name) == "m4a" || std::string(GetParam().name) == "m4aFastStart") {
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

TEST_P(DamagedFiles, TheLibrariesNotesReachOnlyTheDiagnosticLog) {
    std::vector<std::string> lines;
    setDiagnosticSink([&](std::string_view line) { lines.emplace_back(line); });
    std::string damaged = bytes_;
    const std::string junk = randomBytes(3000, 17);
    damaged.replace(damaged.size() / 2, junk.size(), junk);
    openAndReadAll(damaged, "3000 random bytes in the middle, with a diagnostic sink");
    openAndReadAll(someText(), "a text under this format's name, with a diagnostic sink");
    setDiagnosticSink(nullptr);
    const std::string library = GetParam().ffmpegBackend ? "ffmpeg: " : "libsndfile: ";
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(library, 0) == 0; }))
        << "what " << library << "noted is there for whoever asks: " << ::testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(BadInput, DamagedFiles, ::testing::ValuesIn(kDamaged),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvanta::test

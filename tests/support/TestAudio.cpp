#include "support/TestAudio.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include <unistd.h>

#include "platform/AudioFileReader.h"

#if defined(__SANITIZE_ADDRESS__)
// Leak reports that are not ours to fix: libvorbis keeps what it allocated while libsndfile opens a
// damaged Ogg file.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libvorbis.so\nleak:vorbis_info_init\n";
}
#endif

namespace korvanta::test {

namespace {

std::filesystem::path testTemporaryRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp) ? tmp : std::filesystem::temp_directory_path();
}

}  // namespace

ScratchFolder::ScratchFolder() : ScratchFolder(testTemporaryRoot()) {}

ScratchFolder::ScratchFolder(const std::filesystem::path& base) {
    static std::atomic<int> counter{0};
    path_ = base / ("scratch-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

Signal makeSignal(double sampleRate, int channelCount, size_t frameCount,
                  const std::function<float(int, size_t)>& sample) {
    Signal s;
    s.sampleRate = sampleRate;
    s.channels.assign(static_cast<size_t>(channelCount), std::vector<float>(frameCount));
    for (int c = 0; c < channelCount; ++c) {
        for (size_t i = 0; i < frameCount; ++i) s.channels[c][i] = sample(c, i);
    }
    return s;
}

Signal makeSine(double sampleRate, int channelCount, double seconds, double frequency,
                float amplitude) {
    const auto frames = static_cast<size_t>(std::llround(sampleRate * seconds));
    return makeSignal(sampleRate, channelCount, frames, [&](int, size_t i) {
        return amplitude * static_cast<float>(std::sin(2.0 * M_PI * frequency * i / sampleRate));
    });
}

Signal makeNoise(double sampleRate, int channelCount, double seconds, float amplitude,
                 uint32_t seed) {
    const auto frames = static_cast<size_t>(std::llround(sampleRate * seconds));
    Signal s;
    s.sampleRate = sampleRate;
    for (int c = 0; c < channelCount; ++c) {
        std::mt19937 rng(seed * 7919u + static_cast<uint32_t>(c));
        std::uniform_real_distribution<float> dist(-amplitude, amplitude);
        std::vector<float> ch(frames);
        for (auto& x : ch) x = dist(rng);
        s.channels.push_back(std::move(ch));
    }
    return s;
}

Signal makeSong(double sampleRate, double seconds, uint32_t seed, float level) {
    Signal s = makeNoise(sampleRate, 2, seconds, 1.0f, seed);
    const double beat = 60.0 / 126.0;
    const double roots[] = {220.0, 196.0, 174.61, 196.0};
    for (int c = 0; c < 2; ++c) {
        for (size_t i = 0; i < s.frameCount(); ++i) {
            const double t = static_cast<double>(i) / sampleRate;
            const double n = s.channels[c][i];
            const double sinceBeat = std::fmod(t, beat);
            const double root = roots[static_cast<size_t>(t / (4.0 * beat)) % 4];
            const double kick = std::exp(-sinceBeat * 18.0) * std::sin(2.0 * M_PI * 55.0 * sinceBeat);
            const double pad = std::sin(2.0 * M_PI * root * t) +
                               std::sin(2.0 * M_PI * root * 1.26 * t) +
                               std::sin(2.0 * M_PI * root * 1.5 * t);
            const double bass = std::sin(2.0 * M_PI * root / 4.0 * t);
            const double snare = n * std::exp(-std::fmod(t + beat / 2.0, beat) * 25.0);
            const double hat = n * std::exp(-std::fmod(t, beat / 2.0) * 90.0);
            s.channels[c][i] = static_cast<float>(level * (0.55 * kick + (0.14 - 0.03 * c) * pad + 0.22 * bass +
                                                           0.35 * snare + (0.10 + 0.06 * c) * hat));
        }
    }
    return s;
}

void writeWav(const std::filesystem::path& path, const Signal& signal, WavSampleFormat format) {
    std::filesystem::remove(path);
    auto writer = WavWriter::create(path, {signal.sampleRate, signal.channelCount()}, format);
    ASSERT_TRUE(writer.ok()) << writer.error().description();
    auto status = writer.value()->write(planes(signal).data(), signal.channelCount(),
                                        static_cast<uint32_t>(signal.frameCount()));
    ASSERT_TRUE(status.ok()) << status.error().description();
    ASSERT_TRUE(writer.value()->close().ok());
}

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::string runCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return output;
    }
    std::array<char, 4096> chunk{};
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
    const int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

std::string ffprobeStreamField(const std::filesystem::path& path, const std::string& field,
                               const std::string& options) {
    int status = 0;
    std::string out = runCommand("ffprobe -v error -select_streams a:0 " + options + " -show_entries stream=" +
                                     field + " -of default=noprint_wrappers=1:nokey=1 " +
                                     shellQuote(path.string()),
                                 &status);
    EXPECT_EQ(status, 0) << out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(rng() & 0xff);
    return bytes;
}

std::string notAudioText() {
    std::string text;
    for (int i = 0; i < 400; ++i) text += "Track " + std::to_string(i) + ": not audio, just a list of songs.\n";
    return text;
}

void convertWithFfmpeg(const std::filesystem::path& source, const std::filesystem::path& target,
                       const std::string& outputOptions) {
    int status = 0;
    const std::string log = runCommand("ffmpeg -nostdin -v error -y -i " + shellQuote(source) + " " +
                                       outputOptions + " " + shellQuote(target) + " 2>&1",
                                       &status);
    ASSERT_EQ(status, 0) << "ffmpeg failed: " << log;
}

Signal readAll(const std::filesystem::path& path) {
    Signal s;
    auto reader = AudioFileReader::open(path);
    EXPECT_TRUE(reader.ok()) << (reader.ok() ? "" : reader.error().description());
    if (!reader.ok()) return s;
    auto& r = *reader.value();
    s.sampleRate = r.processingFormat().sampleRate;
    s.channels.assign(static_cast<size_t>(r.processingFormat().channelCount), {});
    auto buffer = PcmBuffer::allocate(r.processingFormat(), 65536);
    for (;;) {
        auto status = r.read(*buffer);
        EXPECT_TRUE(status.ok()) << (status.ok() ? "" : status.error().description());
        if (!status.ok() || buffer->frameLength() == 0) break;
        for (int c = 0; c < s.channelCount(); ++c) {
            s.channels[c].insert(s.channels[c].end(), buffer->channel(c),
                                 buffer->channel(c) + buffer->frameLength());
        }
    }
    return s;
}

}  // namespace korvanta::test

#include "ReaderTestSupport.h"

#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace korvanta::test {

Signal onGrid(Signal signal, int bits) {
    const double scale = std::ldexp(1.0, bits - 1);
    for (auto& channel : signal.channels) {
        for (auto& x : channel) {
            const double q = std::clamp(std::round(x * scale), -scale, scale - 1.0);
            x = static_cast<float>(q / scale);
        }
    }
    return signal;
}

Signal tonesOverNoise(double sampleRate, int channels, double seconds, const std::vector<Tone>& tones,
                      float noise, uint32_t seed) {
    const Signal quiet = makeNoise(sampleRate, channels, seconds, noise, seed);
    return makeSignal(sampleRate, channels, quiet.frameCount(), [&](int c, size_t i) {
        const double t = static_cast<double>(i) / sampleRate;
        double x = 0.0;
        for (const Tone& tone : tones) {
            x += tone.amplitude * std::sin(2 * M_PI * (tone.frequency + tone.perChannel * c) * t);
        }
        return static_cast<float>(x) + quiet.channels[c][i];
    });
}

namespace {

// From `start`, one chunk or on to the end.
Signal readChunks(AudioFileReader& reader, int64_t start, uint32_t chunkFrames, bool toTheEnd) {
    Signal s;
    s.sampleRate = reader.processingFormat().sampleRate;
    const int channels = reader.processingFormat().channelCount;
    s.channels.assign(static_cast<size_t>(channels), {});
    auto buffer = PcmBuffer::allocate(reader.processingFormat(), chunkFrames);
    if (!buffer) {
        ADD_FAILURE() << "no buffer";
        return s;
    }
    reader.setFramePosition(start);
    do {
        auto status = reader.read(*buffer);
        EXPECT_TRUE(status.ok()) << (status.ok() ? "" : status.error().description());
        if (!status.ok() || buffer->frameLength() == 0) break;
        for (int c = 0; c < channels; ++c) {
            s.channels[c].insert(s.channels[c].end(), buffer->channel(c),
                                 buffer->channel(c) + buffer->frameLength());
        }
    } while (toTheEnd);
    return s;
}

}  // namespace

Signal readRange(AudioFileReader& reader, int64_t start, uint32_t frames) {
    return readChunks(reader, start, frames, false);
}

Signal readSequential(AudioFileReader& reader, uint32_t chunkFrames) {
    return readChunks(reader, 0, chunkFrames, true);
}

Result<std::unique_ptr<AudioFileReader>> openWith(Backend backend, const std::filesystem::path& path) {
    if (backend == Backend::registry) return AudioFileReader::open(path);
    DecoderOpening opening = openWithFfmpeg(path);
    if (auto* decoder = std::get_if<std::unique_ptr<AudioDecoder>>(&opening)) {
        return std::make_unique<AudioFileReader>(std::move(*decoder), path);
    }
    if (auto* error = std::get_if<Error>(&opening)) return *error;
    return Error{errc::kAudioFile, errc::kNotAudio, "FFmpeg does not take this file"};
}

double correlation(const Signal& source, const Signal& decoded, int channel, int lag) {
    const auto& a = source.channels[static_cast<size_t>(channel)];
    const auto& b = decoded.channels[static_cast<size_t>(channel)];
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i < a.size() && i + static_cast<size_t>(lag) < b.size(); ++i) {
        const double x = a[i];
        const double y = b[i + static_cast<size_t>(lag)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return (aa > 0.0 && bb > 0.0) ? ab / std::sqrt(aa * bb) : 0.0;
}

double rmsDb(const Signal& signal, int channel) {
    const auto& x = signal.channels[static_cast<size_t>(channel)];
    double sum = 0.0;
    for (float v : x) sum += static_cast<double>(v) * v;
    return 10.0 * std::log10(sum / std::max<size_t>(x.size(), 1) + 1e-30);
}

int bestLag(const Signal& source, const Signal& decoded, int maxLag) {
    // A window away from the start, where every codec has settled.
    constexpr size_t kFrom = 4096, kWindow = 16384;
    const auto& a = source.channels[0];
    const auto& b = decoded.channels[0];
    int best = -1;
    double bestScore = -1.0;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double ab = 0.0, bb = 0.0;
        for (size_t i = kFrom; i < kFrom + kWindow && i < a.size() && i + lag < b.size(); ++i) {
            ab += static_cast<double>(a[i]) * b[i + lag];
            bb += static_cast<double>(b[i + lag]) * b[i + lag];
        }
        const double score = bb > 0.0 ? ab / std::sqrt(bb) : 0.0;
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

bool ffmpeg(const std::string& arguments) {
    int status = 0;
    runCommand("ffmpeg -nostdin -v error " + arguments, &status);
    return status == 0;
}

int runUnprivileged(const std::function<int()>& check) {
    return runInChild([&] {
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) return 200;
        }
        return check();
    });
}

std::unique_ptr<ScratchFolder> scratchFolderOthersCanReach(std::string* why) {
    const char* tmp = std::getenv("TMPDIR");
    std::vector<std::filesystem::path> candidates;
    if (tmp && *tmp) candidates.emplace_back(tmp);
    candidates.emplace_back("/tmp");
    candidates.emplace_back("/var/tmp");
    std::string tried;
    for (const auto& base : candidates) {
        // Search permission on every folder down to `base`, as the child has it.
        const bool reachable = ::access(base.c_str(), W_OK | X_OK) == 0 &&
                               runUnprivileged([&] { return ::access(base.c_str(), X_OK) == 0 ? 0 : 1; }) == 0;
        if (reachable) {
            auto folder = std::make_unique<ScratchFolder>(base);
            std::filesystem::permissions(folder->path(), std::filesystem::perms::all);
            return folder;
        }
        tried += (tried.empty() ? "" : ", ") + base.string();
    }
    if (why) *why = "no folder an unprivileged user can reach (tried " + tried + ")";
    return nullptr;
}

}  // namespace korvanta::test

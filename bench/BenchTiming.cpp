#include "BenchTiming.h"

#include <sys/resource.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/AudioFileReader.h"
#include "platform/PcmBuffer.h"

namespace korvanta::bench {

namespace {

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

Timing best(int repetitions, const std::function<void()>& body) {
    Timing t;
    for (int r = 0; r < repetitions; ++r) {
        const double cpuStart = processCpuSeconds() + childrenCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        t.wall = std::min(t.wall, took.count());
        t.cpu = std::min(t.cpu, processCpuSeconds() + childrenCpuSeconds() - cpuStart);
    }
    return t;
}

void fail(const std::string& what, const Error& error) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), error.description().c_str());
    std::exit(1);
}

void decodeOnce(const std::filesystem::path& path, uint32_t chunkFrames) {
    auto reader = AudioFileReader::open(path);
    if (!reader) fail("decoding", reader.error());
    auto buffer = PcmBuffer::allocate(reader.value()->processingFormat(), chunkFrames);
    if (!buffer) fail("decoding", Error{"Bench", 1, "could not allocate the decoding buffer"});
    while (reader.value()->framePosition() < reader.value()->length()) {
        if (Status s = reader.value()->read(*buffer); !s) fail("decoding", s.error());
        if (buffer->frameLength() == 0) break;
    }
}

}  // namespace korvanta::bench

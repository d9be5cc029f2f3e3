#include "platform/LargeAllocation.h"

#include <sys/mman.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvanta {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kMaxSpareRuns = 8;

size_t roundUp(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

void unmapRun(void* memory, size_t size) noexcept { munmap(memory, size); }

// Runs given back and kept for reuse, and the true size of every reused run still out (a run
// handed out again may be larger than asked for).
struct Spares {
    std::mutex mutex;
    std::vector<std::pair<void*, size_t>> runs;  // guarded by mutex
    size_t bytes = 0;                            // guarded by mutex: the runs' sizes together
    std::unordered_map<void*, size_t> reused;    // guarded by mutex
};

Spares& spares() {
    static Spares* instance = new Spares;  // never destroyed: used until the process ends
    return *instance;
}

}  // namespace

void* allocateLargeUninitialized(size_t bytes) noexcept {
    if (bytes == 0 || bytes > SIZE_MAX / 2) return nullptr;
    const size_t size = roundUp(bytes);
    try {
        Spares& s = spares();
        std::lock_guard lock(s.mutex);
        // The smallest run that is large enough.
        auto best = s.runs.end();
        for (auto it = s.runs.begin(); it != s.runs.end(); ++it) {
            if (it->second >= size && (best == s.runs.end() || it->second < best->second)) best = it;
        }
        if (best != s.runs.end()) {
            const auto [memory, runSize] = *best;
            s.runs.erase(best);
            s.bytes -= runSize;
            if (runSize != size) s.reused.emplace(memory, runSize);
            return memory;
        }
    } catch (...) {
        // Bookkeeping failed to allocate: a fresh run does as well.
    }
    return allocateLarge(bytes);
}

void* allocateLarge(size_t bytes) noexcept {
    if (bytes == 0 || bytes > SIZE_MAX / 2) return nullptr;
    const size_t size = roundUp(bytes);
    // Map one huge page more than needed and trim both ends to an aligned run.
    void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(mapped, aligned - start);
    const uintptr_t end = start + size + kHugePage;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    (void)madvise(memory, size, MADV_HUGEPAGE);  // a hint: without huge pages it works the same
#endif
    return memory;
}

void freeLarge(void* memory, size_t bytes) noexcept {
    if (!memory) return;
    size_t size = roundUp(bytes);
    try {
        Spares& s = spares();
        std::lock_guard lock(s.mutex);
        if (auto it = s.reused.find(memory); it != s.reused.end()) {
            size = it->second;
            s.reused.erase(it);
        }
        if (size <= kSpareLargeBytes) {
            // Evict the oldest runs until this one fits.
            while (!s.runs.empty() && (s.bytes + size > kSpareLargeBytes || s.runs.size() >= kMaxSpareRuns)) {
                unmapRun(s.runs.front().first, s.runs.front().second);
                s.bytes -= s.runs.front().second;
                s.runs.erase(s.runs.begin());
            }
#ifdef MADV_FREE
            // The kernel may take the pages back whenever it needs them (they then read as zeros).
            (void)madvise(memory, size, MADV_FREE);
#endif
            s.runs.emplace_back(memory, size);
            s.bytes += size;
            return;
        }
    } catch (...) {
    }
    unmapRun(memory, size);
}

}  // namespace korvanta

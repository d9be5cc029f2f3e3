#include "platform/LargeAllocation.h"

#include <sys/mman.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvanta {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kMaxSpareRuns = 8;

size_t roundUp(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

void unmapRun(void* memory, size_t size) noexcept { munmap(memory, size); }

using Clock = std::chrono::steady_clock;

// Runs given back and kept for reuse, and the true size of every reused run still out (a run
// handed out again may be larger than asked for).
struct Spares {
    struct Run {
        void* memory;
        size_t size;
        Clock::time_point since;  // given back then
    };
    std::mutex mutex;
    std::vector<Run> runs;                       // guarded by mutex, oldest first
    size_t bytes = 0;                            // guarded by mutex: the runs' sizes together
    std::unordered_map<void*, size_t> reused;    // guarded by mutex
    std::chrono::milliseconds lifetime{kSpareLargeLifetimeMs};  // guarded by mutex
    std::condition_variable changed;             // a run given back, or the lifetime changed
    bool sweeping = false;                       // guarded by mutex: the sweeper thread runs
};

Spares& spares() {
    static Spares* instance = new Spares;  // never destroyed: used until the process ends
    return *instance;
}

// Returns the oldest run kept to the system. With `s.mutex` held and a run kept.
void releaseOldest(Spares& s) {
    unmapRun(s.runs.front().memory, s.runs.front().size);
    s.bytes -= s.runs.front().size;
    s.runs.erase(s.runs.begin());
}

// Returns to the system every run kept longer than the lifetime. With `s.mutex` held.
void releaseExpired(Spares& s, Clock::time_point now) {
    while (!s.runs.empty() && now - s.runs.front().since >= s.lifetime) releaseOldest(s);
}

// The sweeper: wakes when the oldest run's time is up, and stops once no run is kept.
void sweep() {
    Spares& s = spares();
    std::unique_lock lock(s.mutex);
    while (!s.runs.empty()) {
        s.changed.wait_until(lock, s.runs.front().since + s.lifetime);
        releaseExpired(s, Clock::now());
    }
    s.sweeping = false;
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
            if (it->size >= size && (best == s.runs.end() || it->size < best->size)) best = it;
        }
        if (best != s.runs.end()) {
            void* const memory = best->memory;
            const size_t runSize = best->size;
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
                releaseOldest(s);
            }
            if (!s.sweeping) {
                try {
                    std::thread(sweep).detach();
                    s.sweeping = true;
                } catch (const std::system_error&) {
                    // No thread to return it later: back to the system now.
                    unmapRun(memory, size);
                    return;
                }
            }
            s.runs.push_back(Spares::Run{memory, size, Clock::now()});
            s.bytes += size;
            s.changed.notify_one();
            return;
        }
    } catch (...) {
    }
    unmapRun(memory, size);
}

size_t spareLargeBytes() {
    Spares& s = spares();
    std::lock_guard lock(s.mutex);
    return s.bytes;
}

void setSpareLargeLifetime(std::chrono::milliseconds lifetime) {
    Spares& s = spares();
    std::lock_guard lock(s.mutex);
    s.lifetime = lifetime;
    s.changed.notify_one();
}

}  // namespace korvanta

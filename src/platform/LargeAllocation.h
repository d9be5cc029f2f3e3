// Memory for whole songs and long windows of samples: taken straight from the kernel in 2 MiB
// aligned runs that may be backed by huge pages, so that touching a song's worth of samples costs
// a few dozen page faults instead of tens of thousands.
#pragma once

#include <chrono>
#include <cstddef>

namespace korvanta {

// Allocations of at least this many bytes are worth a mapping of their own.
inline constexpr size_t kLargeAllocationBytes = size_t{4} << 20;

// `bytes` bytes of zeroed memory aligned to 2 MiB, or nullptr when the system refuses. Any thread.
void* allocateLarge(size_t bytes) noexcept;

// The same, except that the memory holds whatever it held before: runs given back are kept for
// a few seconds (up to kSpareLargeBytes in all) and handed out again here, so that song after song
// reuses memory already mapped instead of faulting in and zeroing new pages. For arrays that are
// written before they are read.
void* allocateLargeUninitialized(size_t bytes) noexcept;

// Gives back memory from either allocation with the same `bytes`; nullptr is ignored. Any thread.
// A run kept for reuse goes back to the system once it has not been reused for the lifetime
// (a thread of the allocator's own waits for that while runs are kept).
void freeLarge(void* memory, size_t bytes) noexcept;

// The most memory kept for reuse, and for how long.
inline constexpr size_t kSpareLargeBytes = size_t{256} << 20;
inline constexpr int kSpareLargeLifetimeMs = 10000;

// The bytes kept for reuse now; the lifetime (for tests).
size_t spareLargeBytes();
void setSpareLargeLifetime(std::chrono::milliseconds lifetime);

}  // namespace korvanta

#include "platform/LargeAllocation.h"

#include <sys/mman.h>

#include <cstdint>

namespace korvanta {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t roundUp(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

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
    if (memory) munmap(memory, roundUp(bytes));
}

}  // namespace korvanta

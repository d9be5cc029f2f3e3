#include "platform/PcmBuffer.h"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "platform/LargeAllocation.h"

namespace korvanta {

uint64_t physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

PcmBuffer::Storage::~Storage() {
    if (large) freeLarge(samples, bytes);
    else delete[] samples;
}

uint64_t PcmBuffer::maxBufferBytes() {
    constexpr uint64_t kHardLimit = 8ull << 30;
    const uint64_t physical = physicalMemoryBytes();
    if (physical == 0) return 1ull << 30;
    return std::min(kHardLimit, physical / 2);
}

std::unique_ptr<PcmBuffer> PcmBuffer::allocate(const AudioFormat& format, uint32_t frameCapacity) {
    if (!(format.sampleRate > 0.0) || format.channelCount < 0) return nullptr;
    const uint64_t samples = static_cast<uint64_t>(frameCapacity) *
                             static_cast<uint64_t>(format.channelCount);
    if (samples * sizeof(float) > maxBufferBytes()) return nullptr;

    std::unique_ptr<PcmBuffer> buffer(new (std::nothrow) PcmBuffer());
    if (!buffer) return nullptr;
    buffer->format_ = format;
    buffer->frameCapacity_ = frameCapacity;
    // One block for all channels; zeroed so that unread frames are silence. A large block is
    // mapped zeroed by the kernel, so it is never written before it is used.
    Storage& storage = buffer->storage_;
    storage.bytes = static_cast<size_t>(std::max<uint64_t>(samples, 1) * sizeof(float));
    storage.large = storage.bytes >= kLargeAllocationBytes;
    storage.samples = storage.large ? static_cast<float*>(allocateLarge(storage.bytes))
                                    : new (std::nothrow) float[storage.bytes / sizeof(float)]();
    if (!storage.samples) return nullptr;
    buffer->channels_.resize(static_cast<size_t>(format.channelCount));
    for (int c = 0; c < format.channelCount; ++c) {
        buffer->channels_[static_cast<size_t>(c)] =
            storage.samples + static_cast<uint64_t>(c) * frameCapacity;
    }
    return buffer;
}

}  // namespace korvanta

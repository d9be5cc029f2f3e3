// A song decoded once into memory, and the decoder that serves reads from it, so that several
// readers (measurement, tempo estimate, every rendering pass) share one decoding of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/AudioDecoder.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/LargeAllocation.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

// The standard allocator, except that growing an array leaves the new samples uninitialised:
// they are decoded into at once, so zeroing them first would be wasted work. Arrays of a song's
// size come from allocateLargeUninitialized (huge pages where the system has them, reused from
// song to song).
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n >= kLargeAllocationBytes / sizeof(T) && n <= SIZE_MAX / sizeof(T)) {
            if (void* memory = allocateLargeUninitialized(n * sizeof(T))) return static_cast<T*>(memory);
            throw std::bad_alloc();
        }
        return std::allocator<T>::allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n >= kLargeAllocationBytes / sizeof(T) && n <= SIZE_MAX / sizeof(T)) {
            freeLarge(p, n * sizeof(T));
        } else {
            std::allocator<T>::deallocate(p, n);
        }
    }

    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using SampleArray = std::vector<float, UninitializedAllocator<float>>;

// Planar float samples of a whole song, full scale ±1.0. Immutable once made: shared between
// threads through std::shared_ptr<const DecodedAudio> without locking.
struct DecodedAudio {
    AudioFormat format;
    int64_t length = 0;                 // frames in every channel
    std::vector<SampleArray> channels;  // format.channelCount arrays of `length` samples
};

// Serves reads from a DecodedAudio. Reads never fail and never block; each decoder has its own
// owner (as every AudioDecoder), while any number of them may share one DecodedAudio.
class MemoryDecoder final : public AudioDecoder {
public:
    // Precondition: `audio` is not null and holds format.channelCount arrays of `length` samples.
    explicit MemoryDecoder(std::shared_ptr<const DecodedAudio> audio);

    AudioFormat format() const override;
    int64_t length() const override;
    // Copies min(frameCount, length − start) frames (none when `start` is outside the song).
    Result<uint32_t> read(int64_t start, float* const* channels, uint32_t frameCount) override;
    const float* samplesInMemory(int channel, int64_t start) const override;

private:
    std::shared_ptr<const DecodedAudio> audio_;
};

// A reader over `audio`, positioned at frame 0, reporting `path` (normally the decoded file's).
std::unique_ptr<AudioFileReader> readerOverMemory(std::shared_ptr<const DecodedAudio> audio,
                                                  std::filesystem::path path = {});

// Asked before every chunk; true stops the decoding. May be empty.
using DecodeCancelled = std::function<bool()>;

// Told after every chunk, on the decoding thread, that frames [0, `decoded`) of audio->channels
// are in place. The arrays never move while `audio` lives (also when the decoding fails later),
// so those frames may be read on another thread meanwhile, holding on to `audio`. May be empty.
using DecodedChunk = std::function<void(const std::shared_ptr<const DecodedAudio>& audio, int64_t decoded)>;

// The planar float size in bytes of `frames` frames of `format` (saturating at UINT64_MAX).
uint64_t decodedBytes(const AudioFormat& format, int64_t frames);

// Reads `reader` from its current position to its end (or until a read yields no frames) into
// memory: the samples are exactly those the reader gives. The reader is left at the end.
// Errors:
// - whatever reading gives, passed on unchanged;
// - "KorvantaApp" 100 "The process was canceled by the user" when `isCancelled` returns true;
// - "KorvantaApp" 2 "The decoded audio does not fit in the memory allowed for it" when the samples
//   would take more than `maxBytes` bytes (decodedBytes()) or cannot be allocated; nothing is
//   kept then.
// Memory: the song's planar float size, decoded straight into its arrays, nothing more (the
// arrays never grow beyond `maxBytes`).
Result<std::shared_ptr<const DecodedAudio>> decodeIntoMemory(AudioFileReader& reader,
                                                             uint64_t maxBytes,
                                                             const DecodeCancelled& isCancelled,
                                                             const DecodedChunk& onChunk = {});

// The same for the file at `path`, opened with AudioFileReader::open (whose errors are passed on)
// and read from frame 0.
Result<std::shared_ptr<const DecodedAudio>> decodeIntoMemory(const std::filesystem::path& path,
                                                             uint64_t maxBytes,
                                                             const DecodeCancelled& isCancelled);

}  // namespace korvanta

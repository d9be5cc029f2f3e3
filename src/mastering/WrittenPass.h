// What is measured of a rendering pass as its chunks are written, quantised to the file's bit
// depth exactly as reading the file back gives them: the measurement window, for the system's
// figures, and (when asked) the delivery figures of the whole rendering.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/AudioStats.h"
#include "engine/DeliveryMeasurement.h"
#include "engine/LoudnessMeter.h"
#include "mastering/FollowingMeter.h"
#include "platform/MemoryDecoder.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

// One per song, reused from pass to pass. Renderings of up to kMaxKeptBytes are kept whole as
// they are written, and a FollowingMeter measures them beside the rendering: a final pass from
// its first chunk, a trial pass (given up once its window misses the target) only once its
// window is in and it is kept, so given-up trials cost no metering. Longer renderings keep only
// their window and are metered chunk by chunk on the writer's thread.
//
// take(), keep() and stats() run on the renderer's writer thread, the rest on the caller's, never
// at the same time as a pass is being rendered.
class WrittenPass {
public:
    static constexpr uint64_t kMaxKeptBytes = 256ull << 20;

    // `maxKeptBytes`: the largest rendering kept whole (planar float bytes).
    WrittenPass(const AudioFormat& format, int64_t length, bool delivery, uint64_t maxKeptBytes = kMaxKeptBytes);
    ~WrittenPass();
    WrittenPass(const WrittenPass&) = delete;
    WrittenPass& operator=(const WrittenPass&) = delete;

    // Before every pass.
    void restart(bool trial);

    // Writer thread, chunks in order.
    void take(const PcmBuffer& chunk, int64_t firstFrame, int bits);
    // Writer thread, once the window is complete and the pass is to be kept.
    void keep();
    // Every frame of the window has been taken.
    bool complete() const;
    // The system's figures of the window, or nothing when it could not be kept whole.
    std::optional<AudioStats> stats() const;

    // After the pass: its delivery figures into `stats`, when it was metered whole.
    bool addDelivery(AudioStats& stats);

private:
    enum class Metering { none, deferred, following, onWriter };

    void meterOnWriter(const PcmBuffer& chunk, int64_t firstFrame, int bits);
    void startFollowing();

    AudioFormat format_;
    int64_t length_;
    MeasurementWindow window_;
    bool delivery_;
    Metering metering_ = Metering::none;
    int64_t kept_ = 0;  // window frames taken this pass
    int64_t written_ = 0;

    // The whole rendering, when kept (the window is a part of it); else the window alone.
    std::vector<SampleArray> song_;
    std::vector<SampleArray> windowOnly_;
    std::vector<const float*> windowChannels_;  // where the window is kept
    std::unique_ptr<FollowingMeter> follower_;

    // Metering on the writer's thread.
    DeliveryMeter meter_;
    std::vector<std::vector<float>> snapped_;  // the last chunk, quantised
    std::vector<const float*> pointers_;
};

}  // namespace korvanta

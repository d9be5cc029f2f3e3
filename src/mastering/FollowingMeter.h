// A song's delivery figures metered while the song is still being produced (decoded, or written
// by a rendering pass): the producer fills arrays that never move and says how far they are
// filled; the true peak and the loudness each follow on a thread of their own, so that by the
// time the producer is done little is left to measure.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/DeliveryMeasurement.h"
#include "engine/R128LoudnessMeter.h"
#include "engine/TruePeakMeter.h"

namespace korvanta {

class FollowingMeter {
public:
    // `channels[c]` is where channel c's samples are (and will be) for as long as the meter may
    // read them: until finish() returns or the meter is destroyed, or while `keepAlive` lives.
    // Without threads to spare, finish() meters what is left itself.
    FollowingMeter(std::vector<const float*> channels, double sampleRate,
                   std::shared_ptr<const void> keepAlive = nullptr);
    // Stops at once (what was not metered yet never will be) and waits for the threads.
    ~FollowingMeter();
    FollowingMeter(const FollowingMeter&) = delete;
    FollowingMeter& operator=(const FollowingMeter&) = delete;

    // Producer: frames [0, frames) of every channel are in place (never fewer than before).
    void publish(int64_t frames);

    // Once the producer is done: meters whatever is left, stops the threads and gives the figures
    // of every frame published. Afterwards only framesMeasured() and finish() may be called again.
    DeliveryFigures finish();
    int64_t framesMeasured() const;

private:
    // One meter and the thread that feeds it.
    struct Part {
        int64_t measured = 0;  // written by the part's thread only, read once it has stopped
        int64_t wanted = 0;    // guarded by mutex_: the frames its next piece of work needs
        std::condition_variable woken;
        std::vector<const float*> at;
        std::thread thread;
    };
    enum { kTruePeak, kLoudness, kParts };

    void run(int part);
    // Up to `frames`; `last`: the producer is done.
    void meterUpTo(int part, int64_t frames, bool last = false);
    void stop();

    std::vector<const float*> channels_;
    std::shared_ptr<const void> keepAlive_;
    TruePeakMeter peak_;
    R128LoudnessMeter loudness_;
    std::mutex mutex_;
    int64_t available_ = 0;  // guarded by mutex_
    bool closing_ = false;   // guarded by mutex_: meter what is published, then stop
    bool abandoned_ = false; // guarded by mutex_: stop now
    std::array<Part, kParts> parts_;  // last: their threads start once everything they use is there
};

}  // namespace korvanta

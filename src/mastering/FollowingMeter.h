// A song's delivery figures metered on a thread of their own while the song is still being
// produced (decoded, or written by a rendering pass): the producer fills arrays that never move
// and says how far they are filled; the meter follows, so that by the time the producer is done
// little is left to measure.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/DeliveryMeasurement.h"

namespace korvanta {

class FollowingMeter {
public:
    // `channels[c]` is where channel c's samples are (and will be) for as long as the meter may
    // read them: until finish() returns or the meter is destroyed, or while `keepAlive` lives.
    // Without a thread to spare, finish() meters everything itself.
    FollowingMeter(std::vector<const float*> channels, double sampleRate,
                   std::shared_ptr<const void> keepAlive = nullptr);
    // Stops at once (what was not metered yet never will be) and waits for the thread.
    ~FollowingMeter();
    FollowingMeter(const FollowingMeter&) = delete;
    FollowingMeter& operator=(const FollowingMeter&) = delete;

    // Producer: frames [0, frames) of every channel are in place (never fewer than before).
    void publish(int64_t frames);

    // Once the producer is done: meters whatever is left, stops the thread and gives the figures
    // of every frame published. Afterwards only framesMeasured() and finish() may be called again.
    DeliveryFigures finish();
    int64_t framesMeasured() const { return meter_.framesMeasured(); }

private:
    void run();
    void meterUpTo(int64_t frames);

    std::vector<const float*> channels_;
    std::vector<const float*> at_;  // channel pointers handed to the meter (reused)
    std::shared_ptr<const void> keepAlive_;
    DeliveryMeter meter_;
    std::mutex mutex_;
    std::condition_variable published_;
    int64_t available_ = 0;  // guarded by mutex_
    bool closing_ = false;   // guarded by mutex_: meter what is published, then stop
    bool abandoned_ = false; // guarded by mutex_: stop now
    std::thread thread_;     // last: started once everything it uses is in place
};

}  // namespace korvanta

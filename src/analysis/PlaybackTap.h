// What the vectorscope reads from the player it follows.
#pragma once

#include "eq/EQSettings.h"

namespace korvanta {

// Main thread only.
class PlaybackTap {
public:
    virtual ~PlaybackTap() = default;
    virtual bool isPlayingNow() const = 0;
    // Position / duration, 0..1.
    virtual float playbackProgress() const = 0;
    virtual const EQSettings& liveEQSettings() const = 0;
};

}  // namespace korvanta

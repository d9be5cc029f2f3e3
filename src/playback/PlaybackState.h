#pragma once

namespace korvanta {

enum class PlaybackState { stopped = 0, playing = 1, paused = 2 };

// "stopped", "playing", "paused".
inline const char* playbackStateName(PlaybackState state) {
    switch (state) {
        case PlaybackState::playing: return "playing";
        case PlaybackState::paused: return "paused";
        case PlaybackState::stopped: break;
    }
    return "stopped";
}

}  // namespace korvanta

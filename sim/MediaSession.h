#pragma once
// One open media channel of the simulated camera: what was asked for when it
// opened, and the switches its channel thread sets for its streamer thread
// (sound on or off, pause, seek, closed).
//
// Ownership: shared by the channel's thread, its streamer thread and the
// camera's list of channels. The fields above `mutex` are fixed once the
// channel is listed; `mutex` guards the ones below it, and whoever changes
// them notifies `wake`.

#include "sim/CameraConfig.h"
#include "sim/Connection.h"

#include "kznet/Wire.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace sim {

struct MediaSession {
    using Clock = std::chrono::steady_clock;

    std::shared_ptr<Connection> connection;
    kz::wire::OpenRequest open;
    bool playback = false;
    Recording recording; // the recording played back; no path when there is none of that name
    Clock::time_point opened = Clock::now();

    std::mutex mutex; // guards the fields below
    std::condition_variable wake;
    bool closed = false;
    bool audioOn = false;
    bool paused = false;
    bool seekPending = false;
    double seekTo = 0;

    // Waits until `until` or until woken by a change.
    void Sleep(Clock::time_point until)
    {
        std::unique_lock lock(mutex);
        wake.wait_until(lock, until);
    }
};

}

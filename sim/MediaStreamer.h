#pragma once
// Streams one media channel of the simulated camera: the live pattern (or
// pre-encoded frames) with the tone once sound is on, or a recording played
// back with its events, pause and seek. Both are paced by one Pacer: frames
// and sound blocks when due, a heartbeat after a second of silence.
//
// Ownership: made by the channel's thread for one channel; refers to the
// camera's state, which outlives it. Threads: Run runs on the channel's
// streamer thread and returns when the channel closes, a send fails or the
// camera stops.

#include "sim/AudioCoder.h"
#include "sim/CameraState.h"
#include "sim/MediaSession.h"
#include "sim/Pacer.h"
#include "sim/VideoEncoder.h"

#include <cstdint>
#include <memory>

namespace sim {

class MediaStreamer {
public:
    MediaStreamer(Camera::State& state, std::shared_ptr<MediaSession> session);
    void Run();

private:
    using Clock = Pacer::Clock;

    void RunLive();
    void RunPlayback();
    // Each false when the channel can no longer be written.
    bool SendVideo(const VideoSettings& v, const EncodedFrame& frame, std::uint32_t number, int bitRate, Clock::time_point now);
    bool SendAudio(ToneCoder& tone, Clock::time_point now);
    bool SendPlaybackEvent(int event, int value);
    // Sends a heartbeat if one is due, then sleeps until the pacer's next
    // due time or a change of the channel's switches.
    void Idle(Clock::time_point now, bool videoRuns, bool audioRuns);
    std::uint32_t Timestamp(Clock::time_point now) const;

    Camera::State& m_state;
    const std::shared_ptr<MediaSession> m_session;
    Pacer m_pacer;
    std::uint32_t m_sequence = 0;    // every frame and block of the channel
    std::uint32_t m_audioBlocks = 0; // sound blocks sent
};

}

#pragma once
// The simulated camera's media channels: checks a channel's account, finds
// the recording it asks for, answers the open, runs a MediaStreamer for it,
// and handles what the channel sends (media start and stop, talk, pause,
// resume, seek, talk blocks).
//
// Ownership: one per camera, owned by the Camera; refers to the camera's
// state, which outlives it. Threads: Serve runs on the channel connection's
// own worker thread, one call per channel, and starts and joins the
// channel's streamer thread.

#include "sim/CameraState.h"
#include "sim/Connection.h"
#include "sim/MediaSession.h"

#include "kznet/Wire.h"

#include <memory>

namespace sim {

class MediaServer {
public:
    explicit MediaServer(Camera::State& state) : m_state(state) { }

    // Serves a connection whose first message was `open` until it ends or
    // the camera stops.
    void Serve(const std::shared_ptr<Connection>& connection, const kz::wire::OpenRequest& open);

private:
    std::shared_ptr<MediaSession> MakeSession(const std::shared_ptr<Connection>& connection, const kz::wire::OpenRequest& open);
    void HandleControl(MediaSession& session, const kz::wire::MediaControl& control);
    void HandleTalk(MediaSession& session, bool start);

    Camera::State& m_state;
};

}

#pragma once
// Accepts the connections of the simulated camera's road and media port.
// Each connection gets a worker thread that waits for its first message: a
// login makes it a road (RoadServer), an open a media channel (MediaServer);
// anything else, or silence, closes it.
//
// Ownership: one per camera, owned by the Camera; refers to the camera's
// state and servers, which outlive it; owns the listening socket.
// Threads: accepts on the listener's thread between Start and Stop; the
// connections' workers belong to the state and are joined by the camera.

#include "sim/CameraState.h"
#include "sim/Connection.h"
#include "sim/Listener.h"
#include "sim/MediaServer.h"
#include "sim/RoadServer.h"

#include <memory>

namespace sim {

class Acceptor {
public:
    // Listens on the configured address and port and records the port in
    // the state; null when it cannot.
    static std::unique_ptr<Acceptor> Open(Camera::State& state, RoadServer& roads, MediaServer& media);

    void Start() { m_listener->Start(m_state.stopping, [this] { Accept(); }); }
    // Joins the accepting thread; the camera has already set `stopping`.
    void Stop() { m_listener->Stop(); }

private:
    Acceptor(Camera::State& state, RoadServer& roads, MediaServer& media, std::unique_ptr<Listener> listener);
    void Accept();
    void Serve(const std::shared_ptr<Connection>& connection);

    Camera::State& m_state;
    RoadServer& m_roads;
    MediaServer& m_media;
    const std::unique_ptr<Listener> m_listener;
};

}

#pragma once
// Accepts the connections of the simulated camera's road and media port.
// Each connection gets a worker thread that waits for its first message: a
// login makes it a road (RoadServer), an open a media channel (MediaServer);
// anything else, or silence, closes it.
//
// Ownership: one per camera, owned by the Camera; refers to the camera's
// state and servers, which outlive it; owns the listening socket.
// Threads: accepts on its own thread between Start and Stop; the
// connections' workers belong to the state and are joined by the camera.

#include "sim/CameraState.h"
#include "sim/Connection.h"
#include "sim/Listener.h"
#include "sim/MediaServer.h"
#include "sim/RoadServer.h"

#include <memory>
#include <thread>

namespace sim {

class Acceptor {
public:
    // Listens on the configured address and port and records the port in
    // the state; null when it cannot.
    static std::unique_ptr<Acceptor> Open(Camera::State& state, RoadServer& roads, MediaServer& media);
    ~Acceptor();
    Acceptor(const Acceptor&) = delete;
    Acceptor& operator=(const Acceptor&) = delete;

    void Start();
    // Joins the accepting thread; the camera has already set `stopping`.
    void Stop();

private:
    Acceptor(Camera::State& state, RoadServer& roads, MediaServer& media, std::unique_ptr<Listener> listener);
    void Run();
    void Serve(const std::shared_ptr<Connection>& connection);

    Camera::State& m_state;
    RoadServer& m_roads;
    MediaServer& m_media;
    const std::unique_ptr<Listener> m_listener;
    std::thread m_thread;
};

}

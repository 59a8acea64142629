#pragma once
// The standards-mode camera's WS-Discovery responder: joins the discovery
// group on the camera's own interface (loopback for a camera on 127.0.0.1,
// so nothing reaches a real network), and answers each Probe for network
// video transmitters (or for any type) with a ProbeMatch, sent to where the
// probe came from, that relates to the probe's MessageID and names the
// camera's device service as its XAddr.
//
// Written apart from the network library's discovery client.
//
// Ownership: one per standards camera (none when the group cannot be
// joined), owned by the Camera; refers to the camera's state, which
// outlives it; owns the UDP socket. Threads: answers on the socket's
// thread between Start and Stop.

#include "sim/CameraState.h"
#include "sim/Listener.h"

#include <memory>
#include <string>

namespace sim {

class DiscoveryResponder {
public:
    // Binds the discovery port (shared with other responders) and joins
    // the group on the camera's address; null when it cannot.
    static std::unique_ptr<DiscoveryResponder> Open(Camera::State& state);

    void Start() { m_socket->Start(m_state.stopping, [this] { Answer(); }); }
    // Joins the answering thread; the camera has already set `stopping`.
    void Stop() { m_socket->Stop(); }

    // The answer to one datagram: a ProbeMatches envelope, or empty when
    // it is not a Probe we match.
    std::string AnswerTo(const char* data, std::size_t n) const;

private:
    DiscoveryResponder(Camera::State& state, std::unique_ptr<Listener> socket, std::string endpoint)
        : m_state(state), m_socket(std::move(socket)), m_endpoint(std::move(endpoint)) { }
    void Answer();

    Camera::State& m_state;
    const std::unique_ptr<Listener> m_socket;
    const std::string m_endpoint; // this camera's "urn:uuid:..." (CameraEndpoint)
};

}

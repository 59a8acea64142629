#pragma once
// Answers device search probes for the simulated camera: each well-formed
// probe on its UDP port gets the camera's device record, with the probe's
// nonce, sent back to where the probe came from.
//
// Ownership: one per camera (none when the camera has no search port),
// owned by the Camera; refers to the camera's state, which outlives it;
// owns the UDP socket. Threads: answers on the socket's thread between
// Start and Stop.

#include "sim/CameraState.h"
#include "sim/Listener.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

class SearchResponder {
public:
    // Binds the configured search port and records it in the state; null
    // when it cannot.
    static std::unique_ptr<SearchResponder> Open(Camera::State& state);

    void Start() { m_socket->Start(m_state.stopping, [this] { Answer(); }); }
    // Joins the answering thread; the camera has already set `stopping`.
    void Stop() { m_socket->Stop(); }

private:
    SearchResponder(Camera::State& state, std::unique_ptr<Listener> socket) : m_state(state), m_socket(std::move(socket)) { }
    // Answers the datagram that is waiting, if it is a probe.
    void Answer();
    // The camera's device record, of the configured length.
    std::vector<std::uint8_t> Record() const;

    Camera::State& m_state;
    const std::unique_ptr<Listener> m_socket;
};

}

#pragma once
// Answers device search probes for the simulated camera: each well-formed
// probe on its UDP port gets the camera's device record, with the probe's
// nonce, sent back to where the probe came from.
//
// Ownership: one per camera (none when the camera has no search port),
// owned by the Camera; refers to the camera's state, which outlives it;
// owns the UDP socket. Threads: answers on its own thread between Start and
// Stop.

#include "sim/CameraState.h"
#include "sim/Listener.h"

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace sim {

class SearchResponder {
public:
    // Binds the configured search port and records it in the state; null
    // when it cannot.
    static std::unique_ptr<SearchResponder> Open(Camera::State& state);
    ~SearchResponder();
    SearchResponder(const SearchResponder&) = delete;
    SearchResponder& operator=(const SearchResponder&) = delete;

    void Start();
    // Joins the answering thread; the camera has already set `stopping`.
    void Stop();

private:
    SearchResponder(Camera::State& state, std::unique_ptr<Listener> socket) : m_state(state), m_socket(std::move(socket)) { }
    void Run();
    // The camera's device record, of the configured length.
    std::vector<std::uint8_t> Record() const;

    Camera::State& m_state;
    const std::unique_ptr<Listener> m_socket;
    std::thread m_thread;
};

}

#pragma once
// The simulated camera's CGI: the HTTP server on the web port (through
// cpp-httplib) and the bookkeeping every CGI command shares, whether it came
// over HTTP or as a road command: it is logged, gets no answer while CGI is
// ignored, and is held back while a CGI delay is set.
//
// Ownership: one per camera, owned by the Camera; refers to the camera's
// state, which outlives it. Threads: the HTTP server runs its own (listen
// loop and request pool); Take and Hold may be called from any thread.

#include "sim/CameraState.h"

#include <httplib.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace sim {

class CgiServer {
public:
    using Clock = std::chrono::steady_clock;

    // Binds the web port (the configured one, or one the system chooses)
    // and records it in the state; null when it cannot be bound. A camera
    // of the standards serves no CGI: its routes are the ONVIF services'.
    enum class Routes { Cgi, None };
    static std::unique_ptr<CgiServer> Open(Camera::State& state, Routes routes);
    // The HTTP server, for more routes before Start.
    httplib::Server& Http() { return m_http; }
    ~CgiServer();
    CgiServer(const CgiServer&) = delete;
    CgiServer& operator=(const CgiServer&) = delete;

    void Start();
    // Ends the HTTP server's threads; the camera has already set `stopping`.
    void Stop();

    // A CGI command's answer and when it may be sent.
    struct Reply {
        std::string text;
        Clock::time_point due;
    };
    // Logs `command` and gives its answer; nothing while CGI is ignored.
    std::optional<Reply> Take(const std::string& command, bool accountOk);
    // Waits until the reply is due; false when the camera stopped first.
    bool Hold(const Reply& reply);

private:
    explicit CgiServer(Camera::State& state) : m_state(state) { }
    void OnRequest(const httplib::Request& request, httplib::Response& response);

    Camera::State& m_state;
    httplib::Server m_http;
    std::thread m_thread;
    std::future<void> m_ended; // ready once the listen loop has returned
};

}

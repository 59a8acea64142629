#pragma once
// tiravex-serve's HTTP side: serves the pages of a folder and /tiravex.js,
// and runs the controls of every open browser page in a worker process of
// its own (host/PageWorker.h), one session a page. It forwards the page's
// member calls, input, and microphone to the worker and the worker's page
// stream (callbacks, views, pictures, sound) to the page.
//
// Safety: on a loopback address only requests whose Host names the server
// by a loopback name are taken (no DNS rebinding); on any other address
// every request needs the token printed at the start (in the query as
// ?token=..., which sets a cookie for the rest). Requests that change state,
// and the stream, are refused when the browser says they come from another
// origin. A session id is 128 random bits; a control belongs to the session
// that made it and no other session can address it. Nothing the page sends
// (member arguments, passwords) is logged.
//
// Limits: at most maxPages pages (workers) at once, each with a screen of at
// most maxScreen; a JSON body nested deeper than a few dozen levels, and a
// number a worker would turn into a coordinate, size or count that is not
// a whole number in range, are refused before anything reaches a worker.
// Requests reach the handlers whole (host/HttpGate.h), so a slow client
// holds no thread; a page's requests that wait for its worker are few at
// once; a page stream whose client stops acknowledging ends.
//
// Threads: the gate's thread reads requests; the request pool runs the
// handlers; each session has a thread that reads its worker; one thread
// ends sessions whose page went.

#include "sim/Camera.h"

#include <nlohmann/json_fwd.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace host {

class GatedServer;

struct ServeOptions {
    std::string camera; // "" or "sim[,key=value...]"
    std::string bind = "127.0.0.1";
    int port = TIRAVEX_SERVE_PORT; // 0: any free port
    std::string root; // the pages served
    std::string workerProgram; // the program run as a page worker (this one)
    // A page whose stream broke is ended after this long without a new one.
    int detachGraceMs = 3000;
    // Pages (each a worker process) at once; a new one beyond is refused.
    int maxPages = 16;
    // The largest screen a page may ask for.
    int maxScreenWidth = 4096;
    int maxScreenHeight = 4096;
};

class BridgeServer {
public:
    explicit BridgeServer(ServeOptions options);
    ~BridgeServer();
    BridgeServer(const BridgeServer&) = delete;
    BridgeServer& operator=(const BridgeServer&) = delete;

    // Starts the camera (if asked for) and binds; false with a reason.
    bool Start(std::string& error);
    int Port() const { return m_port; }
    // The token that requests need; empty on a loopback address.
    const std::string& Token() const { return m_token; }
    // The address to open in a browser (with the token when one is needed).
    std::string Url(const std::string& page) const;
    // Serves until Stop (from another thread or a signal handler's thread).
    void Run();
    // Ends every session (their workers close their controls) and the server.
    void Stop();
    int SessionCount() const;

    struct Session;

private:
    void routes();
    std::shared_ptr<Session> findSession(const std::string& id) const;
    std::shared_ptr<Session> startSession(const nlohmann::json& startRequest, std::string& error);
    // Tells the session's worker to end and waits for it (killing it past
    // the time limit); tellToEnd is false for a session already ending.
    void endSession(const std::shared_ptr<Session>& session);
    bool tellToEnd(const std::shared_ptr<Session>& session);
    void waitForEnd(const std::shared_ptr<Session>& session, std::chrono::steady_clock::time_point limit);
    void reapLoop();

    ServeOptions m_options;
    std::unique_ptr<GatedServer> m_http;
    std::shared_ptr<sim::Camera> m_camera;
    std::string m_token;
    std::string m_realRoot; // the pages' folder with every link resolved
    int m_port = 0;
    bool m_loopback = true;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopping;
    bool m_stopped = false; // guarded by m_mutex
    std::map<std::string, std::shared_ptr<Session>> m_sessions; // guarded by m_mutex
    int m_starting = 0; // sessions whose worker is starting; guarded by m_mutex
    std::map<std::uint32_t, std::string> m_controlOwners; // handle -> session id; guarded by m_mutex
    std::uint32_t m_lastControl = 0; // guarded by m_mutex
    std::thread m_reaper;
};

}

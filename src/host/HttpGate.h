#pragma once
// tiravex-serve's HTTP front. cpp-httplib parses requests and runs the
// handlers, but a connection reaches one of its request threads only with
// a whole request: a client that sends its head or body slowly (one header
// line every few seconds) waits in the gate, which holds no thread for it.
//
// - The gate's one thread watches every connection (epoll) and reads what
//   arrives until host/BridgeRequest.h's ScanHead finds the head and its
//   body all there; then a request thread runs cpp-httplib's request
//   processing on those bytes, and writes the answer to the socket itself.
// - A request not whole kRequestDeadline after its connection came (or
//   came back) is answered 408 and closed; a malformed or too large one
//   400, 411, 413 or 431. An idle kept-alive connection is closed without
//   an answer. With kMaxWaiting connections waiting (or half the descriptors
//   the process may open), or kMaxWaitingBytes of their requests read, the
//   oldest goes.
// - A kept-alive connection comes back to the gate after its answer, with
//   whatever of its next request arrived already.
//
// The handlers bound the rest: a page stream is one a page, and the
// requests of a page that wait for its worker are few at once.
//
// Threads: cpp-httplib's accepting thread hands new sockets in (through
// the task queue, which runs its task at once); the gate's thread reads;
// the pool of request threads runs requests and hands kept-alive sockets back.

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host {

class HttpGate;

class GatedServer : public httplib::Server {
public:
    explicit GatedServer(std::size_t requestThreads);
    // The socket of the request that this thread runs now (-1 on others).
    static int CurrentSocket();

private:
    friend class HttpGate;
    // cpp-httplib's accepting thread calls this for each new connection.
    bool process_and_close_socket(socket_t sock) override;
    // On a request thread: the request in `bytes`, then the socket goes
    // back to the gate (kept alive) or is closed.
    void serve(int sock, std::string bytes);

    std::size_t m_requestThreads;
    HttpGate* m_gate = nullptr; // while listening
};

class HttpGate : public httplib::TaskQueue {
public:
    static constexpr auto kRequestDeadline = std::chrono::seconds(10);
    static constexpr auto kIdleLimit = std::chrono::seconds(5);
    static constexpr std::size_t kMaxWaiting = 1024;
    static constexpr std::size_t kMaxWaitingBytes = 64u << 20;

    HttpGate(GatedServer& server, std::size_t requestThreads);
    ~HttpGate() override;

    // cpp-httplib's accepting thread: its task hands a socket in at once.
    void enqueue(std::function<void()> task) override { task(); }
    void shutdown() override;

    // A connection to wait on; `bytes`: what already arrived of its request.
    void Admit(int sock, std::string bytes, bool keptAlive);

private:
    using Clock = std::chrono::steady_clock;
    struct Admitted {
        int sock;
        std::string bytes;
        bool keptAlive;
    };
    struct Waiting {
        std::uint64_t serial = 0;
        Clock::time_point limit;
        std::string bytes;
        bool keptAlive = false;
        bool continued = false; // "100 Continue" sent
    };

    void run();
    void take(Admitted admitted);
    void look(int sock);
    void close(int sock, int status); // status 0: without an answer
    void expire();
    void closeOldest();

    GatedServer& m_server;
    httplib::ThreadPool m_pool;
    int m_epoll = -1;
    int m_wake = -1; // eventfd: new sockets or the end

    std::mutex m_mutex;
    std::vector<Admitted> m_admitted; // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex

    // the gate's thread only:
    std::map<int, Waiting> m_waiting;
    std::uint64_t m_lastSerial = 0; // arrival order
    std::size_t m_waitingBytes = 0; // of every waiting request
    std::size_t m_maxWaiting = kMaxWaiting; // and half the descriptors the process may open

    std::thread m_thread;
};

}

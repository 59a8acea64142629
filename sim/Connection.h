#pragma once
// One TCP connection of the simulated camera, framed by the wire format.
// Reads happen on one thread (the session's); Send may be called from any
// thread and writes whole messages under a lock. Shutdown wakes both sides.
//
// The network library has a socket loop of its own (kznet/Socket.cpp) that
// looks much like this one. The camera keeps its own on purpose and never
// links the library's client code: each side reads what the other wrote,
// so that a framing mistake in one cannot hide behind the same mistake in
// the other.

#include "kznet/Wire.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

class Connection {
public:
    // While `*deaf` (if given) is set, Next reads nothing: the peer's
    // writes pile up in the socket buffers until they block. `deaf` must
    // outlive the connection.
    explicit Connection(int fd, const std::atomic<bool>* deaf = nullptr) : m_fd(fd), m_deaf(deaf) { }
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Send(const std::vector<std::uint8_t>& message);
    bool Send(kz::wire::Kind kind, const std::vector<std::uint8_t>& payload) { return Send(kz::wire::Message(kind, payload)); }

    enum class Read { Message, Timeout, Closed, Malformed };
    // The next whole message, waiting up to timeoutMs; a partial message
    // stays buffered across a time-out. A deaf connection gives only what
    // it had already read, then Timeout.
    Read Next(kz::wire::Header& header, std::vector<std::uint8_t>& payload, int timeoutMs);

    void Shutdown();
    bool Open() const { return !m_shut.load(); }

private:
    int m_fd;
    const std::atomic<bool>* m_deaf;
    std::atomic<bool> m_shut { false };
    std::mutex m_writeMutex;
    std::vector<std::uint8_t> m_in; // reader thread only
};

}

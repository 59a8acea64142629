#pragma once
// A socket of the simulated camera bound to its address: a listening TCP
// socket (roads and media) or a bound UDP socket (search). Owns the
// descriptor and closes it when destroyed.
//
// Threads: made on the camera's starting thread, then used by the one thread
// that accepts or answers on it.

#include <memory>
#include <string>

namespace sim {

class Listener {
public:
    // Binds `address`:`port` (0: a port the system chooses) with `type`
    // SOCK_STREAM (and listens) or SOCK_DGRAM; null when that fails.
    static std::unique_ptr<Listener> Open(const std::string& address, int port, int type);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int Fd() const { return m_fd; }
    int Port() const { return m_port; }
    // Waits up to `timeoutMs` for a connection or a datagram to arrive.
    bool WaitReadable(int timeoutMs) const;

private:
    Listener(int fd, int port) : m_fd(fd), m_port(port) { }
    const int m_fd;
    const int m_port;
};

}

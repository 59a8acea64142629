#pragma once
// A socket of the simulated camera bound to its address: a listening TCP
// socket (roads and media) or a bound UDP socket (search), and the thread
// that waits on it. Owns the descriptor and the thread; destruction joins
// the thread (whose stop flag must be set by then) and closes the socket.
//
// Threads: made on the camera's starting thread; between Start and Stop
// its own thread calls the handler whenever something arrives.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

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

    // Calls `onReadable` on a thread of its own each time a connection or a
    // datagram is waiting, until `stopping` is set.
    void Start(const std::atomic<bool>& stopping, std::function<void()> onReadable);
    // Joins that thread; `stopping` has been set.
    void Stop();

private:
    Listener(int fd, int port) : m_fd(fd), m_port(port) { }

    const int m_fd;
    const int m_port;
    std::thread m_thread;
};

}

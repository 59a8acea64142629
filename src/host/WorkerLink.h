#pragma once
// One end of the link between tiravex-serve and a page worker: framed
// messages (host/BridgeProtocol.h) over a local stream socket.
//
// Threads: Send from any thread (one message at a time); Receive from one
// reading thread. The link owns its descriptor.

#include "host/BridgeProtocol.h"

#include <mutex>
#include <string>

namespace host::bridge {

class WorkerLink {
public:
    explicit WorkerLink(int fd) : m_fd(fd) { }
    ~WorkerLink();
    WorkerLink(const WorkerLink&) = delete;
    WorkerLink& operator=(const WorkerLink&) = delete;

    // False when the other end is gone.
    bool Send(LinkKind kind, std::uint32_t id, std::string_view payload);
    // Blocks for the next message; false at the end of the link or on a
    // malformed message.
    bool Receive(LinkKind& kind, std::uint32_t& id, std::string& payload);
    // Ends both directions: a Receive waiting on either side returns false.
    void Shutdown();

private:
    int m_fd;
    std::mutex m_sendMutex;
};

}

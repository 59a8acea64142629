#pragma once
// Test support: sockets on loopback (127.0.0.1) at ports the system
// chooses, for fake peers and plain-socket measurements. Nothing here
// reaches beyond the machine. Header-only; the caller owns and closes every
// descriptor it is given.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace testing_support {

constexpr int kLoopbackBacklog = 4;

struct LoopbackSocket {
    int fd = -1;
    int port = 0;
};

inline sockaddr_in LoopbackAddress(int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A socket of `type` bound to 127.0.0.1 on a port the system chose, and
// listening when it is SOCK_STREAM; fd -1 when that fails.
inline LoopbackSocket BindLoopback(int type = SOCK_STREAM)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    socklen_t n = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || (type == SOCK_STREAM && ::listen(fd, kLoopbackBacklog) < 0)
        || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) < 0) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    return { fd, ntohs(a.sin_port) };
}

// A loopback port on which nothing listens: bound a moment ago, closed since.
inline int UnusedLoopbackPort()
{
    LoopbackSocket s = BindLoopback();
    ::close(s.fd);
    return s.port;
}

// A TCP socket connected to 127.0.0.1:`port`; -1 when it cannot connect.
inline int ConnectLoopback(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

}

#include "kznet/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace kz::net {

namespace {

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 1000000 ? 1000000 : static_cast<int>(left);
}

}

bool ResolveIPv4(const std::string& host, std::uint16_t port, sockaddr_in& out)
{
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (host.empty())
        return false;
    if (inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1)
        return true;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return false;
    out.sin_addr = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
    freeaddrinfo(list);
    return true;
}

ConnectResult Socket::Connect(const std::string& host, int port, int timeoutMs, const std::atomic<bool>* cancel)
{
    Close();
    sockaddr_in address;
    if (port <= 0 || port > 65535 || !ResolveIPv4(host, static_cast<std::uint16_t>(port), address))
        return ConnectResult::BadAddress;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return ConnectResult::Failed;
    m_fd = fd;
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (r < 0 && errno != EINPROGRESS)
        return errno == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
    if (r < 0) {
        constexpr int kSliceMs = 50;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int n = 0;
        while (n == 0) {
            if (cancel && cancel->load())
                return ConnectResult::Failed;
            int left = remainingMs(deadline);
            if (left == 0)
                return ConnectResult::Failed;
            pollfd p { fd, POLLOUT, 0 };
            n = ::poll(&p, 1, left < kSliceMs ? left : kSliceMs);
            if (n < 0 && errno == EINTR)
                n = 0;
        }
        if (n < 0)
            return ConnectResult::Failed;
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error)
            return error == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
    }
    // Back to blocking mode; reads use poll for their deadlines.
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A peer that stops reading makes a write fail after this long instead
    // of holding the writer (often the page's thread) for ever.
    timeval sendLimit { kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000 };
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    return ConnectResult::Ok;
}

bool Socket::WriteAll(const void* data, std::size_t n)
{
    auto* p = static_cast<const std::uint8_t*>(data);
    int fd = m_fd.load();
    while (n > 0) {
        if (fd < 0)
            return false;
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

long Socket::ReadSome(void* data, std::size_t n, Clock::time_point deadline)
{
    int fd = m_fd.load();
    if (fd < 0)
        return 0;
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return 0;
        if (ready == 0)
            return -1;
        ssize_t r = ::recv(fd, data, n, 0);
        if (r < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return r < 0 ? 0 : static_cast<long>(r);
    }
}

Socket::ReadResult Socket::ReadExact(void* data, std::size_t n, Clock::time_point deadline)
{
    auto* p = static_cast<std::uint8_t*>(data);
    while (n > 0) {
        long r = ReadSome(p, n, deadline);
        if (r < 0)
            return ReadResult::TimedOut;
        if (r == 0)
            return ReadResult::Closed;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return ReadResult::Ok;
}

void Socket::Shutdown()
{
    int fd = m_fd.load();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

void Socket::Close()
{
    int fd = m_fd.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

MessageRead ReadMessage(Socket& socket, wire::Header& header, std::vector<std::uint8_t>& payload, std::uint32_t maxPayload, Clock::time_point deadline)
{
    std::uint8_t raw[wire::kHeaderBytes];
    switch (socket.ReadExact(raw, sizeof raw, deadline)) {
    case Socket::ReadResult::Ok: break;
    case Socket::ReadResult::Closed: return MessageRead::Closed;
    case Socket::ReadResult::TimedOut: return MessageRead::TimedOut;
    }
    if (wire::ParseHeader(raw, sizeof raw, header) != wire::HeaderCheck::Ok || header.length > maxPayload)
        return MessageRead::Malformed;
    payload.resize(header.length);
    if (header.length == 0)
        return MessageRead::Ok;
    switch (socket.ReadExact(payload.data(), header.length, deadline)) {
    case Socket::ReadResult::Ok: return MessageRead::Ok;
    case Socket::ReadResult::Closed: return MessageRead::Closed;
    case Socket::ReadResult::TimedOut: return MessageRead::TimedOut;
    }
    return MessageRead::Closed;
}

}

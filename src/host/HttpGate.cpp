#include "host/HttpGate.h"

#include "host/BridgeRequest.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace host {

namespace {

using namespace bridge;

constexpr int kEventsAtOnce = 64;
constexpr std::size_t kReadChunk = 16u << 10;
// A request's bytes are never more than this (ScanHead refuses beyond).
constexpr std::size_t kMaxRequestBytes = kMaxHeadBytes + kMaxBodyBytes;
// A write to a client that does not read fails after this long.
constexpr int kWriteLimitMs = 5000;

thread_local int t_currentSocket = -1;

const char* reasonOf(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    default: return "Error";
    }
}

int statusOf(HeadState state)
{
    switch (state) {
    case HeadState::Malformed: return 400;
    case HeadState::HeadTooLarge: return 431;
    case HeadState::BodyTooLarge: return 413;
    case HeadState::LengthRequired: return 411;
    case HeadState::Partial:
    case HeadState::Whole: break;
    }
    return 0;
}

// Sends all of `data`, waiting at most kWriteLimitMs each time the client's
// window is full; false when it did not take it.
bool sendAll(int sock, const char* data, std::size_t size)
{
    while (size) {
        ssize_t n = ::send(sock, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p { sock, POLLOUT, 0 };
            if (::poll(&p, 1, kWriteLimitMs) > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                continue;
        }
        return false;
    }
    return true;
}

bool addressOf(int sock, bool peer, std::string& ip, int& port)
{
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    const int got = peer ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) : ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (got != 0 || ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return false;
    ip = host;
    port = std::atoi(service);
    return true;
}

// One whole request, read by the gate, for cpp-httplib's request
// processing; its answer goes straight to the socket.
class GateStream final : public httplib::Stream {
public:
    GateStream(int sock, std::string bytes) : m_sock(sock), m_bytes(std::move(bytes)) { }

    bool is_readable() const override { return m_at < m_bytes.size(); }
    bool is_writable() const override
    {
        pollfd p { m_sock, POLLOUT, 0 };
        return ::poll(&p, 1, kWriteLimitMs) > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL));
    }
    ssize_t read(char* ptr, size_t size) override
    {
        const std::size_t n = std::min(size, m_bytes.size() - m_at);
        std::memcpy(ptr, m_bytes.data() + m_at, n);
        m_at += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override { return sendAll(m_sock, ptr, size) ? static_cast<ssize_t>(size) : -1; }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(m_sock, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(m_sock, false, ip, port); }
    // cpp-httplib never waits on this socket itself (the request is read
    // whole), so its select() limit on descriptor numbers does not apply.
    socket_t socket() const override { return INVALID_SOCKET; }

    // What arrived after this request: the start of the next.
    std::string Rest() const { return m_bytes.substr(m_at); }

private:
    int m_sock;
    std::string m_bytes;
    std::size_t m_at = 0;
};

}

// ---- GatedServer ----

GatedServer::GatedServer(std::size_t requestThreads) : m_requestThreads(requestThreads)
{
    new_task_queue = [this] { return new HttpGate(*this, m_requestThreads); };
}

int GatedServer::CurrentSocket() { return t_currentSocket; }

bool GatedServer::process_and_close_socket(socket_t sock)
{
    m_gate->Admit(sock, {}, false);
    return true;
}

void GatedServer::serve(int sock, std::string bytes)
{
    GateStream stream(sock, std::move(bytes));
    bool closed = false;
    t_currentSocket = sock;
    const bool answered = process_request(stream, false, closed, {});
    t_currentSocket = -1;
    if (answered && !closed) {
        m_gate->Admit(sock, stream.Rest(), true);
        return;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

// ---- HttpGate ----

HttpGate::HttpGate(GatedServer& server, std::size_t requestThreads) : m_server(server), m_pool(requestThreads)
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event wake {};
    wake.events = EPOLLIN;
    wake.data.fd = m_wake;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wake);
    if (rlimit files {}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        m_maxWaiting = std::min<std::size_t>(kMaxWaiting, static_cast<std::size_t>(files.rlim_cur / 2));
    m_server.m_gate = this;
    m_thread = std::thread([this] { run(); });
}

HttpGate::~HttpGate()
{
    shutdown();
    m_server.m_gate = nullptr;
    ::close(m_epoll);
    ::close(m_wake);
}

void HttpGate::shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    const std::uint64_t one = 1;
    if (::write(m_wake, &one, sizeof one) < 0) { }
    m_thread.join();
    // Requests running now finish (the server ended its pages first);
    // connections they hand back are closed.
    m_pool.shutdown();
    std::lock_guard lock(m_mutex);
    for (auto& a : m_admitted)
        ::close(a.sock);
    m_admitted.clear();
}

void HttpGate::Admit(int sock, std::string bytes, bool keptAlive)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopping) {
            m_admitted.push_back(Admitted { sock, std::move(bytes), keptAlive });
            const std::uint64_t one = 1;
            if (::write(m_wake, &one, sizeof one) < 0) { }
            return;
        }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

void HttpGate::run()
{
    epoll_event events[kEventsAtOnce];
    for (;;) {
        int waitMs = -1;
        if (!m_waiting.empty()) {
            auto soonest = std::min_element(m_waiting.begin(), m_waiting.end(), [](const auto& a, const auto& b) { return a.second.limit < b.second.limit; })->second.limit;
            waitMs = static_cast<int>(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(soonest - Clock::now()).count() + 1));
        }
        const int n = ::epoll_wait(m_epoll, events, kEventsAtOnce, waitMs);
        for (int i = 0; i < n; ++i) {
            const int sock = events[i].data.fd;
            if (sock != m_wake) {
                look(sock);
                continue;
            }
            std::uint64_t count = 0;
            if (::read(m_wake, &count, sizeof count) < 0) { }
            std::vector<Admitted> admitted;
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping) {
                    for (auto& [s, w] : m_waiting)
                        ::close(s);
                    m_waiting.clear();
                    return;
                }
                admitted.swap(m_admitted);
            }
            for (auto& a : admitted)
                take(std::move(a));
        }
        expire();
    }
}

void HttpGate::take(Admitted admitted)
{
    if (m_waiting.size() >= m_maxWaiting)
        closeOldest();
    const int sock = admitted.sock;
    ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
    Waiting& w = m_waiting[sock];
    w.serial = ++m_lastSerial;
    w.limit = Clock::now() + (admitted.keptAlive && admitted.bytes.empty() ? std::chrono::duration_cast<Clock::duration>(kIdleLimit) : kRequestDeadline);
    w.bytes = std::move(admitted.bytes);
    m_waitingBytes += w.bytes.size();
    w.keptAlive = admitted.keptAlive;
    epoll_event e {};
    e.events = EPOLLIN | EPOLLRDHUP;
    e.data.fd = sock;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, sock, &e);
    look(sock);
}

void HttpGate::look(int sock)
{
    auto it = m_waiting.find(sock);
    if (it == m_waiting.end())
        return;
    Waiting& w = it->second;
    bool ended = false;
    char chunk[kReadChunk];
    while (w.bytes.size() < kMaxRequestBytes) {
        const ssize_t n = ::recv(sock, chunk, std::min(sizeof chunk, kMaxRequestBytes - w.bytes.size()), MSG_DONTWAIT);
        if (n > 0) {
            w.bytes.append(chunk, static_cast<std::size_t>(n));
            m_waitingBytes += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    const Head head = ScanHead(w.bytes);
    if (head.state == HeadState::Whole) {
        // Anything after the request stays with it (cpp-httplib hands it back as the next one's start).
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, sock, nullptr);
        std::string bytes = std::move(w.bytes);
        m_waitingBytes -= bytes.size();
        m_waiting.erase(it);
        m_pool.enqueue([this, sock, bytes = std::move(bytes)]() mutable { m_server.serve(sock, std::move(bytes)); });
        return;
    }
    if (const int status = statusOf(head.state)) {
        close(sock, status);
        return;
    }
    if (ended) {
        close(sock, 0);
        return;
    }
    if (w.keptAlive && !w.bytes.empty()) {
        w.keptAlive = false; // a request began: it has the whole deadline
        w.limit = Clock::now() + kRequestDeadline;
    }
    if (head.headBytes > 0 && head.expectsContinue && !w.continued) {
        static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        w.continued = true;
        if (!sendAll(sock, kContinue, sizeof kContinue - 1)) {
            close(sock, 0);
            return;
        }
    }
    while (m_waitingBytes > kMaxWaitingBytes && !m_waiting.empty())
        closeOldest();
}

void HttpGate::closeOldest()
{
    auto oldest = std::min_element(m_waiting.begin(), m_waiting.end(), [](const auto& a, const auto& b) { return a.second.serial < b.second.serial; });
    if (oldest != m_waiting.end())
        close(oldest->first, 0);
}

void HttpGate::close(int sock, int status)
{
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, sock, nullptr);
    if (status) {
        const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reasonOf(status) + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        if (::send(sock, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) { }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    if (auto it = m_waiting.find(sock); it != m_waiting.end()) {
        m_waitingBytes -= it->second.bytes.size();
        m_waiting.erase(it);
    }
}

void HttpGate::expire()
{
    const auto now = Clock::now();
    std::vector<std::pair<int, int>> late;
    for (const auto& [sock, w] : m_waiting)
        if (now >= w.limit)
            late.emplace_back(sock, w.keptAlive && w.bytes.empty() ? 0 : 408);
    for (auto [sock, status] : late)
        close(sock, status);
}

}

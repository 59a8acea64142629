#include "sim/Connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

using namespace kz::wire;

namespace {
// How often a deaf connection looks whether it may read again (milliseconds).
constexpr int kDeafSliceMs = 20;
}

Connection::~Connection()
{
    ::close(m_fd);
}

bool Connection::Send(const std::vector<std::uint8_t>& message)
{
    std::lock_guard lock(m_writeMutex);
    const std::uint8_t* p = message.data();
    std::size_t n = message.size();
    while (n > 0) {
        if (m_shut.load())
            return false;
        ssize_t w = ::send(m_fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

Connection::Read Connection::Next(Header& header, std::vector<std::uint8_t>& payload, int timeoutMs)
{
    for (;;) {
        if (m_in.size() >= kHeaderBytes) {
            if (ParseHeader(m_in.data(), kHeaderBytes, header) != HeaderCheck::Ok)
                return Read::Malformed;
            if (m_in.size() >= kHeaderBytes + header.length) {
                payload.assign(m_in.begin() + kHeaderBytes, m_in.begin() + kHeaderBytes + header.length);
                m_in.erase(m_in.begin(), m_in.begin() + kHeaderBytes + header.length);
                return Read::Message;
            }
        }
        if (m_shut.load())
            return Read::Closed;
        if (m_deaf && m_deaf->load()) {
            // Not reading: wait out the time-out in short slices, so that a
            // shutdown or the end of the deafness is seen soon.
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            while (m_deaf->load() && !m_shut.load() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, kDeafSliceMs)));
            if (m_deaf->load() || m_shut.load())
                return m_shut.load() ? Read::Closed : Read::Timeout;
            continue;
        }
        pollfd p { m_fd, POLLIN, 0 };
        int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Read::Closed;
        if (ready == 0)
            return Read::Timeout;
        if (m_deaf && m_deaf->load())
            continue; // went deaf while waiting: leave the bytes where they are
        std::uint8_t buffer[64 * 1024];
        ssize_t r = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return Read::Closed;
        m_in.insert(m_in.end(), buffer, buffer + r);
    }
}

void Connection::Shutdown()
{
    m_shut = true;
    ::shutdown(m_fd, SHUT_RDWR);
}

}

#include "sim/Listener.h"

#include "sim/Timing.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr int kListenBacklog = 16;
}

std::unique_ptr<Listener> Listener::Open(const std::string& address, int port, int type)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0
        || (type == SOCK_STREAM && ::listen(fd, kListenBacklog) < 0)) {
        ::close(fd);
        return nullptr;
    }
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return std::unique_ptr<Listener>(new Listener(fd, ntohs(a.sin_port)));
}

Listener::~Listener()
{
    Stop();
    ::close(m_fd);
}

void Listener::Start(const std::atomic<bool>& stopping, std::function<void()> onReadable)
{
    m_thread = std::thread([this, &stopping, onReadable = std::move(onReadable)] {
        while (!stopping.load()) {
            pollfd p { m_fd, POLLIN, 0 };
            if (::poll(&p, 1, kPollSliceMs) > 0)
                onReadable();
        }
    });
}

void Listener::Stop()
{
    if (m_thread.joinable())
        m_thread.join();
}

}

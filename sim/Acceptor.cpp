#include "sim/Acceptor.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace sim {

using namespace kz::wire;

namespace {
// A new connection that says nothing for this long is closed (milliseconds).
constexpr int kFirstMessageMs = 5000;
}

std::unique_ptr<Acceptor> Acceptor::Open(Camera::State& state, RoadServer& roads, MediaServer& media)
{
    auto listener = Listener::Open(state.config.address, state.config.port, SOCK_STREAM);
    if (!listener)
        return nullptr;
    state.port = listener->Port();
    return std::unique_ptr<Acceptor>(new Acceptor(state, roads, media, std::move(listener)));
}

Acceptor::Acceptor(Camera::State& state, RoadServer& roads, MediaServer& media, std::unique_ptr<Listener> listener)
    : m_state(state), m_roads(roads), m_media(media), m_listener(std::move(listener))
{
}

void Acceptor::Accept()
{
    m_state.Reap(); // the workers of connections that have ended
    int fd = ::accept4(m_listener->Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto connection = std::make_shared<Connection>(fd, &m_state.deaf);
    {
        std::lock_guard lock(m_state.mutex);
        m_state.connections.push_back(connection);
    }
    m_state.Spawn([this, connection] { Serve(connection); });
}

void Acceptor::Serve(const std::shared_ptr<Connection>& connection)
{
    Header header;
    std::vector<std::uint8_t> payload;
    if (connection->Next(header, payload, kFirstMessageMs) == Connection::Read::Message) {
        LoginRequest login;
        OpenRequest open;
        if (header.kind == Kind::Login && ParseLogin(payload.data(), payload.size(), login))
            m_roads.Serve(connection, login);
        else if (header.kind == Kind::Open && ParseOpen(payload.data(), payload.size(), open))
            m_media.Serve(connection, open);
    }
    connection->Shutdown();
    std::lock_guard lock(m_state.mutex);
    m_state.connections.remove(connection);
    m_state.Notify();
}

}

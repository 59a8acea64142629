// The connection a road and a media channel share the handling of: kept
// messages before the connection is up, writes under one lock, a prompt
// close.

#include "kznet/Library.h"

namespace kz {

bool Link::Start(const char* name, std::function<void()> run)
{
    m_thread = sys::Thread::Start(name, std::move(run));
    return m_thread != nullptr;
}

bool Link::Send(wire::Kind kind, const std::vector<std::uint8_t>& payload)
{
    auto message = wire::Message(kind, payload);
    std::lock_guard lock(m_sendMutex);
    if (m_closing.load())
        return false;
    if (!m_connected) {
        if (m_pending.size() >= kMaxPendingCommands)
            return false;
        m_pending.push_back(std::move(message));
        return true;
    }
    return m_socket.WriteAll(message.data(), message.size());
}

void Link::Begin(const std::vector<std::uint8_t>& first)
{
    std::lock_guard lock(m_sendMutex);
    bool ok = m_socket.WriteAll(first.data(), first.size());
    for (auto& message : m_pending)
        ok = ok && m_socket.WriteAll(message.data(), message.size());
    m_pending.clear();
    m_connected = ok;
}

void Link::End()
{
    {
        std::lock_guard lock(m_sendMutex);
        m_connected = false;
    }
    m_socket.Shutdown();
}

void Link::Close()
{
    // The flag and the shutdown come first: they release a writer blocked
    // on a peer that does not read, which may hold the send lock.
    m_closing = true;
    m_socket.Shutdown();
    m_gate.Close();
    {
        std::lock_guard lock(m_sendMutex);
        m_connected = false;
    }
    m_socket.Shutdown(); // again, in case the worker connected meanwhile
    StopWorker(m_thread);
}

}

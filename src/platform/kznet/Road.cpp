// The control road: connects to the camera, logs in, delivers the camera's
// control messages to the caller's callback on the road's own thread, and
// carries the caller's commands.

#include "kznet/Library.h"

#include <cstring>

namespace kz {

Road::Road(int mode, const LoginInfo& login, KzCtrlCallback callback, void* user, unsigned char secure)
    : m_mode(mode), m_login(login), m_callback(callback), m_user(user), m_secure(secure)
{
}

bool Road::Start()
{
    auto self = shared_from_this();
    m_thread = sys::Thread::Start("kz_road", [self] { self->Run(); });
    return m_thread != nullptr;
}

void Road::Deliver(int type, const std::uint8_t* data, std::size_t n)
{
    if (!m_callback)
        return;
    m_gate.Deliver([&] { m_callback(type, reinterpret_cast<const char*>(data), m_user, static_cast<int>(n)); });
}

void Road::DeliverLoginFailure(std::int32_t status)
{
    // The control sees a failed login as a login reply with a non-zero
    // status, exactly as when the camera refuses the account.
    auto reply = wire::MakeLoginReply(kLoginReplyBytes, status, "", "", 0);
    Deliver(kMsgLoginReply, reply.data(), reply.size());
}

bool Road::SendLocked(wire::Kind kind, const std::vector<std::uint8_t>& payload)
{
    auto message = wire::Message(kind, payload);
    return m_socket.WriteAll(message.data(), message.size());
}

int Road::Post(int command, std::intptr_t a, std::intptr_t b)
{
    wire::CommandRequest request;
    request.command = command;
    if (CommandHasTextA(command)) {
        auto* text = reinterpret_cast<const char*>(a);
        request.text = text ? std::string(text, strnlen(text, wire::kMaxCommandText)) : std::string();
    } else {
        request.a = static_cast<std::int32_t>(a);
    }
    if (CommandHasTextB(command)) {
        auto* text = reinterpret_cast<const char*>(b);
        request.text = text ? std::string(text, strnlen(text, wire::kMaxCommandText)) : std::string();
    } else {
        request.b = static_cast<std::int32_t>(b);
    }
    auto payload = wire::PutCommand(request);

    std::lock_guard lock(m_sendMutex);
    if (m_closing.load())
        return -1;
    if (!m_connected) {
        if (m_pending.size() >= kMaxPendingCommands)
            return -1;
        m_pending.push_back(std::move(payload));
        return 0;
    }
    return SendLocked(wire::Kind::Command, payload) ? 0 : -1;
}

void Road::Run()
{
    std::string host(m_login.ip, strnlen(m_login.ip, sizeof m_login.ip));
    if (m_socket.Connect(host, m_login.port, kConnectTimeoutMs, &m_closing) != net::ConnectResult::Ok) {
        DeliverLoginFailure(kLoginUnreachable);
        m_socket.Close();
        return;
    }

    wire::LoginRequest login;
    login.mode = m_mode;
    login.groupID = m_login.groupID;
    login.streamType = m_login.streamType;
    login.secure = m_secure;
    login.user.assign(m_login.username, strnlen(m_login.username, sizeof m_login.username));
    login.password.assign(m_login.passwd, strnlen(m_login.passwd, sizeof m_login.passwd));
    {
        std::lock_guard lock(m_sendMutex);
        bool ok = SendLocked(wire::Kind::Login, wire::PutLogin(login));
        for (auto& command : m_pending)
            ok = ok && SendLocked(wire::Kind::Command, command);
        m_pending.clear();
        m_connected = ok;
    }

    bool replied = false;
    auto deadline = net::Clock::now() + std::chrono::milliseconds(kLoginReplyTimeoutMs);
    wire::Header header;
    std::vector<std::uint8_t> payload;
    payload.reserve(wire::kMaxControlPayload + 1);
    while (!m_closing.load()) {
        auto r = net::ReadMessage(m_socket, header, payload, wire::kMaxControlPayload, deadline);
        if (r != net::MessageRead::Ok) {
            // Before the login reply any end is a failed login; after it the
            // road ends quietly (the media channels report their own loss).
            if (!replied)
                DeliverLoginFailure(r == net::MessageRead::TimedOut ? kLoginNoAnswer : kLoginUnreachable);
            break;
        }
        if (replied)
            deadline = net::Clock::now() + std::chrono::milliseconds(LinkTimeoutMs());
        if (header.kind != wire::Kind::Control || payload.size() < wire::kControlTypeBytes)
            continue; // heartbeats, and anything a road does not carry
        int type = wire::ri32(payload.data());
        std::size_t n = payload.size() - wire::kControlTypeBytes;
        payload.push_back(0); // a zero after the data, for callers that read texts
        Deliver(type, payload.data() + wire::kControlTypeBytes, n);
        if (type == kMsgLoginReply && !replied) {
            replied = true;
            deadline = net::Clock::now() + std::chrono::milliseconds(LinkTimeoutMs());
        }
    }
    {
        std::lock_guard lock(m_sendMutex);
        m_connected = false;
    }
    m_socket.Shutdown();
}

void Road::Close()
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

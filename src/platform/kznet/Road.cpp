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
    return m_link.Start("kz_road", [self] { self->Run(); });
}

void Road::Deliver(int type, const std::uint8_t* data, std::size_t n)
{
    if (!m_callback)
        return;
    m_link.Deliver([&] { m_callback(type, reinterpret_cast<const char*>(data), m_user, static_cast<int>(n)); });
}

void Road::DeliverLoginFailure(std::int32_t status)
{
    // The control sees a failed login as a login reply with a non-zero
    // status, exactly as when the camera refuses the account.
    auto reply = wire::MakeLoginReply(kLoginReplyBytes, status, "", "", 0);
    Deliver(kMsgLoginReply, reply.data(), reply.size());
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
    return m_link.Send(wire::Kind::Command, wire::PutCommand(request)) ? 0 : -1;
}

void Road::Run()
{
    std::string host(m_login.ip, strnlen(m_login.ip, sizeof m_login.ip));
    if (m_link.Connect(host, m_login.port) != net::ConnectResult::Ok) {
        DeliverLoginFailure(kLoginUnreachable);
        m_link.Socket().Close();
        return;
    }

    wire::LoginRequest login;
    login.mode = m_mode;
    login.groupID = m_login.groupID;
    login.streamType = m_login.streamType;
    login.secure = m_secure;
    login.user.assign(m_login.username, strnlen(m_login.username, sizeof m_login.username));
    login.password.assign(m_login.passwd, strnlen(m_login.passwd, sizeof m_login.passwd));
    m_link.Begin(wire::Message(wire::Kind::Login, wire::PutLogin(login)));

    bool replied = false;
    auto deadline = net::Clock::now() + std::chrono::milliseconds(kLoginReplyTimeoutMs);
    wire::Header header;
    std::vector<std::uint8_t> payload;
    payload.reserve(wire::kMaxControlPayload + 1);
    while (!m_link.Closing()) {
        auto r = net::ReadMessage(m_link.Socket(), header, payload, wire::kMaxControlPayload, deadline);
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
    m_link.End();
}

void Road::Close()
{
    m_link.Close();
}

}

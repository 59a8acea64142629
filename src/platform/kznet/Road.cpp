// The control road: connects to the camera, logs in, delivers the camera's
// control messages to the caller's callback on the road's own thread, and
// carries the caller's commands.

#include "kznet/Discovery.h"
#include "kznet/Library.h"
#include "kznet/Onvif.h"
#include "kznet/OnvifEvents.h"

#include <cstring>

namespace kz {

namespace {

constexpr const char* kStandardsCodecText = "H264";

std::string text(const char* field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}

void put32(std::vector<std::uint8_t>& r, std::size_t at, std::int32_t v)
{
    for (int i = 0; i < 4; ++i)
        r[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}

// The login reply our camera would send, from the ONVIF answers: the
// device's name (maker and model), its serial number as the identifier, the
// first profile's picture in the stream values, and the web port.
std::vector<std::uint8_t> standardsLoginReply(const onvif::Session& session)
{
    const onvif::DeviceInformation& device = session.Device();
    std::string name = device.manufacturer.empty() ? device.model : device.manufacturer + " " + device.model;
    auto r = wire::MakeLoginReply(kLoginReplyBytes, kLoginOk, device.serial, name, kDeviceKind100);
    r[kReplyFlagAt] = 1;
    r[kReplyBytesAt] = 1; // one channel
    r[kReplyBytesAt + 1] = session.HasPtz() ? 1 : 0; // pan/tilt
    const onvif::Profile& first = session.Profiles().front();
    const std::int32_t values[] = { first.width, first.height, first.frameRate };
    for (std::size_t k = 0; k < std::size(values); ++k)
        put32(r, kReplyValuesAt + sizeof(std::int32_t) * k, values[k]);
    put32(r, kReplyWebPortAt, session.WebPort());
    return r;
}

}

Road::Road(int mode, const LoginInfo& login, KzCtrlCallback callback, void* user, unsigned char secure)
    : m_mode(mode)
    , m_login(login)
    , m_callback(callback)
    , m_user(user)
    , m_secure(secure)
    , m_session(std::make_shared<onvif::Session>(text(login.ip, sizeof login.ip), login.webport, text(login.username, sizeof login.username),
          text(login.passwd, sizeof login.passwd)))
{
}

bool Road::Start()
{
    auto self = shared_from_this();
    if (m_login.webport != 0) {
        m_probeThread = sys::Thread::Start("kz_probe", [self] { self->Probe(); });
        if (!m_probeThread)
            return false;
    } else {
        m_probeDone = true;
    }
    return m_link.Start("kz_road", [self] { self->Run(); });
}

void Road::Probe()
{
    auto deadline = net::Clock::now() + std::chrono::milliseconds(kStandardsProbeTimeoutMs);
    bool standards = m_session->Probe(deadline, &m_stopping);
    std::lock_guard lock(m_dialectMutex);
    m_probeDone = true;
    if (standards && m_dialect == Dialect::Unknown) {
        m_dialect = Dialect::Standards;
        m_link.Socket().Shutdown(); // our login waits no longer
    } else if (!standards && m_dialect == Dialect::Unknown) {
        m_dialect = Dialect::NotStandards;
    }
    m_dialectChanged.notify_all();
}

bool Road::ClaimOurs()
{
    std::lock_guard lock(m_dialectMutex);
    if (m_dialect == Dialect::Standards)
        return false;
    m_dialect = Dialect::Ours;
    return true;
}

bool Road::WaitForStandards()
{
    std::unique_lock lock(m_dialectMutex);
    m_dialectChanged.wait(lock, [this] { return m_probeDone || m_stopping.load(); });
    return m_dialect == Dialect::Standards && !m_stopping.load();
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
    if (m_stopping.load())
        return -1;
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
    {
        std::lock_guard lock(m_dialectMutex);
        if (m_dialect == Dialect::Standards) {
            if (m_commands.size() >= kMaxPendingCommands)
                return -1;
            m_commands.push_back(std::move(request));
            m_dialectChanged.notify_all();
            return 0;
        }
    }
    return m_link.Send(wire::Kind::Command, wire::PutCommand(request)) ? 0 : -1;
}

void Road::Run()
{
    std::string host(m_login.ip, strnlen(m_login.ip, sizeof m_login.ip));
    if (m_link.Socket().Connect(host, m_login.port, kConnectTimeoutMs, &m_stopping) != net::ConnectResult::Ok) {
        // Closed only once the probe has decided: until then it may shut
        // this socket down.
        bool standards = WaitForStandards();
        m_link.Socket().Close();
        if (standards)
            RunStandards();
        else
            DeliverLoginFailure(kLoginUnreachable);
        return;
    }
    {
        std::unique_lock lock(m_dialectMutex);
        if (m_dialect == Dialect::Standards) {
            lock.unlock();
            m_link.Socket().Close();
            RunStandards();
            return;
        }
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
            // Before the login reply any end is a failed login, unless an
            // ONVIF device service answers; after it the road ends quietly
            // (the media channels report their own loss).
            if (!replied) {
                if (WaitForStandards()) {
                    m_link.End();
                    RunStandards();
                    return;
                }
                DeliverLoginFailure(r == net::MessageRead::TimedOut ? kLoginNoAnswer : kLoginUnreachable);
            }
            break;
        }
        if (!replied && !ClaimOurs())
            continue; // the standards have won: the shut-down socket ends this loop
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

void Road::RunStandards()
{
    auto deadline = net::Clock::now() + std::chrono::milliseconds(kStandardsLoginTimeoutMs);
    std::int32_t status = m_session->LogIn(m_login.port, deadline, &m_stopping);
    if (m_stopping.load())
        return;
    if (status != kLoginOk) {
        DeliverLoginFailure(status);
        return;
    }
    onvif::Register(m_session);
    // A search lists this camera under the identifier this login reports.
    onvif::RememberIdentifier(m_session->Endpoint(), m_session->Host(), m_session->WebPort(), m_session->Device().serial.substr(0, kReplyDeviceIdBytes));
    // A snapshot the relay fetched (road or HTTP CGI) arrives as our camera's picture message.
    std::weak_ptr<Road> weak = weak_from_this();
    m_session->SetPictureSink([weak](const std::string& jpeg) {
        if (auto road = weak.lock())
            road->Deliver(kMsgSnapshot, reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size());
    });
    auto reply = standardsLoginReply(*m_session);
    Deliver(kMsgLoginReply, reply.data(), reply.size());
    // What our camera sends right after a login: its family, then its
    // device record, whose stream mode says the sound arrives as PCM.
    std::vector<std::uint8_t> kind(static_cast<std::size_t>(FindControlLength(kMsgDeviceKind)->plain), 0);
    put32(kind, kDeviceKindCodeAt, kKindCode100);
    Deliver(kMsgDeviceKind, kind.data(), kind.size());
    std::vector<std::uint8_t> record(kDeviceRecordBytes, 0);
    record[kStreamModeAt] = kStreamModeRawAudio;
    Deliver(kMsgDeviceRecord, record.data(), record.size());
    // The camera's alarms, as our camera reports them, for as long as the road lives.
    auto events = onvif::EventWatch::Start(m_session, [weak](int type, const std::uint8_t* data, std::size_t n) {
        if (auto road = weak.lock())
            road->Deliver(type, data, n);
    });

    std::unique_lock lock(m_dialectMutex);
    while (!m_stopping.load()) {
        m_dialectChanged.wait(lock, [this] { return m_stopping.load() || !m_commands.empty(); });
        while (!m_commands.empty() && !m_stopping.load()) {
            wire::CommandRequest command = std::move(m_commands.front());
            m_commands.pop_front();
            lock.unlock();
            HandleStandardCommand(command);
            lock.lock();
        }
    }
    lock.unlock();
    m_session->SetPictureSink(nullptr);
    onvif::Unregister(m_session.get());
}

void Road::HandleStandardCommand(const wire::CommandRequest& command)
{
    switch (command.command) {
    case kCmdVideo:
        m_session->videoOn = command.b == kCmdStart;
        break;
    case kCmdAudio:
        m_session->audioOn = command.b == kCmdStart;
        break;
    case kCmdLiveCfg: {
        const onvif::Profile& first = m_session->Profiles().front();
        std::vector<std::uint8_t> config(static_cast<std::size_t>(FindControlLength(kMsgLiveCfg)->plain), 0);
        put32(config, kLiveCfgWidthAt, first.width);
        put32(config, kLiveCfgHeightAt, first.height);
        put32(config, kLiveCfgFpsAt, first.frameRate);
        std::memcpy(&config[kLiveCfgTextAt], kStandardsCodecText, std::strlen(kStandardsCodecText));
        Deliver(kMsgLiveCfg, config.data(), config.size());
        break;
    }
    case kCmdPtz:
        onvif::MovePtz(*m_session, command.b, &m_stopping);
        break;
    case kCmdTalk: {
        // As our camera answers: talk started or stopped. The voice itself
        // goes to the live channel, which opens the back channel.
        std::vector<std::uint8_t> reply(sizeof(std::int32_t), 0);
        put32(reply, 0, command.b == kCmdStart ? kTalkStarted : kTalkStopped);
        Deliver(kMsgTalkReply, reply.data(), reply.size());
        break;
    }
    case kCmdCgi:
        AnswerCgi(command.text);
        break;
    default:
        break; // what a standard camera has no counterpart for
    }
}


void Road::AnswerCgi(const std::string& text)
{
    onvif::CgiAnswer answer = onvif::RelayCgi(*m_session, onvif::CgiCommandName(text), text, true, &m_stopping);
    Deliver(answer.type, reinterpret_cast<const std::uint8_t*>(answer.text.c_str()), answer.text.size());
}

void Road::Close()
{
    {
        std::lock_guard lock(m_dialectMutex);
        m_stopping = true;
        m_dialectChanged.notify_all();
    }
    m_link.Close();
    StopWorker(m_probeThread);
    m_session->SetPictureSink(nullptr);
    onvif::Unregister(m_session.get());
}

}

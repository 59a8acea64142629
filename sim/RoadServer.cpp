#include "sim/RoadServer.h"

#include "sim/Fields.h"
#include "sim/Timing.h"

#include <cstring>

namespace sim {

using namespace kz;
using namespace kz::wire;

namespace {

// Values the camera puts in its login reply.
constexpr std::int32_t kDefaultBitRateKbps = 1024;
constexpr std::int32_t kEntryRightAdmin = 2;
constexpr std::uint8_t kReplyChannels = 1;

std::vector<std::uint8_t> controlMessage(int type, const std::vector<std::uint8_t>& data)
{
    return Message(Kind::Control, PutControl(type, data.data(), data.size()));
}

// The control message that carries the answer to a CGI command.
int cgiAnswerType(const std::string& command)
{
    if (command == cgi::kGetDevInfo)
        return kMsgDevInfo;
    if (command == cgi::kGetProductAllInfo)
        return kMsgProductInfo;
    if (command == cgi::kGetPortInfo)
        return kMsgPortInfo;
    return kMsgCgiReply;
}

}

std::vector<std::uint8_t> RoadServer::LoginReply(std::int32_t status, const std::string& user) const
{
    const CameraConfig& config = m_state.config;
    std::size_t bytes = config.replyFormat ? kLoginReplyBytesPadded : kLoginReplyBytes;
    auto r = MakeLoginReply(bytes, status, config.deviceId, "", config.deviceKind);
    if (status != kLoginOk)
        return r;
    VideoSettings live;
    {
        std::lock_guard lock(m_state.mutex);
        live = m_state.live;
    }
    r[kReplyFlagAt] = 1; // a second live-view flag
    r[kReplyBytesAt] = kReplyChannels;
    r[kReplyBytesAt + 1] = static_cast<std::uint8_t>(config.ptFlag);
    r[kReplyBytesAt + 2] = static_cast<std::uint8_t>(config.rs485Flag);
    r[kReplyBytesAt + 3] = static_cast<std::uint8_t>(config.audio);
    for (std::size_t k = 0; k < kReplyChannelTextCount; ++k)
        PutText(r, kReplyChannelTextsAt + kTextField * k, "channel" + std::to_string(k + 1), kTextField);
    PutText(r, kReplyUserTextAt, user, kTextField);
    r[kReplyByte553At] = 1;
    for (std::size_t k = 0; k < kReplyInputTextCount; ++k)
        PutText(r, kReplyInputTextsAt + kTextField * k, "input" + std::to_string(k + 1), kTextField);
    const std::int32_t values[] = { live.width, live.height, live.fps, live.keyInterval, kDefaultBitRateKbps };
    for (std::size_t k = 0; k < kReplyValueCount; ++k)
        PutInt32(r, kReplyValuesAt + sizeof(std::int32_t) * k, values[k % std::size(values)]);
    PutInt32(r, kReplyWebPortAt, m_state.webPort);
    PutInt32(r, kReplyHttpsPortAt, config.httpsPort);
    for (std::size_t e = 0; e < kReplyEntryCount && e < config.accounts.size(); ++e) {
        std::size_t b = kReplyEntriesAt + kReplyEntryBytes * e;
        PutInt32(r, b + kEntryNumberAt, static_cast<std::int32_t>(e + 1));
        PutText(r, b + kEntryUserAt, config.accounts[e].user, kTextField);
        PutInt32(r, b + kEntryRightAt, kEntryRightAdmin);
        // The entry's state and its three texts stay zero.
    }
    // The device name last: it shares its place with the first entry's last text.
    std::memset(&r[kReplyDeviceNameAt], 0, kReplyDeviceNameBytes);
    PutText(r, kReplyDeviceNameAt, config.name, kReplyDeviceNameBytes);
    PutInt32(r, kReplyDeviceKindAt, config.deviceKind);
    return r;
}

void RoadServer::LoggedIn(Connection& connection)
{
    const CameraConfig& config = m_state.config;
    if (config.deviceKind != kDeviceKindOld) {
        std::vector<std::uint8_t> kind(m_state.ControlBytes(kMsgDeviceKind), 0);
        std::int32_t code = config.deviceKind == kDeviceKind101 ? kKindCode101 : config.deviceKind == kDeviceKind100 ? kKindCode100 : kKindCodeOther;
        PutInt32(kind, kDeviceKindCodeAt, code);
        connection.Send(controlMessage(kMsgDeviceKind, kind));
    }
    std::vector<std::uint8_t> record(m_state.ControlBytes(kMsgDeviceRecord), 0);
    record[kStreamModeAt] = config.streamMode;
    connection.Send(controlMessage(kMsgDeviceRecord, record));
}

void RoadServer::Serve(const std::shared_ptr<Connection>& connection, const LoginRequest& login)
{
    bool ok = m_state.AccountOk(login.user, login.password);
    {
        std::lock_guard lock(m_state.mutex);
        (ok ? m_state.accepted : m_state.refused)++;
    }
    if (m_state.config.replyFormat)
        connection->Send(controlMessage(kMsgReplyFormat, { 1 }));
    connection->Send(controlMessage(kMsgLoginReply, LoginReply(ok ? kLoginOk : kLoginBadAccount, login.user)));
    if (!ok) {
        m_state.Notify();
        return;
    }
    LoggedIn(*connection);
    {
        std::lock_guard lock(m_state.mutex);
        m_state.roads.push_back(connection);
    }
    m_state.Notify();

    Header header;
    std::vector<std::uint8_t> payload;
    while (!m_state.stopping.load()) {
        auto r = connection->Next(header, payload, kHeartbeatMs);
        if (r == Connection::Read::Timeout) {
            connection->Send(Kind::Heartbeat, {});
            continue;
        }
        if (r != Connection::Read::Message)
            break;
        CommandRequest command;
        if (header.kind == Kind::Command && ParseCommand(payload.data(), payload.size(), command))
            HandleCommand(connection, command);
    }
    std::lock_guard lock(m_state.mutex);
    m_state.roads.remove(connection);
    m_state.Notify();
}

void RoadServer::SendToAll(int type, const std::vector<std::uint8_t>& data)
{
    std::vector<std::shared_ptr<Connection>> roads;
    {
        std::lock_guard lock(m_state.mutex);
        roads.assign(m_state.roads.begin(), m_state.roads.end());
    }
    auto message = controlMessage(type, data);
    for (auto& road : roads)
        road->Send(message);
}

void RoadServer::AnswerCgi(const std::shared_ptr<Connection>& connection, const std::string& text)
{
    std::string name = CgiCommandName(text);
    auto reply = m_cgi.Take(name, true);
    if (!reply)
        return; // ignored
    auto message = controlMessage(cgiAnswerType(name), std::vector<std::uint8_t>(reply->text.begin(), reply->text.end()));
    if (reply->due <= CgiServer::Clock::now()) {
        connection->Send(message);
        return;
    }
    // Held back: the road goes on reading commands and sending heartbeats
    // meanwhile.
    m_state.Spawn([this, connection, reply = *reply, message = std::move(message)] {
        if (m_cgi.Hold(reply))
            connection->Send(message);
    });
}

void RoadServer::HandleCommand(const std::shared_ptr<Connection>& connection, const CommandRequest& command)
{
    {
        std::lock_guard lock(m_state.mutex);
        m_state.commands.push_back(command);
        m_state.Notify();
    }
    bool start = command.b == kCmdStart;
    switch (command.command) {
    case kCmdVideo: {
        std::lock_guard lock(m_state.mutex);
        m_state.videoOn = start;
        break;
    }
    case kCmdAudio: {
        std::lock_guard lock(m_state.mutex);
        m_state.liveAudioOn = start;
        for (auto& m : m_state.media) {
            if (m->playback)
                continue;
            std::lock_guard sessionLock(m->mutex);
            m->audioOn = start;
        }
        ++m_state.audioGeneration;
        break;
    }
    case kCmdTalk: {
        std::vector<std::uint8_t> reply;
        wi32(reply, start ? kTalkStarted : kTalkStopped);
        connection->Send(controlMessage(kMsgTalkReply, reply));
        break;
    }
    case kCmdLiveCfg: {
        VideoSettings v;
        {
            std::lock_guard lock(m_state.mutex);
            v = m_state.live;
        }
        std::vector<std::uint8_t> cfg(m_state.ControlBytes(kMsgLiveCfg), 0);
        PutInt32(cfg, kLiveCfgWidthAt, v.width);
        PutInt32(cfg, kLiveCfgHeightAt, v.height);
        PutInt32(cfg, kLiveCfgFpsAt, v.fps);
        PutText(cfg, kLiveCfgTextAt, v.codec == Codec::H264 ? "h264" : "mjpeg", kTextField);
        connection->Send(controlMessage(kMsgLiveCfg, cfg));
        break;
    }
    case kCmdCgi: AnswerCgi(connection, command.text); break;
    case kCmdUpdateFile:
        connection->Send(controlMessage(kMsgUpdateAck, std::vector<std::uint8_t>(command.text.begin(), command.text.end())));
        break;
    default: break; // pan/tilt, small picture, registration: recorded only
    }
}

}

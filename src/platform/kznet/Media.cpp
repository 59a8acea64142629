// A media channel: live video and sound, talk, or playback of a recording.
// Its worker thread connects, opens the stream, and delivers status and
// frame callbacks; any end of the link is reported once as status 1.

#include "kznet/Library.h"

#include <cstdlib>
#include <cstring>

namespace kz {

int LinkTimeoutMs()
{
    const char* text = std::getenv(kEnvLinkTimeout);
    if (!text || !*text)
        return kDefaultLinkTimeoutMs;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end || value < 50 || value > 600000)
        return kDefaultLinkTimeoutMs;
    return static_cast<int>(value);
}

Media::Media(const wire::OpenRequest& request, const LoginInfo& login, KzStatusCallback status, KzFrameCallback frame, void* user)
    : m_request(request)
    , m_host(login.ip, strnlen(login.ip, sizeof login.ip))
    , m_port(login.port)
    , m_id(static_cast<std::int16_t>(request.tag & kTagIdMask))
    , m_status(status)
    , m_frame(frame)
    , m_user(user)
{
}

bool Media::Start()
{
    auto self = shared_from_this();
    return m_link.Start("kz_media", [self] { self->Run(); });
}

int Media::Control(const wire::MediaControl& control)
{
    return m_link.Send(wire::Kind::MediaControl, wire::PutMediaControl(control)) ? 0 : -1;
}

int Media::Talk(const char* data, int size)
{
    if (!data || size <= 0 || static_cast<std::uint32_t>(size) > wire::kMaxTalkBlock)
        return -1;
    std::vector<std::uint8_t> block(data, data + size);
    return m_link.Send(wire::Kind::Talk, block) ? 0 : -1;
}

void Media::ReportLost(int reason)
{
    if (!m_status)
        return;
    int result = reason;
    m_link.Deliver([&] { m_status(kStatusLinkLost, &result, m_user, m_id); });
}

void Media::OnStatus(const std::uint8_t* data, std::size_t n)
{
    wire::Status status;
    if (!wire::ParseStatus(data, n, status) || !m_status || status.type == kStatusLinkLost)
        return; // only the library reports its own link loss
    int result = status.result;
    // Open and talk replies carry the window id; other types the camera's value.
    bool withId = status.type == kStatusOpen || status.type == kStatusTalkStart || status.type == kStatusTalkStop;
    int value = withId ? m_id : status.value;
    m_link.Deliver([&] { m_status(status.type, &result, m_user, value); });
}

bool ReadFrameRecord(const std::uint8_t* data, std::size_t n, FrameRecord& record)
{
    wire::FrameHeader header;
    if (!wire::ParseFrameHeader(data, n, header))
        return false;
    if (header.kind != kFrameH264 && header.kind != kFrameMjpeg && header.kind != kFrameAudio)
        return false;
    std::size_t size = n - wire::kFrameHeaderBytes;
    if (size == 0)
        return false;
    record = FrameRecord {};
    record.kind = static_cast<std::uint32_t>(header.kind);
    record.sequence = header.sequence;
    record.timestamp = header.timestamp;
    record.passThrough1 = header.passThrough1;
    record.passThrough2 = header.passThrough2;
    record.frameRate = header.frameRate;
    record.size = static_cast<std::int32_t>(size);
    record.keyFrame = header.keyFrame ? 1 : 0;
    record.bitRate = header.bitRate;
    record.width = header.width;
    record.height = header.height;
    record.payload = data + wire::kFrameHeaderBytes;
    return true;
}

void Media::OnFrame(const std::uint8_t* data, std::size_t n)
{
    FrameRecord record;
    if (!m_frame || !ReadFrameRecord(data, n, record))
        return;
    int kind = static_cast<int>(record.kind);
    m_link.Deliver([&] { m_frame(kind, &record, m_user, m_id); });
}

void Media::Run()
{
    if (m_link.Connect(m_host, m_port) != net::ConnectResult::Ok) {
        ReportLost(kLostUnreachable);
        return;
    }
    m_link.Begin(wire::Message(wire::Kind::Open, wire::PutOpen(m_request)));

    const int timeoutMs = LinkTimeoutMs();
    wire::Header header;
    std::vector<std::uint8_t> payload;
    int reason = kLostClosed;
    while (!m_link.Closing()) {
        auto deadline = net::Clock::now() + std::chrono::milliseconds(timeoutMs);
        auto r = net::ReadMessage(m_link.Socket(), header, payload, wire::kMaxPayload, deadline);
        if (r != net::MessageRead::Ok) {
            reason = r == net::MessageRead::TimedOut ? kLostTimedOut : r == net::MessageRead::Malformed ? kLostMalformed : kLostClosed;
            break;
        }
        switch (header.kind) {
        case wire::Kind::Status: OnStatus(payload.data(), payload.size()); break;
        case wire::Kind::Frame: OnFrame(payload.data(), payload.size()); break;
        default: break; // heartbeats and anything a media channel does not carry
        }
    }
    m_link.End();
    ReportLost(reason);
}

void Media::Close()
{
    m_link.Close();
}

}

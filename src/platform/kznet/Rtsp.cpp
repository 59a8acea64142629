#include "kznet/Rtsp.h"

#include "kznet/Onvif.h"

#include "kznet/TextParts.h"

#include <nettle/base64.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kz::rtsp {

namespace {

using text::trim;

constexpr const char* kVersion = "RTSP/1.0";
constexpr const char* kUserAgent = "Tiravex";
constexpr char kInterleaveMark = '$';
constexpr std::size_t kInterleaveHeader = 4; // '$', channel, 16-bit length
constexpr std::size_t kReadBufferBytes = 256 * 1024;
constexpr int kReadSliceMs = 100;
constexpr int kUnauthorized = 401;
constexpr std::uint8_t kStartCode[] = { 0, 0, 0, 1 };
constexpr int kRtpVersion = 2;
constexpr std::size_t kRtpHeaderBytes = 12;
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalHeaderKeepMask = 0xE0; // forbidden bit and NRI of an FU's indicator
constexpr std::uint8_t kNalIdr = 5;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kNalDelimiter = 9;
constexpr std::uint8_t kNalStapA = 24;
constexpr std::uint8_t kNalFuA = 28;
constexpr std::uint8_t kFuStart = 0x80;
constexpr std::uint8_t kFuEnd = 0x40;
constexpr int kMuLawBias = 0x84;
constexpr std::uint8_t kALawToggle = 0x55;

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

int number(std::string_view text, int fallback)
{
    int value = 0;
    if (text.empty() || text.size() > 9)
        return fallback;
    for (char c : text) {
        if (c < '0' || c > '9')
            return fallback;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<std::uint8_t> base64Decode(std::string_view text)
{
    std::vector<std::uint8_t> out(BASE64_DECODE_LENGTH(text.size()));
    base64_decode_ctx context;
    base64_decode_init(&context);
    std::size_t size = out.size();
    if (!base64_decode_update(&context, &size, out.data(), text.size(), text.data()) || !base64_decode_final(&context))
        return {};
    out.resize(size);
    return out;
}

}

bool ParseSdp(std::string_view text, Description& out)
{
    out = {};
    bool sawVersion = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.size() < 2 || line[1] != '=')
            continue;
        char type = line[0];
        std::string_view value = line.substr(2);
        if (type == 'v') {
            sawVersion = true;
        } else if (type == 'm') {
            if (out.tracks.size() >= kMaxTracks)
                return false;
            Track track;
            std::size_t space = value.find(' ');
            track.media = std::string(value.substr(0, space));
            // m=<media> <port> <proto> <first format> ...
            std::string_view rest = space == std::string_view::npos ? std::string_view() : value.substr(space + 1);
            for (int skip = 0; skip < 2 && !rest.empty(); ++skip) {
                std::size_t next = rest.find(' ');
                rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
            }
            track.payloadType = number(rest.substr(0, rest.find(' ')), -1);
            out.tracks.push_back(track);
        } else if (type == 'a') {
            std::size_t colon = value.find(':');
            std::string_view name = value.substr(0, colon);
            std::string_view attribute = colon == std::string_view::npos ? std::string_view() : value.substr(colon + 1);
            Track* track = out.tracks.empty() ? nullptr : &out.tracks.back();
            if (name == "control") {
                (track ? track->control : out.control) = std::string(trim(attribute));
            } else if (name == "sendonly" && track) {
                track->sendOnly = true;
            } else if (track && (name == "rtpmap" || name == "fmtp")) {
                std::size_t space = attribute.find(' ');
                if (space == std::string_view::npos || number(attribute.substr(0, space), -2) != track->payloadType)
                    continue;
                std::string_view format = attribute.substr(space + 1);
                if (name == "rtpmap") {
                    // <encoding>/<clock rate>[/<channels>]
                    std::size_t slash = format.find('/');
                    track->encoding = upper(std::string(format.substr(0, slash)));
                    if (slash != std::string_view::npos) {
                        std::string_view clock = format.substr(slash + 1);
                        std::size_t second = clock.find('/');
                        track->clockRate = number(clock.substr(0, second), 0);
                        if (second != std::string_view::npos)
                            track->channels = number(clock.substr(second + 1), 0);
                    }
                } else {
                    for (std::string_view parameters = format; !parameters.empty();) {
                        std::size_t semicolon = parameters.find(';');
                        std::string_view parameter = trim(parameters.substr(0, semicolon));
                        parameters.remove_prefix(semicolon == std::string_view::npos ? parameters.size() : semicolon + 1);
                        constexpr std::string_view kSprop = "sprop-parameter-sets=";
                        if (parameter.substr(0, kSprop.size()) == kSprop)
                            track->parameterSets = std::string(parameter.substr(kSprop.size()));
                    }
                }
            }
        }
    }
    return sawVersion && !out.tracks.empty();
}

std::string ControlUrl(const std::string& base, const std::string& control)
{
    if (control.empty() || control == "*")
        return base;
    if (control.compare(0, 7, "rtsp://") == 0)
        return control;
    return base.empty() || base.back() == '/' ? base + control : base + "/" + control;
}

std::int16_t MuLawToPcm(std::uint8_t code)
{
    code = static_cast<std::uint8_t>(~code);
    int exponent = (code >> 4) & 0x07;
    int sample = ((((code & 0x0F) << 3) + kMuLawBias) << exponent) - kMuLawBias;
    return static_cast<std::int16_t>(code & 0x80 ? -sample : sample);
}

std::int16_t ALawToPcm(std::uint8_t code)
{
    code ^= kALawToggle;
    int exponent = (code >> 4) & 0x07;
    int mantissa = code & 0x0F;
    int sample = exponent ? ((mantissa << 4) + 0x108) << (exponent - 1) : (mantissa << 4) + 8;
    return static_cast<std::int16_t>(code & 0x80 ? sample : -sample);
}

void G711ToPcm(const std::uint8_t* codes, std::size_t count, bool muLaw, std::vector<std::uint8_t>& pcm)
{
    pcm.resize(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int16_t sample = muLaw ? MuLawToPcm(codes[i]) : ALawToPcm(codes[i]);
        pcm[2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
        pcm[2 * i + 1] = static_cast<std::uint8_t>((sample >> 8) & 0xFF);
    }
}

bool IsG711Track(const Track& track)
{
    return (track.encoding == "PCMU" || track.encoding == "PCMA") && track.clockRate == kG711ClockRate && track.channels == 1;
}

bool ParseRtp(const std::uint8_t* data, std::size_t size, RtpPacket& out)
{
    if (size < kRtpHeaderBytes || (data[0] >> 6) != kRtpVersion)
        return false;
    std::size_t header = kRtpHeaderBytes + 4 * static_cast<std::size_t>(data[0] & 0x0F);
    if (data[0] & 0x10) { // a header extension: 16-bit profile, 16-bit length in words
        if (size < header + 4)
            return false;
        header += 4 + 4 * static_cast<std::size_t>((data[header + 2] << 8) | data[header + 3]);
    }
    std::size_t padding = (data[0] & 0x20) ? data[size - 1] : 0;
    if (size < header + padding)
        return false;
    out.marker = (data[1] & 0x80) != 0;
    out.payloadType = data[1] & 0x7F;
    out.sequence = static_cast<std::uint16_t>((data[2] << 8) | data[3]);
    out.timestamp = (static_cast<std::uint32_t>(data[4]) << 24) | (static_cast<std::uint32_t>(data[5]) << 16) | (static_cast<std::uint32_t>(data[6]) << 8) | data[7];
    out.payload = data + header;
    out.size = size - header - padding;
    return true;
}

void H264Assembler::SetParameterSets(std::string_view sprop)
{
    while (!sprop.empty()) {
        std::size_t comma = sprop.find(',');
        auto nal = base64Decode(trim(sprop.substr(0, comma)));
        sprop.remove_prefix(comma == std::string_view::npos ? sprop.size() : comma + 1);
        if (nal.empty())
            continue;
        if ((nal[0] & kNalTypeMask) == kNalSps)
            m_sps = nal;
        else if ((nal[0] & kNalTypeMask) == kNalPps)
            m_pps = nal;
    }
}

void H264Assembler::appendNal(const std::uint8_t* nal, std::size_t size)
{
    if (size == 0)
        return;
    std::uint8_t type = nal[0] & kNalTypeMask;
    if (type == kNalDelimiter)
        return; // our records begin with the unit's first real NAL
    if (m_unit.size() + size + sizeof kStartCode > kMaxAccessUnit) {
        m_broken = true;
        return;
    }
    if (type == kNalSps) {
        m_sps.assign(nal, nal + size);
        m_unitHasSps = true;
    } else if (type == kNalPps) {
        m_pps.assign(nal, nal + size);
    } else if (type == kNalIdr) {
        m_unitKey = true;
    }
    m_unit.insert(m_unit.end(), kStartCode, kStartCode + sizeof kStartCode);
    m_unit.insert(m_unit.end(), nal, nal + size);
}

void H264Assembler::lose()
{
    m_broken = true;
    m_waitForKey = true;
    m_inFragment = false;
}

bool H264Assembler::finish()
{
    bool complete = m_started && !m_broken && !m_inFragment && !m_unit.empty() && (m_unitKey || !m_waitForKey);
    if (complete) {
        m_done.clear();
        if (m_unitKey && !m_unitHasSps && !m_sps.empty() && !m_pps.empty()) {
            for (const auto* set : { &m_sps, &m_pps }) {
                m_done.insert(m_done.end(), kStartCode, kStartCode + sizeof kStartCode);
                m_done.insert(m_done.end(), set->begin(), set->end());
            }
        }
        m_done.insert(m_done.end(), m_unit.begin(), m_unit.end());
        m_doneKey = m_unitKey;
        m_doneTimestamp = m_timestamp;
        if (m_unitKey)
            m_waitForKey = false;
    } else if (m_started && m_broken) {
        m_waitForKey = true;
    }
    m_unit.clear();
    m_started = m_broken = m_unitKey = m_unitHasSps = m_inFragment = false;
    return complete;
}

bool H264Assembler::Push(const RtpPacket& packet)
{
    bool gap = m_haveSequence && packet.sequence != static_cast<std::uint16_t>(m_sequence + 1);
    m_haveSequence = true;
    m_sequence = packet.sequence;
    if (gap)
        lose();
    bool done = false;
    if (m_started && packet.timestamp != m_timestamp) {
        // The unit ended without its marker: the next one has begun.
        done = finish();
        if (gap)
            lose();
    }
    if (!m_started) {
        m_started = true;
        m_timestamp = packet.timestamp;
    }
    const std::uint8_t* p = packet.payload;
    const std::size_t n = packet.size;
    std::uint8_t type = n ? p[0] & kNalTypeMask : 0;
    if (n == 0) {
        // an empty payload carries nothing
    } else if (type == kNalStapA) {
        std::size_t at = 1;
        while (at + 2 <= n) {
            std::size_t size = static_cast<std::size_t>((p[at] << 8) | p[at + 1]);
            at += 2;
            if (size == 0 || at + size > n) {
                m_broken = true;
                break;
            }
            appendNal(p + at, size);
            at += size;
        }
    } else if (type == kNalFuA) {
        if (n < 2) {
            m_broken = true;
        } else if (p[1] & kFuStart) {
            if (m_inFragment)
                m_broken = true; // the last fragment of the previous NAL never came
            std::uint8_t header = static_cast<std::uint8_t>((p[0] & kNalHeaderKeepMask) | (p[1] & kNalTypeMask));
            std::vector<std::uint8_t> first(1, header);
            first.insert(first.end(), p + 2, p + n);
            appendNal(first.data(), first.size());
            m_inFragment = true;
        } else if (!m_inFragment) {
            m_broken = true; // its start was lost
        } else if (m_unit.size() + n > kMaxAccessUnit) {
            m_broken = true;
        } else {
            m_unit.insert(m_unit.end(), p + 2, p + n);
        }
        if (n >= 2 && (p[1] & kFuEnd))
            m_inFragment = false;
    } else if (type >= 1 && type < kNalStapA) {
        appendNal(p, n);
    } else {
        m_broken = true; // packetisations of interleaved mode are not taken
    }
    if (packet.marker) {
        // A unit already handed out in this call waits for no one: the
        // marker's unit stays and is handed out by the next packet.
        if (!done)
            done = finish();
    }
    return done;
}

std::string ClockRange(double utcSeconds)
{
    constexpr double kMsPerSecond = 1000;
    const auto ms = static_cast<long long>(utcSeconds * kMsPerSecond + 0.5);
    const std::time_t whole = static_cast<std::time_t>(ms / static_cast<long long>(kMsPerSecond));
    std::tm parts {};
    gmtime_r(&whole, &parts);
    char text[48];
    std::size_t n = std::strftime(text, sizeof text, "clock=%Y%m%dT%H%M%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03lldZ-", ms % static_cast<long long>(kMsPerSecond));
    return text;
}

std::string Response::Header(const std::string& lowerName) const
{
    auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

Client::Result Client::Connect(const std::string& url, const std::string& user, const std::string& password, int timeoutMs)
{
    onvif::ServiceAddress address;
    if (!onvif::SplitRtspAddress(url, address))
        return Result::Failed;
    m_url = url;
    m_user = user;
    m_password = password;
    m_buffer.assign(kReadBufferBytes, 0);
    m_start = m_end = 0;
    switch (m_socket.Connect(address.host, address.port, timeoutMs)) {
    case net::ConnectResult::Ok:
        return Result::Ok;
    case net::ConnectResult::BadAddress:
        return Result::Failed;
    default:
        return Result::Unreachable;
    }
}

std::string Client::authorization(const std::string& method, const std::string& url) const
{
    if (m_user.empty() || m_challenge.scheme == onvif::Challenge::Scheme::None)
        return {};
    ++m_nonceCount;
    std::string cnonce = onvif::Base64(m_challenge.nonce + std::to_string(m_nonceCount) + url);
    return "Authorization: " + onvif::Authorization(m_challenge, method, url, m_user, m_password, cnonce, m_nonceCount) + "\r\n";
}

bool Client::Send(const std::string& method, const std::string& url, const std::string& headers)
{
    std::string request = method + " " + url + " " + kVersion + "\r\nCSeq: " + std::to_string(++m_cseq) + "\r\nUser-Agent: " + kUserAgent + "\r\n";
    if (!m_session.empty())
        request += "Session: " + m_session + "\r\n";
    request += authorization(method, url) + m_common + headers + "\r\n";
    return m_socket.WriteAll(request.data(), request.size());
}

bool Client::Request(const std::string& method, const std::string& url, const std::string& headers, Response& out, net::Clock::time_point deadline)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!Send(method, url, headers) || !readResponse(out, deadline))
            return false;
        if (out.status != kUnauthorized || m_user.empty() || attempt > 0)
            return true;
        // The camera's challenge, read as HTTP's (Digest where it offers it).
        std::string head = "RTSP/1.0 401\r\n";
        std::string challenges = out.Header("www-authenticate");
        for (std::size_t at = 0; at < challenges.size();) {
            std::size_t end = std::min(challenges.find('\n', at), challenges.size());
            head += "WWW-Authenticate: " + challenges.substr(at, end - at) + "\r\n";
            at = end + 1;
        }
        head += "\r\n";
        m_challenge = onvif::ReadChallenge(head.data(), head.size());
        m_nonceCount = 0;
        if (m_challenge.scheme == onvif::Challenge::Scheme::None)
            return true;
    }
    return true;
}

bool Client::fill(net::Clock::time_point deadline)
{
    if (m_start == m_end)
        m_start = m_end = 0;
    if (m_end == m_buffer.size()) {
        if (m_start == 0)
            return false; // a whole buffer without a message in it
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_end - m_start);
        m_end -= m_start;
        m_start = 0;
    }
    long n = m_socket.ReadSome(m_buffer.data() + m_end, m_buffer.size() - m_end, deadline);
    if (n == 0)
        m_socket.Close();
    if (n <= 0)
        return false;
    m_end += static_cast<std::size_t>(n);
    return true;
}

bool Client::readResponse(Response& out, net::Clock::time_point deadline)
{
    out = {};
    for (;;) {
        std::size_t available = m_end - m_start;
        const char* at = reinterpret_cast<const char*>(m_buffer.data() + m_start);
        if (available >= kInterleaveHeader && at[0] == kInterleaveMark) {
            // A packet before the answer: skipped.
            std::size_t size = kInterleaveHeader + ((static_cast<std::uint8_t>(at[2]) << 8) | static_cast<std::uint8_t>(at[3]));
            if (available >= size) {
                m_start += size;
                continue;
            }
        } else if (available > 0 && at[0] != kInterleaveMark) {
            std::string_view text(at, available);
            std::size_t headEnd = text.find("\r\n\r\n");
            if (headEnd == std::string_view::npos && available > kMaxHeaderBytes)
                return false;
            if (headEnd != std::string_view::npos) {
                std::string_view head = text.substr(0, headEnd);
                std::size_t lineEnd = head.find("\r\n");
                std::string_view status = head.substr(0, lineEnd);
                if (status.substr(0, 5) != "RTSP/" || status.size() < 12)
                    return false;
                out.status = number(status.substr(9, 3), 0);
                for (std::string_view lines = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2); !lines.empty();) {
                    std::size_t end = lines.find("\r\n");
                    std::string_view line = lines.substr(0, end);
                    lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 2);
                    std::size_t colon = line.find(':');
                    if (colon == std::string_view::npos)
                        continue;
                    std::string name = lower(std::string(trim(line.substr(0, colon))));
                    std::string& value = out.headers[name];
                    if (!value.empty())
                        value += '\n'; // a header given twice (two challenges): both kept
                    value += trim(line.substr(colon + 1));
                }
                std::size_t length = static_cast<std::size_t>(std::max(0, number(out.Header("content-length"), -1)));
                if (length > kMaxBodyBytes)
                    return false;
                if (available >= headEnd + 4 + length) {
                    out.body.assign(at + headEnd + 4, length);
                    m_start += headEnd + 4 + length;
                    return out.status > 0;
                }
            }
        }
        if (!fill(deadline))
            return false;
    }
}

int Client::NextPacket(int& channel, const std::uint8_t*& data, std::size_t& size, net::Clock::time_point deadline)
{
    for (;;) {
        std::size_t available = m_end - m_start;
        const std::uint8_t* at = m_buffer.data() + m_start;
        if (available > 0 && at[0] != kInterleaveMark) {
            // An answer to a keep-alive, between the packets.
            Response skipped;
            if (readResponse(skipped, deadline))
                continue;
            // Not a whole answer by the deadline is a time-out; anything
            // else (closed, malformed, too long) ends the connection.
            return m_socket.Valid() && net::Clock::now() >= deadline && m_end < m_buffer.size() ? 0 : -1;
        }
        if (available >= kInterleaveHeader) {
            std::size_t length = static_cast<std::size_t>((at[2] << 8) | at[3]);
            if (available >= kInterleaveHeader + length) {
                channel = at[1];
                data = at + kInterleaveHeader;
                size = length;
                m_start += kInterleaveHeader + length;
                return 1;
            }
        }
        auto now = net::Clock::now();
        if (now >= deadline)
            return 0;
        if (!fill(std::min(deadline, now + std::chrono::milliseconds(kReadSliceMs))))
            if (!m_socket.Valid() || m_end == m_buffer.size())
                return -1;
    }
}

}

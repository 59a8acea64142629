#pragma once
// The wire format between the network library and a camera, shared by the
// library (kznet) and the simulated camera (sim). Header-only, so that the
// camera side can use the format without the library's client code.
//
// Every TCP message and every UDP datagram is a 12-byte header followed by
// its payload; all integers are little-endian. docs/WIRE-PROTOCOL.md
// describes the conversation. This file holds the framing and the layout of
// each message kind; the protocol's own numbers (commands, control message
// types, the login reply and the device record) are in kznet/Protocol.h.
//
// Parsers take a pointer and a length and never read past it; writers append
// to a byte vector. Nothing here allocates more than the caller's own limit.

#include "kznet/Protocol.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kz::wire {

// ---- framing -------------------------------------------------------------

constexpr std::uint32_t kMagic = 0x31585654; // "TVX1"
constexpr std::size_t kHeaderBytes = 12;      // magic u32, kind u16, flags u16, length u32

// Largest payload of any message; a header that declares more ends the
// connection. A 1080p key frame is well below this.
constexpr std::uint32_t kMaxPayload = 4u * 1024u * 1024u;
// Largest payload of a control message (type plus its data).
constexpr std::uint32_t kMaxControlPayload = 64u * 1024u;
// Largest text carried by a road command (CGI text, file path).
constexpr std::uint32_t kMaxCommandText = 4096;
// Largest talk block.
constexpr std::uint32_t kMaxTalkBlock = 960;
// Largest stream address (live name or recording path).
constexpr std::uint32_t kMaxAddress = 255;

// Message kinds.
enum class Kind : std::uint16_t {
    // library -> camera, TCP
    Login = 1,        // first message of a control road
    Command = 2,      // a road command
    Open = 3,         // first message of a media channel
    MediaControl = 4, // start/stop media, pause, resume, seek, media message
    Talk = 5,         // one coded talk block
    // camera -> library, TCP
    Control = 16,     // a control message: type i32, then its data
    Status = 17,      // a media status: type i32, result i32, value i32
    Frame = 18,       // a media frame: FrameHeader, then the payload
    Heartbeat = 19,   // keeps an idle connection alive (both directions)
    // UDP
    SearchProbe = 32, // library -> camera: nonce u32, parameter i32
    SearchAnswer = 33 // camera -> library: nonce u32, then the device record
};

struct Header {
    Kind kind = Kind::Heartbeat;
    std::uint16_t flags = 0;
    std::uint32_t length = 0;
};

// ---- little-endian helpers ----------------------------------------------

inline void w8(std::vector<std::uint8_t>& out, std::uint8_t v) { out.push_back(v); }
inline void w16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void w32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void wi32(std::vector<std::uint8_t>& out, std::int32_t v) { w32(out, static_cast<std::uint32_t>(v)); }
inline void wf64(std::vector<std::uint8_t>& out, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    w32(out, static_cast<std::uint32_t>(bits));
    w32(out, static_cast<std::uint32_t>(bits >> 32));
}
inline void wbytes(std::vector<std::uint8_t>& out, const void* data, std::size_t n)
{
    auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + n);
}
// A text in a fixed field of `width` bytes, cut to width - 1 and zero-padded.
inline void wtext(std::vector<std::uint8_t>& out, const char* text, std::size_t width)
{
    std::size_t n = text ? strnlen(text, width - 1) : 0;
    wbytes(out, text, n);
    out.insert(out.end(), width - n, 0);
}

inline std::uint16_t r16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t r32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t ri32(const std::uint8_t* p) { return static_cast<std::int32_t>(r32(p)); }
inline double rf64(const std::uint8_t* p)
{
    std::uint64_t bits = r32(p) | (static_cast<std::uint64_t>(r32(p + 4)) << 32);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
// A zero-terminated text from a fixed field; stops at the field's end.
inline std::string rtext(const std::uint8_t* p, std::size_t width)
{
    auto* c = reinterpret_cast<const char*>(p);
    return std::string(c, strnlen(c, width));
}

// Bounds-checked sequential reader over one payload.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) { }
    bool Has(std::size_t n) const { return m_size - m_pos >= n; }
    std::size_t Left() const { return m_size - m_pos; }
    const std::uint8_t* Here() const { return m_data + m_pos; }
    bool Skip(std::size_t n)
    {
        if (!Has(n))
            return false;
        m_pos += n;
        return true;
    }
    bool U16(std::uint16_t& v) { return Take(2, [&](const std::uint8_t* p) { v = r16(p); }); }
    bool U32(std::uint32_t& v) { return Take(4, [&](const std::uint8_t* p) { v = r32(p); }); }
    bool I32(std::int32_t& v) { return Take(4, [&](const std::uint8_t* p) { v = ri32(p); }); }
    bool I16(std::int16_t& v) { return Take(2, [&](const std::uint8_t* p) { v = static_cast<std::int16_t>(r16(p)); }); }
    bool U8(std::uint8_t& v) { return Take(1, [&](const std::uint8_t* p) { v = *p; }); }
    bool F64(double& v) { return Take(8, [&](const std::uint8_t* p) { v = rf64(p); }); }
    bool Text(std::string& v, std::size_t width) { return Take(width, [&](const std::uint8_t* p) { v = rtext(p, width); }); }

private:
    template<typename F> bool Take(std::size_t n, F f)
    {
        if (!Has(n))
            return false;
        f(m_data + m_pos);
        m_pos += n;
        return true;
    }
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// ---- header ---------------------------------------------------------------

inline void PutHeader(std::vector<std::uint8_t>& out, Kind kind, std::uint32_t length)
{
    w32(out, kMagic);                               // magic
    w16(out, static_cast<std::uint16_t>(kind));     // kind
    w16(out, 0);                                    // flags
    w32(out, length);                               // payload length
}

enum class HeaderCheck { Ok, BadMagic, TooLong };

// Reads a header from exactly kHeaderBytes bytes.
inline HeaderCheck ParseHeader(const std::uint8_t* p, std::size_t n, Header& out)
{
    if (n < kHeaderBytes || r32(p) != kMagic)
        return HeaderCheck::BadMagic;
    out.kind = static_cast<Kind>(r16(p + 4));
    out.flags = r16(p + 6);
    out.length = r32(p + 8);
    return out.length > kMaxPayload ? HeaderCheck::TooLong : HeaderCheck::Ok;
}

// A whole message: header and payload.
inline std::vector<std::uint8_t> Message(Kind kind, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderBytes + payload.size());
    PutHeader(out, kind, static_cast<std::uint32_t>(payload.size()));
    wbytes(out, payload.data(), payload.size());
    return out;
}

// ---- Login (road, first message) ---------------------------------------

constexpr std::size_t kUserField = 32;
constexpr std::size_t kPasswordField = 32;
constexpr std::size_t kLoginBytes = 76;

struct LoginRequest {
    std::int32_t mode = 0;       // road mode 257, 259, 260
    std::int32_t groupID = 0;
    std::int16_t streamType = 0;
    std::uint8_t secure = 0;
    std::string user;
    std::string password;
};

inline std::vector<std::uint8_t> PutLogin(const LoginRequest& r)
{
    std::vector<std::uint8_t> p;
    wi32(p, r.mode);                                      // mode
    wi32(p, r.groupID);                                   // groupID
    w16(p, static_cast<std::uint16_t>(r.streamType));     // streamType
    w8(p, r.secure);                                      // secure
    w8(p, 0);                                             // reserved
    wtext(p, r.user.c_str(), kUserField);                 // user
    wtext(p, r.password.c_str(), kPasswordField);         // password
    return p;
}

inline bool ParseLogin(const std::uint8_t* data, std::size_t n, LoginRequest& r)
{
    if (n != kLoginBytes)
        return false;
    Reader in(data, n);
    std::uint8_t reserved;
    return in.I32(r.mode) && in.I32(r.groupID) && in.I16(r.streamType) && in.U8(r.secure) && in.U8(reserved)
        && in.Text(r.user, kUserField) && in.Text(r.password, kPasswordField);
}

// ---- Command (road) --------------------------------------------------------

constexpr std::size_t kCommandFixedBytes = 12; // command, a, b; then the text

struct CommandRequest {
    std::int32_t command = 0;
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::string text; // CGI text (command 13) or file path (command 17)
};

inline std::vector<std::uint8_t> PutCommand(const CommandRequest& r)
{
    std::vector<std::uint8_t> p;
    wi32(p, r.command); // command
    wi32(p, r.a);       // a (0 when a is the text)
    wi32(p, r.b);       // b (0 when b is the text)
    wbytes(p, r.text.data(), std::min<std::size_t>(r.text.size(), kMaxCommandText));
    return p;
}

inline bool ParseCommand(const std::uint8_t* data, std::size_t n, CommandRequest& r)
{
    if (n < kCommandFixedBytes || n > kCommandFixedBytes + kMaxCommandText)
        return false;
    Reader in(data, n);
    in.I32(r.command);
    in.I32(r.a);
    in.I32(r.b);
    r.text = rtext(in.Here(), in.Left());
    return true;
}

// ---- Control (camera -> road) ----------------------------------------------

constexpr std::size_t kControlTypeBytes = 4;

inline std::vector<std::uint8_t> PutControl(std::int32_t type, const void* data, std::size_t n)
{
    std::vector<std::uint8_t> p;
    wi32(p, type);     // type
    wbytes(p, data, n); // data
    return p;
}

// A login reply of `bytes` bytes with the given status and fields.
inline std::vector<std::uint8_t> MakeLoginReply(std::size_t bytes, std::int32_t status, const std::string& deviceId, const std::string& deviceName, std::int32_t deviceKind)
{
    std::vector<std::uint8_t> r(bytes, 0);
    auto put32 = [&](std::size_t at, std::int32_t v) {
        for (int i = 0; i < 4; ++i)
            r[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
    };
    put32(kReplyStatusAt, status);
    std::memcpy(&r[kReplyDeviceIdAt], deviceId.data(), std::min(deviceId.size(), kReplyDeviceIdBytes));
    std::memcpy(&r[kReplyDeviceNameAt], deviceName.data(), std::min(deviceName.size(), kReplyDeviceNameBytes - 1));
    put32(kReplyDeviceKindAt, deviceKind);
    return r;
}

// ---- Open (media channel, first message) ---------------------------------

constexpr std::size_t kOpenFixedBytes = 84;

struct OpenRequest {
    std::int32_t kind = 0;        // connection kind 1, 3, 4
    std::int32_t streamParam = 0;
    std::int32_t tag = 0;         // window id, bit 16 as given
    std::int32_t constant = 0;
    std::int16_t streamType = 0;
    std::uint8_t secure = 0;
    std::string user;
    std::string password;
    std::string address;          // empty or live name: live; otherwise a recording path
};

inline std::vector<std::uint8_t> PutOpen(const OpenRequest& r)
{
    std::vector<std::uint8_t> p;
    wi32(p, r.kind);                                  // kind
    wi32(p, r.streamParam);                           // stream parameter
    wi32(p, r.tag);                                   // tag
    wi32(p, r.constant);                              // constant
    w16(p, static_cast<std::uint16_t>(r.streamType)); // streamType
    w8(p, r.secure);                                  // secure
    w8(p, 0);                                         // reserved
    wtext(p, r.user.c_str(), kUserField);             // user
    wtext(p, r.password.c_str(), kPasswordField);     // password
    wbytes(p, r.address.data(), std::min<std::size_t>(r.address.size(), kMaxAddress)); // address
    return p;
}

inline bool ParseOpen(const std::uint8_t* data, std::size_t n, OpenRequest& r)
{
    if (n < kOpenFixedBytes || n > kOpenFixedBytes + kMaxAddress)
        return false;
    Reader in(data, n);
    std::uint8_t reserved;
    in.I32(r.kind);
    in.I32(r.streamParam);
    in.I32(r.tag);
    in.I32(r.constant);
    in.I16(r.streamType);
    in.U8(r.secure);
    in.U8(reserved);
    in.Text(r.user, kUserField);
    in.Text(r.password, kPasswordField);
    r.address = rtext(in.Here(), in.Left());
    return true;
}

// Which stream a media channel asks for.
inline bool IsLiveAddress(std::string_view address)
{
    // A recording is named by its path on the camera; anything else (empty,
    // "live", the camera's address, a URL a page passes) is the live stream.
    return address.empty() || address.front() != '/';
}

// ---- MediaControl ----------------------------------------------------------

constexpr std::size_t kMediaControlBytes = 24;

enum class MediaOp : std::int32_t {
    Start = 1,   // a: selector
    Stop = 2,    // a: selector
    Pause = 3,
    Resume = 4,
    Seek = 5,    // position, seconds from the recording's start
    Message = 6  // a: code 1025 or 1039, b and c: its two integers
};

struct MediaControl {
    MediaOp op = MediaOp::Start;
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::int32_t c = 0;
    double position = 0;
};

inline std::vector<std::uint8_t> PutMediaControl(const MediaControl& m)
{
    std::vector<std::uint8_t> p;
    wi32(p, static_cast<std::int32_t>(m.op)); // op
    wi32(p, m.a);                             // a
    wi32(p, m.b);                             // b
    wi32(p, m.c);                             // c
    wf64(p, m.position);                      // position
    return p;
}

inline bool ParseMediaControl(const std::uint8_t* data, std::size_t n, MediaControl& m)
{
    if (n != kMediaControlBytes)
        return false;
    Reader in(data, n);
    std::int32_t op;
    in.I32(op);
    in.I32(m.a);
    in.I32(m.b);
    in.I32(m.c);
    in.F64(m.position);
    if (op < static_cast<std::int32_t>(MediaOp::Start) || op > static_cast<std::int32_t>(MediaOp::Message))
        return false;
    m.op = static_cast<MediaOp>(op);
    return true;
}

// ---- Status (camera -> media channel) ------------------------------------

constexpr std::size_t kStatusBytes = 12;

struct Status {
    std::int32_t type = 0;   // status type 0, 5, 9, 10
    std::int32_t result = 0; // the 32-bit result (playback: the event code)
    std::int32_t value = 0;  // playback: the event's value
};

inline std::vector<std::uint8_t> PutStatus(const Status& s)
{
    std::vector<std::uint8_t> p;
    wi32(p, s.type);   // type
    wi32(p, s.result); // result
    wi32(p, s.value);  // value
    return p;
}

inline bool ParseStatus(const std::uint8_t* data, std::size_t n, Status& s)
{
    if (n != kStatusBytes)
        return false;
    Reader in(data, n);
    return in.I32(s.type) && in.I32(s.result) && in.I32(s.value);
}

// ---- Frame (camera -> media channel) -------------------------------------

constexpr std::size_t kFrameHeaderBytes = 40;

struct FrameHeader {
    std::int32_t kind = 0;        // 261, 262, 265
    std::uint32_t sequence = 0;
    std::uint32_t timestamp = 0;  // ms since the channel opened
    std::int32_t frameRate = 0;
    std::int32_t keyFrame = 0;
    std::int32_t bitRate = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t passThrough1 = 0; // frame number in the stream or recording
    std::uint32_t passThrough2 = 0; // milliseconds in the stream or recording
};

inline void PutFrameHeader(std::vector<std::uint8_t>& p, const FrameHeader& f)
{
    wi32(p, f.kind);         // kind
    w32(p, f.sequence);      // sequence
    w32(p, f.timestamp);     // timestamp
    wi32(p, f.frameRate);    // frame rate
    wi32(p, f.keyFrame);     // key flag
    wi32(p, f.bitRate);      // bit rate
    w32(p, f.width);         // width
    w32(p, f.height);        // height
    w32(p, f.passThrough1);  // pass-through 1
    w32(p, f.passThrough2);  // pass-through 2
}

// A whole Frame message (header, frame header, payload) in one buffer.
inline std::vector<std::uint8_t> FrameMessage(const FrameHeader& f, const std::uint8_t* payload, std::size_t n)
{
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderBytes + kFrameHeaderBytes + n);
    PutHeader(out, Kind::Frame, static_cast<std::uint32_t>(kFrameHeaderBytes + n));
    PutFrameHeader(out, f);
    wbytes(out, payload, n);
    return out;
}

inline bool ParseFrameHeader(const std::uint8_t* data, std::size_t n, FrameHeader& f)
{
    if (n < kFrameHeaderBytes)
        return false;
    Reader in(data, n);
    in.I32(f.kind);
    in.U32(f.sequence);
    in.U32(f.timestamp);
    in.I32(f.frameRate);
    in.I32(f.keyFrame);
    in.I32(f.bitRate);
    in.U32(f.width);
    in.U32(f.height);
    in.U32(f.passThrough1);
    in.U32(f.passThrough2);
    return true;
}

// ---- search (UDP) -----------------------------------------------------------

constexpr std::uint16_t kDefaultSearchPort = 10060;
constexpr std::size_t kSearchProbeBytes = 8;   // nonce u32, parameter i32
constexpr std::size_t kSearchNonceBytes = 4;
constexpr std::size_t kMaxDatagram = 512;


}

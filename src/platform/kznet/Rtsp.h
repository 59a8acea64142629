#pragma once
// The library's own RTSP client for a standard camera's live stream, for
// the streams it can take apart itself: H.264 (RFC 6184: single NAL units,
// STAP-A, FU-A) with G.711 sound or none, over RTSP's TCP interleaving.
// Everything else (other codings, the ONVIF back channel) goes through
// GStreamer's rtspsrc (RtspMedia.cpp). The hot path then costs a read of
// the socket in large pieces and a copy of each NAL unit, where rtspsrc
// passes every RTP packet through its receiver, jitter buffer, depayloader
// and parser on three threads.
//
// Threads: a Client and an H264Assembler belong to one thread.

#include "kznet/HttpAuth.h"
#include "kznet/Socket.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kz::rtsp {

// Limits on what a camera may send.
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024;
constexpr std::size_t kMaxTracks = 8;
constexpr std::size_t kMaxAccessUnit = 8 * 1024 * 1024;
constexpr int kVideoClockRate = 90000;
constexpr int kG711ClockRate = 8000;

// One media section of a session description.
struct Track {
    std::string media;     // "video", "audio", "application"
    int payloadType = -1;
    std::string encoding;  // "H264", "PCMU", ... upper case
    int clockRate = 0;
    int channels = 1;
    std::string control;   // a=control, as written
    std::string parameterSets; // H.264's sprop-parameter-sets, as written
    bool sendOnly = false; // a back channel: the camera receives on it
};

struct Description {
    std::string control; // the session's a=control, as written
    std::vector<Track> tracks;
};

// A Range header's absolute range from `utcSeconds` on, to the
// millisecond: "clock=20260101T000002.500Z-".
std::string ClockRange(double utcSeconds);

// Parses an SDP; false when it has no media section at all or is not SDP.
bool ParseSdp(std::string_view text, Description& out);
// A track's address: its control resolved against the session's base.
std::string ControlUrl(const std::string& base, const std::string& control);

// 16-bit PCM of one G.711 sample.
std::int16_t MuLawToPcm(std::uint8_t code);
std::int16_t ALawToPcm(std::uint8_t code);
// A G.711 payload as 16-bit little-endian PCM, two bytes a code.
void G711ToPcm(const std::uint8_t* codes, std::size_t count, bool muLaw, std::vector<std::uint8_t>& pcm);
// A track a client plays as sound: G.711 at 8000 Hz, one channel.
bool IsG711Track(const Track& track);

// One RTP packet's fixed header, checked.
struct RtpPacket {
    int payloadType = 0;
    bool marker = false;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    const std::uint8_t* payload = nullptr;
    std::size_t size = 0;
};
// False for anything that is not RTP version 2 (or is cut short by its own
// CSRC count, extension or padding).
bool ParseRtp(const std::uint8_t* data, std::size_t size, RtpPacket& out);

// Joins H.264 RTP payloads into Annex B access units, the parameter sets
// before every key frame (taken from the stream or from the SDP). A lost
// packet loses its access unit and every unit up to the next key frame,
// which could not be decoded without it.
class H264Assembler {
public:
    // sprop-parameter-sets: base64 NAL units separated by commas.
    void SetParameterSets(std::string_view sprop);
    // Takes one packet; returns true when an access unit is complete in
    // Unit(), which stays valid until the next call.
    bool Push(const RtpPacket& packet);
    const std::vector<std::uint8_t>& Unit() const { return m_done; }
    bool UnitIsKey() const { return m_doneKey; }
    std::uint32_t UnitTimestamp() const { return m_doneTimestamp; }

private:
    void appendNal(const std::uint8_t* nal, std::size_t size);
    bool finish();
    void lose();

    std::vector<std::uint8_t> m_sps, m_pps;
    std::vector<std::uint8_t> m_unit, m_done;
    bool m_started = false;      // m_unit holds part of the unit of m_timestamp
    bool m_broken = false;       // a packet of this unit was lost
    bool m_waitForKey = true;    // nothing decodable until a key frame
    bool m_unitKey = false;
    bool m_unitHasSps = false;
    bool m_inFragment = false;
    bool m_haveSequence = false;
    std::uint16_t m_sequence = 0;
    std::uint32_t m_timestamp = 0;
    bool m_doneKey = false;
    std::uint32_t m_doneTimestamp = 0;
};

struct Response {
    int status = 0;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string Header(const std::string& lowerName) const;
};

// One RTSP connection: requests with CSeq, the session and the account
// (Basic or Digest, as the camera asks), then the interleaved packets.
class Client {
public:
    enum class Result { Ok, Unreachable, Failed };
    Result Connect(const std::string& url, const std::string& user, const std::string& password, int timeoutMs);
    // Sends a request and reads its answer, answering one authentication
    // challenge. False on a broken connection or a malformed answer.
    bool Request(const std::string& method, const std::string& url, const std::string& headers, Response& out, net::Clock::time_point deadline);
    // Sends a request without waiting for its answer (keep-alives while
    // packets flow; the answer is skipped by NextPacket).
    bool Send(const std::string& method, const std::string& url, const std::string& headers);
    // The next interleaved packet before the deadline: 1 with `channel` and
    // the packet, 0 on time-out, -1 on a closed or broken connection.
    int NextPacket(int& channel, const std::uint8_t*& data, std::size_t& size, net::Clock::time_point deadline);

    const std::string& Url() const { return m_url; }
    std::string& SessionId() { return m_session; }
    // A header line ("Require: onvif-replay\r\n") every request carries
    // from now on, as a camera's replay needs on each of them.
    void SetCommonHeaders(std::string headers) { m_common = std::move(headers); }

private:
    bool fill(net::Clock::time_point deadline);
    bool readResponse(Response& out, net::Clock::time_point deadline);
    std::string authorization(const std::string& method, const std::string& url) const;

    net::Socket m_socket;
    std::string m_url, m_user, m_password, m_session, m_common;
    onvif::Challenge m_challenge;             // the camera's, once it has asked
    mutable std::uint32_t m_nonceCount = 0;   // requests made with its nonce
    int m_cseq = 0;
    std::vector<std::uint8_t> m_buffer; // read but not yet taken: [m_start, m_end)
    std::size_t m_start = 0, m_end = 0;
};

}

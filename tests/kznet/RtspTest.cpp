// The library's own RTSP reading: a camera's session description, and H.264
// RTP packets joined into the access units the decoder takes, through loss.

#include "kznet/Rtsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

using namespace kz::rtsp;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kSps = { 0x67, 0x42, 0xC0, 0x1F, 0xDA };
const Bytes kPps = { 0x68, 0xCE, 0x3C, 0x80 };
const Bytes kStart = { 0, 0, 0, 1 };

// An RTP packet of payload type 96.
struct Packet {
    Bytes bytes;
    RtpPacket parsed;
    Packet(std::uint16_t sequence, std::uint32_t timestamp, bool marker, const Bytes& payload)
    {
        const std::uint8_t header[] = { 0x80, static_cast<std::uint8_t>((marker ? 0x80 : 0) | 96), static_cast<std::uint8_t>(sequence >> 8),
            static_cast<std::uint8_t>(sequence), static_cast<std::uint8_t>(timestamp >> 24), static_cast<std::uint8_t>(timestamp >> 16),
            static_cast<std::uint8_t>(timestamp >> 8), static_cast<std::uint8_t>(timestamp), 1, 2, 3, 4 };
        bytes.resize(sizeof header + payload.size());
        std::copy(std::begin(header), std::end(header), bytes.begin());
        std::copy(payload.begin(), payload.end(), bytes.begin() + sizeof header);
        EXPECT_TRUE(ParseRtp(bytes.data(), bytes.size(), parsed));
    }
};

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An IDR slice of `size` bytes split into FU-A fragments of `piece`.
std::vector<Bytes> fragments(std::uint8_t nalHeader, std::size_t size, std::size_t piece)
{
    std::vector<Bytes> out;
    for (std::size_t at = 0; at < size; at += piece) {
        std::uint8_t fu = static_cast<std::uint8_t>((at == 0 ? 0x80 : 0) | (at + piece >= size ? 0x40 : 0) | (nalHeader & 0x1F));
        Bytes p = { static_cast<std::uint8_t>((nalHeader & 0xE0) | 28), fu };
        for (std::size_t i = at; i < std::min(size, at + piece); ++i)
            p.push_back(static_cast<std::uint8_t>(i));
        out.push_back(p);
    }
    return out;
}

Bytes slice(std::uint8_t nalHeader, std::size_t size)
{
    Bytes out = { nalHeader };
    for (std::size_t i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(i));
    return out;
}

}

TEST(Rtsp, TheSessionDescriptionNamesEachTracksCodingClockControlAndParameterSets)
{
    const char* sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Session\r\nt=0 0\r\na=control:*\r\n"
                      "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                      "a=fmtp:96 packetization-mode=1;profile-level-id=42c01f;sprop-parameter-sets=Z0LAH9o=,aM48gA==\r\na=control:stream=0\r\n"
                      "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 pcma/8000\r\na=control:rtsp://cam/live/stream=1\r\n"
                      "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=sendonly\r\na=control:stream=2\r\n";
    Description d;
    ASSERT_TRUE(ParseSdp(sdp, d));
    ASSERT_EQ(d.tracks.size(), 3u);
    EXPECT_EQ(d.control, "*");
    EXPECT_EQ(d.tracks[0].encoding, "H264");
    EXPECT_EQ(d.tracks[0].clockRate, 90000);
    EXPECT_EQ(d.tracks[0].parameterSets, "Z0LAH9o=,aM48gA==");
    EXPECT_EQ(d.tracks[1].encoding, "PCMA");
    EXPECT_EQ(d.tracks[1].payloadType, 8);
    EXPECT_TRUE(d.tracks[2].sendOnly);
    EXPECT_EQ(ControlUrl("rtsp://cam/live/", d.tracks[0].control), "rtsp://cam/live/stream=0");
    EXPECT_EQ(ControlUrl("rtsp://cam/live", d.tracks[0].control), "rtsp://cam/live/stream=0");
    EXPECT_EQ(ControlUrl("rtsp://cam/live/", d.tracks[1].control), "rtsp://cam/live/stream=1");
    EXPECT_EQ(ControlUrl("rtsp://cam/live/", d.control), "rtsp://cam/live/");
    EXPECT_FALSE(ParseSdp("HTTP/1.1 200 OK\r\n\r\n<html>", d));

    // G.711 both laws: the loudest codes and silence.
    EXPECT_EQ(MuLawToPcm(0x00), -32124);
    EXPECT_EQ(MuLawToPcm(0x80), 32124);
    EXPECT_EQ(MuLawToPcm(0xFF), 0);
    EXPECT_EQ(ALawToPcm(0xD5), 8);
    EXPECT_EQ(ALawToPcm(0x2A), -32256);
    EXPECT_EQ(ALawToPcm(0xAA), 32256);
}

TEST(Rtsp, PacketsBecomeAccessUnitsWithParameterSetsBeforeKeyFramesAndALossWaitsForTheNextKeyFrame)
{
    H264Assembler assembler;
    std::vector<Bytes> units;
    std::vector<bool> keys;
    std::uint16_t sequence = 65530; // wraps on the way
    auto push = [&](std::uint32_t ts, bool marker, const Bytes& payload) {
        Packet p(sequence++, ts, marker, payload);
        if (assembler.Push(p.parsed)) {
            units.push_back(assembler.Unit());
            keys.push_back(assembler.UnitIsKey());
        }
    };
    const Bytes idr = slice(0x65, 3000), p1 = slice(0x41, 40);

    // A key frame: parameter sets in one STAP-A (after a delimiter), the slice in FU-A pieces.
    push(0, false, { 0x09, 0xF0 });
    push(0, false, cat({ { 0x18, 0, static_cast<std::uint8_t>(kSps.size()) }, kSps, { 0, static_cast<std::uint8_t>(kPps.size()) }, kPps }));
    auto pieces = fragments(0x65, 3000, 1000);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        push(0, i + 1 == pieces.size(), pieces[i]);
    // A small picture in one packet.
    push(3600, true, p1);
    // A picture whose middle fragment is lost, and one after it: neither decodes.
    pieces = fragments(0x41, 2500, 1000);
    push(7200, false, pieces[0]);
    ++sequence;
    push(7200, true, pieces[2]);
    push(10800, true, p1);
    // A key frame without its parameter sets: the ones seen are put before it.
    pieces = fragments(0x65, 3000, 1400);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        push(14400, i + 1 == pieces.size(), pieces[i]);
    // A picture that lost its marker ends when the next one begins.
    push(18000, false, p1);
    push(21600, true, p1);

    const Bytes key = cat({ kStart, kSps, kStart, kPps, kStart, idr });
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[0], key);
    EXPECT_TRUE(keys[0]);
    EXPECT_EQ(units[1], cat({ kStart, p1 }));
    EXPECT_FALSE(keys[1]);
    EXPECT_EQ(units[2], key) << "the lost picture, or the one after it, was handed on";
    EXPECT_TRUE(keys[2]);
    EXPECT_EQ(units[3], cat({ kStart, p1 }));
}

TEST(Rtsp, ParameterSetsOfTheDescriptionPrecedeAKeyFrameThatCarriesNone)
{
    H264Assembler assembler;
    assembler.SetParameterSets("Z0LAH9o=,aM48gA==");
    const Bytes idr = slice(0x65, 100);
    Packet p(1, 0, true, idr);
    ASSERT_TRUE(assembler.Push(p.parsed));
    EXPECT_EQ(assembler.Unit(), cat({ kStart, kSps, kStart, kPps, kStart, idr }));
}

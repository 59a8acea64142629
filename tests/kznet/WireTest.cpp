// The wire format's parsers against random and cut-short input: each parser
// gets a heap buffer of exactly the input's size (so a read past it is an
// error under AddressSanitizer) and must refuse what does not fit.

#include "kznet/Library.h"
#include "kznet/Wire.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace kz;
using namespace kz::wire;

namespace {

constexpr int kRounds = 4000;
constexpr std::size_t kMaxInput = 200;

// Runs every parser on `data`.
void parseAll(const std::uint8_t* data, std::size_t n)
{
    Header header;
    if (n >= kHeaderBytes)
        ParseHeader(data, n, header);
    LoginRequest login;
    ParseLogin(data, n, login);
    CommandRequest command;
    ParseCommand(data, n, command);
    OpenRequest open;
    ParseOpen(data, n, open);
    MediaControl control;
    ParseMediaControl(data, n, control);
    Status status;
    ParseStatus(data, n, status);
    FrameHeader frame;
    ParseFrameHeader(data, n, frame);
    int httpStatus;
    std::string body;
    kz::ParseHttpResponse(std::string(reinterpret_cast<const char*>(data), n), true, httpStatus, body);
}

}

TEST(kznetWire, ParsersSurviveRandomInputOfEveryLength)
{
    std::mt19937 random(12345);
    for (int round = 0; round < kRounds; ++round) {
        std::size_t n = random() % kMaxInput;
        auto data = std::make_unique<std::uint8_t[]>(n ? n : 1);
        for (std::size_t i = 0; i < n; ++i)
            data[i] = static_cast<std::uint8_t>(random());
        parseAll(data.get(), n);
    }
}

TEST(kznetWire, EveryMessageRoundTripsAndRefusesEveryShorterCut)
{
    LoginRequest login { 259, 77, 2, 1, "admin", "secret" };
    OpenRequest open { 3, 0, 0x10401, 258, 1, 0, "admin", "pw", "/rec/a.avi" };
    CommandRequest command { 13, 5, 0, "cmd=getDevInfo" };
    MediaControl control { MediaOp::Seek, 0, 0, 0, 12.5 };
    Status status { 5, 26, 50 };

    LoginRequest l;
    auto lp = PutLogin(login);
    ASSERT_TRUE(ParseLogin(lp.data(), lp.size(), l));
    EXPECT_EQ(l.mode, 259);
    EXPECT_EQ(l.groupID, 77);
    EXPECT_EQ(l.streamType, 2);
    EXPECT_EQ(l.user, "admin");
    EXPECT_EQ(l.password, "secret");
    OpenRequest o;
    auto op = PutOpen(open);
    ASSERT_TRUE(ParseOpen(op.data(), op.size(), o));
    EXPECT_EQ(o.tag, 0x10401);
    EXPECT_EQ(o.address, "/rec/a.avi");
    CommandRequest c;
    auto cp = PutCommand(command);
    ASSERT_TRUE(ParseCommand(cp.data(), cp.size(), c));
    EXPECT_EQ(c.a, 5);
    EXPECT_EQ(c.text, "cmd=getDevInfo");
    MediaControl m;
    auto mp = PutMediaControl(control);
    ASSERT_TRUE(ParseMediaControl(mp.data(), mp.size(), m));
    EXPECT_EQ(m.op, MediaOp::Seek);
    EXPECT_EQ(m.position, 12.5);
    Status s;
    auto sp = PutStatus(status);
    ASSERT_TRUE(ParseStatus(sp.data(), sp.size(), s));
    EXPECT_EQ(s.value, 50);

    // Every cut of a fixed-size message is refused; the variable ones are
    // refused below their fixed part.
    for (std::size_t n = 0; n < lp.size(); ++n)
        EXPECT_FALSE(ParseLogin(lp.data(), n, l)) << n;
    for (std::size_t n = 0; n < kOpenFixedBytes; ++n)
        EXPECT_FALSE(ParseOpen(op.data(), n, o)) << n;
    for (std::size_t n = 0; n < kCommandFixedBytes; ++n)
        EXPECT_FALSE(ParseCommand(cp.data(), n, c)) << n;
    for (std::size_t n = 0; n < mp.size(); ++n)
        EXPECT_FALSE(ParseMediaControl(mp.data(), n, m)) << n;
    for (std::size_t n = 0; n < sp.size(); ++n)
        EXPECT_FALSE(ParseStatus(sp.data(), n, s)) << n;

    // Unknown media operations and over-long texts are refused too.
    auto bad = mp;
    bad[0] = 42;
    EXPECT_FALSE(ParseMediaControl(bad.data(), bad.size(), m));
    std::vector<std::uint8_t> longCommand(kCommandFixedBytes + kMaxCommandText + 1, 'x');
    EXPECT_FALSE(ParseCommand(longCommand.data(), longCommand.size(), c));
    std::vector<std::uint8_t> longOpen(kOpenFixedBytes + kMaxAddress + 1, 'x');
    EXPECT_FALSE(ParseOpen(longOpen.data(), longOpen.size(), o));
}

TEST(kznetWire, HeaderRefusesBadMagicAndOversizedLengths)
{
    std::vector<std::uint8_t> h;
    PutHeader(h, Kind::Frame, kMaxPayload);
    Header header;
    EXPECT_EQ(ParseHeader(h.data(), h.size(), header), HeaderCheck::Ok);
    EXPECT_EQ(header.kind, Kind::Frame);
    std::vector<std::uint8_t> tooLong;
    PutHeader(tooLong, Kind::Frame, kMaxPayload + 1);
    EXPECT_EQ(ParseHeader(tooLong.data(), tooLong.size(), header), HeaderCheck::TooLong);
    h[0] ^= 1;
    EXPECT_EQ(ParseHeader(h.data(), h.size(), header), HeaderCheck::BadMagic);
    EXPECT_EQ(ParseHeader(h.data(), kHeaderBytes - 1, header), HeaderCheck::BadMagic);
}

#include "media/Decoder.h"

#include "gfx/Blit.h"

#include "support/Encoder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace media;

// Writes a sequence parameter set bit by bit.
class SpsWriter {
public:
    void bits(std::uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            bit((value >> i) & 1);
    }
    void bit(std::uint32_t b)
    {
        if (m_pos % 8 == 0)
            m_bytes.push_back(0);
        if (b)
            m_bytes.back() |= static_cast<std::uint8_t>(0x80 >> (m_pos % 8));
        ++m_pos;
    }
    void ue(std::uint32_t v)
    {
        std::uint32_t x = v + 1;
        int n = 0;
        while ((x >> n) > 1)
            ++n;
        bits(0, n);
        bits(x, n + 1);
    }
    void se(std::int32_t v) { ue(v > 0 ? static_cast<std::uint32_t>(2 * v - 1) : static_cast<std::uint32_t>(-2 * v)); }
    std::vector<std::uint8_t> done()
    {
        bit(1); // rbsp stop bit
        return m_bytes;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
};

std::vector<std::uint8_t> sps(int profile, std::uint32_t widthMbs, std::uint32_t heightMbs, bool scaling = false, std::uint32_t pocType = 0)
{
    SpsWriter w;
    w.bits(static_cast<std::uint32_t>(profile), 8);
    w.bits(0, 8);
    w.bits(40, 8);
    w.ue(0);
    if (profile == 100) {
        w.ue(1);    // chroma 4:2:0
        w.ue(0);    // bit depths
        w.ue(0);
        w.bit(0);
        w.bit(scaling);
        if (scaling) {
            for (int i = 0; i < 8; ++i) {
                w.bit(i == 0 || i == 6); // lists 0 and 6 present
                if (i == 0) {
                    for (int j = 0; j < 16; ++j)
                        w.se(1);
                } else if (i == 6) {
                    w.se(-8); // nextScale 0 ends the list at once
                }
            }
        }
    }
    w.ue(0);
    w.ue(pocType);
    if (pocType == 0) {
        w.ue(2);
    } else if (pocType == 1) {
        w.bit(0);
        w.se(-1);
        w.se(2);
        w.ue(3);
        w.se(1);
        w.se(-1);
        w.se(5);
    }
    w.ue(1);
    w.bit(0);
    w.ue(widthMbs - 1);
    w.ue(heightMbs - 1);
    w.bit(1); // frame_mbs_only_flag, not read
    return w.done();
}

TEST(ProbeH264Size, ReadsTheSizeAndCorrectsTheUsualPaddedHeights)
{
    struct Case {
        int profile;
        std::uint32_t mbsWide, mbsHigh;
        bool scaling;
        std::uint32_t poc;
        std::uint32_t width, height;
    };
    const Case cases[] = {
        { 66, 120, 68, false, 0, 1920, 1080 }, // 1088 rows
        { 66, 40, 23, false, 0, 640, 360 },    // 368
        { 66, 20, 12, false, 2, 320, 180 },    // 192
        { 66, 45, 30, false, 1, 720, 480 },    // other heights stay
        { 100, 80, 45, true, 0, 1280, 720 },   // high profile with scaling lists
        { 100, 120, 68, false, 0, 1920, 1080 },
    };
    for (const auto& c : cases) {
        auto s = sps(c.profile, c.mbsWide, c.mbsHigh, c.scaling, c.poc);
        std::uint32_t w = 0, h = 0;
        ASSERT_TRUE(ProbeH264Size(s.data(), s.size(), w, h)) << c.profile << " " << c.mbsWide << "x" << c.mbsHigh;
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
    }
}

TEST(ProbeH264Size, ATruncatedSetGivesNoSize)
{
    auto s = sps(100, 80, 45, true);
    for (std::size_t cut = 0; cut + 2 < s.size(); ++cut) {
        std::vector<std::uint8_t> part(s.begin(), s.begin() + static_cast<long>(cut));
        std::uint32_t w = 7, h = 7;
        EXPECT_FALSE(ProbeH264Size(part.data(), part.size(), w, h)) << "cut at " << cut;
        EXPECT_EQ(w, 7u);
    }
}

// Scaling list deltas outside -128..127 and macroblock counts whose size
// does not fit 32 bits are not a parameter set: no size, and no arithmetic
// that overflows on the way (the sanitizer builds abort on it).
TEST(ProbeH264Size, ASetWithImpossibleValuesGivesNoSize)
{
    // Found by fuzzing: a High 4:2:2 set whose scaling list deltas are huge.
    const std::uint8_t found[] = { 0x00, 0x00, 0x00, 0x01, 0x67, 0x7a, 0xfc, 0xfc, 0x01, 0xff, 0xff, 0xff, 0xff, 0xff,
        0xff, 0x00, 0x00, 0x00, 0x01, 0xff, 0xff, 0xff, 0x2c, 0xff, 0xff, 0xff };
    std::uint32_t w = 7, h = 7;
    EXPECT_FALSE(ProbeH264Size(found + 5, sizeof found - 5, w, h));
    EXPECT_EQ(w, 7u);
    EXPECT_EQ(h, 7u);

    auto withDelta = [](std::int32_t delta) {
        SpsWriter w;
        w.bits(100, 8);
        w.bits(0, 8);
        w.bits(40, 8);
        w.ue(0);
        w.ue(1); // chroma 4:2:0
        w.ue(0);
        w.ue(0);
        w.bit(0);
        w.bit(1); // scaling matrices
        w.bit(1); // list 0 present: one delta, then nextScale 0 ends it
        w.se(delta);
        std::int32_t next = (8 + delta + 256) % 256;
        w.se(next <= 128 ? -next : 256 - next);
        for (int i = 1; i < 8; ++i)
            w.bit(0);
        w.ue(0);
        w.ue(2); // no picture order fields
        w.ue(1);
        w.bit(0);
        w.ue(79);
        w.ue(44);
        w.bit(1);
        return w.done();
    };
    for (std::int32_t delta : { -128, 127 }) {
        auto s = withDelta(delta);
        EXPECT_TRUE(ProbeH264Size(s.data(), s.size(), w, h)) << delta;
        EXPECT_EQ(w, 1280u);
    }
    for (std::int32_t delta : { -129, 128, 0x3FFFFFFF, -0x3FFFFFFF }) {
        auto s = withDelta(delta);
        w = h = 7;
        EXPECT_FALSE(ProbeH264Size(s.data(), s.size(), w, h)) << delta;
        EXPECT_EQ(w, 7u);
    }
    // 2^28 + 1 macroblocks wide would wrap to 16 pixels.
    auto wrapping = sps(66, (1u << 28) + 1, 45);
    EXPECT_FALSE(ProbeH264Size(wrapping.data(), wrapping.size(), w, h));
    EXPECT_EQ(w, 7u);
    auto widest = sps(66, (1u << 28) - 1, 45);
    EXPECT_TRUE(ProbeH264Size(widest.data(), widest.size(), w, h));
    EXPECT_EQ(w, 0xFFFFFFF0u);
}

TEST(ProbeH264Size, AgreesWithARealEncoder)
{
    for (auto [width, height] : { std::pair { 640, 360 }, std::pair { 320, 180 }, std::pair { 352, 288 } }) {
        auto packets = testing_support::EncodeH264(width, height, 1);
        ASSERT_FALSE(packets.empty());
        auto s = testing_support::FindSps(packets[0]);
        ASSERT_FALSE(s.empty());
        std::uint32_t w = 0, h = 0;
        ASSERT_TRUE(ProbeH264Size(s.data(), s.size(), w, h));
        EXPECT_EQ(w, static_cast<std::uint32_t>(width));
        EXPECT_EQ(h, static_cast<std::uint32_t>(height));
    }
}

TEST(ProbeJpegSize, FindsTheFrameHeaderBehindOtherSegmentsAndNothingElse)
{
    auto jpeg = testing_support::EncodeJpeg(176, 144, 0);
    ASSERT_GT(jpeg.size(), 100u);
    std::uint32_t w = 0, h = 0;
    ASSERT_TRUE(ProbeJpegSize(jpeg.data(), jpeg.size(), w, h));
    EXPECT_EQ(w, 176u);
    EXPECT_EQ(h, 144u);

    // APP0 and DQT before SOF0, by hand.
    std::vector<std::uint8_t> manual = { 0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'J', 'F', 0xFF, 0xDB, 0x00, 0x03, 0x00,
        0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03 };
    ASSERT_TRUE(ProbeJpegSize(manual.data(), manual.size(), w, h));
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(h, 480u);

    std::vector<std::uint8_t> progressive = manual;
    progressive[14] = 0xC2;
    w = h = 0;
    EXPECT_TRUE(ProbeJpegSize(progressive.data(), progressive.size(), w, h)) << "a progressive picture's size";
    EXPECT_EQ(w, 640u);
    std::vector<std::uint8_t> table = manual;
    table[14] = 0xC4; // a Huffman table in the frame markers' range
    EXPECT_FALSE(ProbeJpegSize(table.data(), table.size(), w, h));
    std::vector<std::uint8_t> notJpeg = manual;
    notJpeg[1] = 0xD9;
    EXPECT_FALSE(ProbeJpegSize(notJpeg.data(), notJpeg.size(), w, h));
    for (std::size_t cut = 2; cut < 22; ++cut) // 22 bytes hold the width
        EXPECT_FALSE(ProbeJpegSize(manual.data(), cut, w, h)) << "cut at " << cut;
    // A segment length that points past the end.
    std::vector<std::uint8_t> runaway = { 0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xF0, 0x00 };
    EXPECT_FALSE(ProbeJpegSize(runaway.data(), runaway.size(), w, h));
}

double meanAbsDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / static_cast<double>(n);
}

TEST(Decoder, DecodesH264PlaneByPlaneIntoI420)
{
    const int w = 320, h = 240;
    auto packets = testing_support::EncodeH264(w, h, 5);
    ASSERT_EQ(packets.size(), 5u);
    DecoderState d;
    ASSERT_TRUE(DecoderOpen(d, Codec::H264, w, h, PixelFormat::Yuv420p));
    ASSERT_EQ(d.outputSize, w * h * 3 / 2);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(d.outputSize));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(DecoderDecode(d, packets[static_cast<std::size_t>(i)].data(), packets[static_cast<std::size_t>(i)].size(), out.data())) << "frame " << i;
        auto expected = testing_support::TestPicture(w, h, i);
        EXPECT_LT(meanAbsDifference(out.data(), expected.y.data(), expected.y.size()), 6.0) << "frame " << i;
        EXPECT_NEAR(out[static_cast<std::size_t>(w * h)], 90, 4) << "the U plane follows Y";
    }
    DecoderClose(d);
    EXPECT_EQ(d.width, 0);
    EXPECT_FALSE(DecoderDecode(d, packets[0].data(), packets[0].size(), out.data()));
}

TEST(Decoder, ConvertsMotionJpegToBgraWithTheScaler)
{
    const int w = 160, h = 120;
    auto jpeg = testing_support::EncodeJpeg(w, h, 3);
    DecoderState d;
    ASSERT_TRUE(DecoderOpen(d, Codec::Mjpeg, w, h, PixelFormat::Bgra));
    ASSERT_EQ(d.outputSize, w * h * 4);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(d.outputSize));
    ASSERT_TRUE(DecoderDecode(d, jpeg.data(), jpeg.size(), out.data()));
    EXPECT_NE(d.scaler, nullptr);
    // The bar at x = 24 is bright; the left edge is dark.
    const std::uint8_t* bar = out.data() + (60 * w + 24) * 4;
    const std::uint8_t* edge = out.data() + (60 * w + 0) * 4;
    EXPECT_GT(bar[1], 150);
    EXPECT_LT(edge[1], 80);
    EXPECT_EQ(bar[3], 255) << "alpha";
}

TEST(Decoder, APayloadLargerThanThePictureIsNotCopiedPastTheBuffer)
{
    // A tiny picture whose JPEG is larger than the raw picture.
    const int w = 16, h = 16;
    auto jpeg = testing_support::EncodeJpeg(w, h, 0);
    std::vector<std::uint8_t> big(jpeg.begin(), jpeg.begin() + 2);
    std::vector<std::uint8_t> comment = { 0xFF, 0xFE, 0x10, 0x02 };
    comment.resize(0x1002 + 2, 'x');
    big.insert(big.end(), comment.begin(), comment.end());
    big.insert(big.end(), jpeg.begin() + 2, jpeg.end());
    DecoderState d;
    ASSERT_TRUE(DecoderOpen(d, Codec::Mjpeg, w, h, PixelFormat::Yuv420p));
    ASSERT_GT(big.size(), static_cast<std::size_t>(d.outputSize));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(d.outputSize));
    EXPECT_TRUE(DecoderDecode(d, big.data(), big.size(), out.data()));
    std::vector<std::uint8_t> huge(kMaxPayloadBytes + 1, 0);
    EXPECT_FALSE(DecoderDecode(d, huge.data(), huge.size(), out.data())) << "an oversized frame is dropped";
}

TEST(Decoder, AnUnknownCodecStaysClosed)
{
    DecoderState d;
    EXPECT_FALSE(DecoderOpen(d, static_cast<Codec>(99999), 64, 64, PixelFormat::Yuv420p));
    EXPECT_EQ(d.width, 0);
    EXPECT_FALSE(DecoderOpen(d, Codec::H264, 0, 64, PixelFormat::Yuv420p));
}

}

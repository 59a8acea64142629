// The hostile camera's frames and messages: size claims are real H.264 that
// FFmpeg decodes at the claimed size, and the message builders cut and
// inflate exactly as they say.

#include "sim/Hostile.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>

namespace {

// Decodes one access unit; the picture's size and whether every luma
// sample is `level`, or {0, 0} when nothing decodes.
struct Decoded {
    int width = 0;
    int height = 0;
    bool flat = false;
};

Decoded decode(const std::vector<std::uint8_t>& unit, std::uint8_t level)
{
    Decoded out;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::uint8_t> padded(unit);
    padded.resize(unit.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    context->err_recognition = AV_EF_EXPLODE; // a broken stream fails here rather than being concealed
    if (avcodec_open2(context, codec, nullptr) == 0) {
        packet->data = padded.data();
        packet->size = static_cast<int>(unit.size());
        avcodec_send_packet(context, packet);
        avcodec_send_packet(context, nullptr);
        if (avcodec_receive_frame(context, frame) == 0) {
            out.width = frame->width;
            out.height = frame->height;
            out.flat = true;
            for (int y = 0; y < frame->height; ++y) {
                const std::uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
                out.flat = out.flat && std::all_of(row, row + frame->width, [&](std::uint8_t v) { return v == level; });
            }
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return out;
}

}

TEST(SimHostile, SizeClaimPicturesDecodeAsFlatGreyAtTheClaimedSize)
{
    constexpr std::uint8_t kMidGrey = 128; // DC prediction with no neighbours
    const sim::PictureSize sizes[] = { { 16, 16 }, { 2, 2 }, { 642, 362 }, { 1920, 1080 }, { 4096, 16 } };
    for (auto size : sizes) {
        auto unit = sim::SizeClaimFrame(size, sim::ClaimContent::Picture);
        ASSERT_FALSE(unit.empty());
        EXPECT_EQ(unit[4], 0x67) << "the sequence set first, where the control probes it";
        Decoded d = decode(unit, kMidGrey);
        EXPECT_EQ(d.width, size.width);
        EXPECT_EQ(d.height, size.height);
        EXPECT_TRUE(d.flat) << size.width << "x" << size.height;
    }
}

TEST(SimHostile, ABareClaimIsSmallAndDecodesToNothing)
{
    auto unit = sim::SizeClaimFrame({ 16000, 16000 }, sim::ClaimContent::ParamsOnly);
    ASSERT_FALSE(unit.empty());
    EXPECT_LT(unit.size(), 40u);
    EXPECT_EQ(decode(unit, 0).width, 0);
    // A whole picture of that size is one byte a macroblock.
    auto picture = sim::SizeClaimFrame({ 16000, 16000 }, sim::ClaimContent::Picture);
    EXPECT_GT(picture.size(), 1000u * 1000u);
    EXPECT_LT(picture.size(), 1000u * 1000u + 64u);
}

TEST(SimHostile, SizesAClaimCannotCarryAreRefused)
{
    const sim::PictureSize refused[] = { { 0, 16 }, { 16, 0 }, { -16, 16 }, { 15, 16 }, { 16, 17 }, { sim::kMaxClaimSide + 2, 16 } };
    for (auto size : refused)
        EXPECT_TRUE(sim::SizeClaimFrame(size, sim::ClaimContent::ParamsOnly).empty()) << size.width << "x" << size.height;
    EXPECT_FALSE(sim::SizeClaimFrame({ sim::kMaxClaimSide, sim::kMaxClaimSide }, sim::ClaimContent::ParamsOnly).empty());
    EXPECT_TRUE(sim::SizeClaimFrame({ sim::kMaxClaimSide, sim::kMaxClaimSide }, sim::ClaimContent::Picture).empty()) << "more than one message holds";
}

TEST(SimHostile, TruncatedAndOversizedMessagesDeclareMoreThanTheyCarry)
{
    using namespace kz::wire;
    std::vector<std::uint8_t> payload(100, 7);
    auto cut = sim::TruncatedMessage(Kind::Frame, payload, 30);
    ASSERT_EQ(cut.size(), kHeaderBytes + 30);
    Header h;
    ASSERT_EQ(ParseHeader(cut.data(), kHeaderBytes, h), HeaderCheck::Ok);
    EXPECT_EQ(h.kind, Kind::Frame);
    EXPECT_EQ(h.length, 100u);

    auto big = sim::OversizedMessage(Kind::Control, kMaxPayload + 1, 5);
    ASSERT_EQ(big.size(), kHeaderBytes + 5);
    EXPECT_EQ(ParseHeader(big.data(), kHeaderBytes, h), HeaderCheck::TooLong);
}

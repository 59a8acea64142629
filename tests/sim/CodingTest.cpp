// The simulated camera's media codings: G.726 against the reference coder's
// vectors, IMA ADPCM, and the video encoder's bitstream shape.

#include "sim/AudioCoder.h"
#include "sim/VideoEncoder.h"

#include "audio/ImaAdpcm.h"
#include "kznet/H264Size.h"
#include "kznet/Protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

namespace {

std::vector<std::uint8_t> fromHex(const std::string& hex)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::int16_t> tone(std::size_t count, double hz, double amplitude)
{
    std::vector<std::int16_t> s(count);
    for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / 8000.0)));
    return s;
}

}

TEST(simG726, MatchesTheReferenceCoderOnEveryVector)
{
    std::ifstream in(TIRAVEX_TESTDATA "/g726-16k-linear.txt");
    ASSERT_TRUE(in) << "test vectors missing";
    std::string line, name;
    std::vector<std::uint8_t> pcm;
    int vectors = 0;
    while (std::getline(in, line)) {
        if (line.rfind("name: ", 0) == 0) {
            name = line.substr(6);
        } else if (line.rfind("pcm: ", 0) == 0) {
            pcm = fromHex(line.substr(5));
        } else if (line.rfind("g726: ", 0) == 0) {
            auto expected = fromHex(line.substr(6));
            ASSERT_EQ(pcm.size(), 960u) << name;
            ASSERT_EQ(expected.size(), 120u) << name;
            std::vector<std::int16_t> samples(480);
            for (std::size_t i = 0; i < 480; ++i)
                samples[i] = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
            std::vector<std::uint8_t> coded(120);
            sim::G726EncodeBlock(samples.data(), coded.data());
            EXPECT_EQ(coded, expected) << name;
            ++vectors;
        }
    }
    EXPECT_EQ(vectors, 8);
}

TEST(simG726, BlocksAreCodedIndependently)
{
    auto a = tone(480, 440, 8000), b = tone(480, 1000, 12000);
    std::vector<std::uint8_t> first(120), again(120), other(120);
    sim::G726EncodeBlock(a.data(), first.data());
    sim::G726EncodeBlock(b.data(), other.data());
    sim::G726EncodeBlock(a.data(), again.data());
    EXPECT_EQ(first, again);
}

TEST(simImaAdpcm, SilenceFromZeroStateGivesZeroBytesAndKeepsTheState)
{
    std::vector<std::int16_t> silence(320, 0);
    std::vector<std::uint8_t> out(160, 0xAA);
    sim::AdpcmEncoder encoder;
    encoder.Encode(silence.data(), silence.size(), out.data());
    EXPECT_EQ(out, std::vector<std::uint8_t>(160, 0));
    EXPECT_EQ(encoder.Predictor(), 0);
    EXPECT_EQ(encoder.StepIndex(), 0);
}

// The camera's encoder and the control's decoder are written apart: what
// one codes, the other must follow, block after block.
TEST(simImaAdpcm, TheControlsDecoderFollowsTheCamerasEncoderAcrossBlocks)
{
    auto samples = tone(640, 440, 8000);
    sim::AdpcmEncoder blocks;
    std::vector<std::uint8_t> codes(320);
    // Two blocks in a row with a persistent state equal one long run.
    blocks.Encode(samples.data(), 320, codes.data());
    blocks.Encode(samples.data() + 320, 320, codes.data() + 160);
    sim::AdpcmEncoder whole;
    std::vector<std::uint8_t> once(320);
    whole.Encode(samples.data(), 640, once.data());
    EXPECT_EQ(codes, once);

    audio::ImaAdpcmState dec;
    std::vector<std::int16_t> decoded(640);
    audio::ImaAdpcmDecode(codes.data(), 160, dec, decoded.data());
    audio::ImaAdpcmDecode(codes.data() + 160, 160, dec, decoded.data() + 320);
    EXPECT_EQ(dec.predictor, blocks.Predictor());
    EXPECT_EQ(dec.index, blocks.StepIndex());
    double error = 0, power = 0;
    for (std::size_t i = 64; i < 640; ++i) { // after the coder has settled
        error += std::pow(decoded[i] - samples[i], 2);
        power += std::pow(samples[i], 2);
    }
    EXPECT_GT(10 * std::log10(power / error), 15.0) << "signal-to-noise ratio in dB";

    // And the control's encoder codes the same bytes.
    audio::ImaAdpcmState control;
    std::vector<std::uint8_t> controlCodes(320);
    audio::ImaAdpcmEncode(samples.data(), 640, control, controlCodes.data());
    EXPECT_EQ(controlCodes, once);
}

TEST(simImaAdpcm, FirstSampleIsTheHighNibble)
{
    std::int16_t samples[2] = { 1000, 0 };
    sim::AdpcmEncoder encoder;
    std::uint8_t out = 0;
    encoder.Encode(samples, 2, &out);
    // 1000 from 0: magnitude 7, predictor 12, index 8; then 0: sign, 4 * 12 / 16 = 3.
    EXPECT_EQ(out, 0x7B);
}

TEST(simToneCoder, BlockSizesFollowTheCoding)
{
    EXPECT_EQ(sim::ToneCoder(kz::kAudioPcm, 440, 8000).NextBlock().size(), 960u);
    EXPECT_EQ(sim::ToneCoder(kz::kAudioG726, 440, 8000).NextBlock().size(), 120u);
    EXPECT_EQ(sim::ToneCoder(kz::kAudioAdpcm, 440, 8000).NextBlock().size(), 160u);
    EXPECT_EQ(sim::ToneCoder(kz::kAudioPcm, 440, 8000).BlockMs(), 60);
    EXPECT_EQ(sim::ToneCoder(kz::kAudioAdpcm, 440, 8000).BlockMs(), 40);
}

TEST(simVideoEncoder, H264KeyFramesStartWithTheParameterSetAndCarryTheSize)
{
    auto encoder = sim::VideoEncoder::Create({ sim::Codec::H264, 352, 288, 10, 5 });
    ASSERT_TRUE(encoder);
    int keys = 0;
    for (std::uint32_t n = 0; n < 11; ++n) {
        sim::EncodedFrame frame;
        ASSERT_TRUE(encoder->Encode(n, frame));
        ASSERT_GT(frame.data.size(), 5u);
        EXPECT_EQ(frame.key, n % 5 == 0) << "frame " << n;
        if (!frame.key) {
            EXPECT_NE(frame.data[4], 0x67) << "frame " << n;
            continue;
        }
        ++keys;
        unsigned w = 0, h = 0;
        ASSERT_TRUE(testing_h264::SpsSize(frame.data.data(), frame.data.size(), w, h)) << "frame " << n;
        EXPECT_EQ(w, 352u);
        EXPECT_EQ(h, 288u);
    }
    EXPECT_EQ(keys, 3);
}

TEST(simVideoEncoder, MjpegFramesCarryTheSizeInSof0)
{
    auto encoder = sim::VideoEncoder::Create({ sim::Codec::Mjpeg, 320, 240, 10, 1 });
    ASSERT_TRUE(encoder);
    sim::EncodedFrame frame;
    ASSERT_TRUE(encoder->Encode(3, frame));
    unsigned w = 0, h = 0;
    ASSERT_TRUE(testing_h264::JpegSize(frame.data.data(), frame.data.size(), w, h));
    EXPECT_EQ(w, 320u);
    EXPECT_EQ(h, 240u);
    EXPECT_TRUE(frame.key);
}

TEST(simVideoEncoder, RefusesUnusableSettings)
{
    EXPECT_FALSE(sim::VideoEncoder::Create({ sim::Codec::H264, 0, 240, 10, 1 }));
    EXPECT_FALSE(sim::VideoEncoder::Create({ sim::Codec::H264, 321, 240, 10, 1 }));
    EXPECT_FALSE(sim::VideoEncoder::Create({ sim::Codec::Mjpeg, 320, 240, 0, 1 }));
}

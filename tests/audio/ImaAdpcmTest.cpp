#include "audio/ImaAdpcm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(ImaAdpcm, SilenceFromAZeroStateCodesToZeroBytesAndKeepsTheStateZero)
{
    std::vector<std::int16_t> silence(audio::kImaAdpcmBlockSamples, 0);
    std::vector<std::uint8_t> codes(audio::kImaAdpcmBlockBytes, 0xAA);
    audio::ImaAdpcmState state;
    audio::ImaAdpcmEncode(silence.data(), silence.size(), state, codes.data());
    EXPECT_EQ(codes, std::vector<std::uint8_t>(audio::kImaAdpcmBlockBytes, 0));
    EXPECT_EQ(state.predictor, 0);
    EXPECT_EQ(state.index, 0);
}

TEST(ImaAdpcm, ATonePassesThroughTheCoderAndItsStateCarriesOver)
{
    constexpr int kBlocks = 4;
    std::vector<std::int16_t> tone(audio::kImaAdpcmBlockSamples * kBlocks);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * 700.0 * static_cast<double>(i) / 8000.0));
    audio::ImaAdpcmState encoder, decoder;
    std::vector<std::int16_t> back(tone.size());
    for (int b = 0; b < kBlocks; ++b) {
        std::uint8_t codes[audio::kImaAdpcmBlockBytes];
        audio::ImaAdpcmEncode(tone.data() + b * 320, 320, encoder, codes);
        audio::ImaAdpcmDecode(codes, sizeof codes, decoder, back.data() + b * 320);
    }
    EXPECT_EQ(encoder.predictor, decoder.predictor) << "the decoder tracks the encoder";
    EXPECT_EQ(encoder.index, decoder.index);
    double error = 0, power = 0;
    for (std::size_t i = 320; i < tone.size(); ++i) {
        error += std::pow(tone[i] - back[i], 2);
        power += std::pow(tone[i], 2);
    }
    EXPECT_LT(error / power, 0.05) << "more than 5 % of the tone's power lost";
    // The first sample of each pair sits in the high nibble.
    std::int16_t two[2] = { 3000, 0 };
    std::uint8_t one = 0;
    audio::ImaAdpcmState fresh;
    audio::ImaAdpcmEncode(two, 2, fresh, &one);
    EXPECT_EQ(one >> 4, 7);
}

}

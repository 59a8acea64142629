#include "audio/G726.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Vector {
    std::string name;
    std::vector<std::int16_t> pcm;
    std::vector<std::uint8_t> codes;
};

std::vector<std::uint8_t> hex(const std::string& text)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<Vector> referenceVectors()
{
    std::ifstream in(TIRAVEX_TESTDATA "/g726-16k-linear.txt");
    std::vector<Vector> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("name: ", 0) == 0) {
            out.push_back({ line.substr(6), {}, {} });
        } else if (line.rfind("pcm: ", 0) == 0 && !out.empty()) {
            auto bytes = hex(line.substr(5));
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
                out.back().pcm.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
        } else if (line.rfind("g726: ", 0) == 0 && !out.empty()) {
            out.back().codes = hex(line.substr(6));
        }
    }
    return out;
}

TEST(G726, MatchesTheReferenceCoderBitForBit)
{
    auto vectors = referenceVectors();
    ASSERT_EQ(vectors.size(), 8u);
    for (const auto& v : vectors) {
        ASSERT_EQ(v.pcm.size(), audio::kG726BlockSamples) << v.name;
        ASSERT_EQ(v.codes.size(), audio::kG726BlockBytes) << v.name;
        std::uint8_t codes[audio::kG726BlockBytes];
        ASSERT_TRUE(audio::G726EncodeBlock(v.pcm.data(), codes));
        EXPECT_EQ(std::vector<std::uint8_t>(codes, codes + sizeof codes), v.codes) << v.name;
    }
}

TEST(G726, EqualBlocksCodeEquallyWhateverCameBefore)
{
    auto vectors = referenceVectors();
    ASSERT_GE(vectors.size(), 2u);
    std::uint8_t first[audio::kG726BlockBytes], again[audio::kG726BlockBytes], other[audio::kG726BlockBytes];
    audio::G726EncodeBlock(vectors.back().pcm.data(), first);
    audio::G726EncodeBlock(vectors[1].pcm.data(), other);
    audio::G726EncodeBlock(vectors.back().pcm.data(), again);
    EXPECT_EQ(std::vector<std::uint8_t>(first, first + 120), std::vector<std::uint8_t>(again, again + 120));
}

TEST(G726, ADecodedToneKeepsItsShape)
{
    std::int16_t tone[audio::kG726BlockSamples];
    for (std::size_t i = 0; i < audio::kG726BlockSamples; ++i)
        tone[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 500.0 * static_cast<double>(i) / 8000.0));
    std::uint8_t codes[audio::kG726BlockBytes];
    std::int16_t back[audio::kG726BlockSamples];
    ASSERT_TRUE(audio::G726EncodeBlock(tone, codes));
    ASSERT_TRUE(audio::G726DecodeBlock(codes, back));
    // Correlation of the second half (the coder has adapted by then).
    double dot = 0, a = 0, b = 0;
    for (std::size_t i = 240; i < audio::kG726BlockSamples; ++i) {
        dot += double(tone[i]) * back[i];
        a += double(tone[i]) * tone[i];
        b += double(back[i]) * back[i];
    }
    EXPECT_GT(dot / std::sqrt(a * b), 0.8);
}

}

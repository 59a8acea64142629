#pragma once
// G.726 at 16 kbit/s (2-bit codes), as the camera's audio and the user's
// voice travel: 480 samples of 16-bit PCM to 120 bytes, four codes a byte,
// the first sample in the two most significant bits. Every block is coded
// with a fresh coder state, in both directions, so blocks stand alone.

#include <cstddef>
#include <cstdint>

namespace audio {

constexpr std::size_t kG726BlockSamples = 480;
constexpr std::size_t kG726BlockBytes = 120;

// Codes one block; false only when the coder cannot be made.
bool G726EncodeBlock(const std::int16_t* samples, std::uint8_t* codes);
// Decodes one block into 480 samples.
bool G726DecodeBlock(const std::uint8_t* codes, std::int16_t* samples);

}

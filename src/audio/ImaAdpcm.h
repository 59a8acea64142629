#pragma once
// IMA ADPCM at 4 bits per sample: the camera's third audio coding. Blocks of
// 160 bytes carry 320 samples, two codes per byte, the first sample in the
// high nibble. The coder state persists from block to block; the caller owns
// it and zeroes it when a stream starts. Plain functions, any thread.

#include <cstddef>
#include <cstdint>

namespace audio {

struct ImaAdpcmState {
    std::int32_t predictor = 0; // last sample, -32768..32767
    std::int32_t index = 0;     // step index, 0..88
};

constexpr std::size_t kImaAdpcmBlockBytes = 160;
constexpr std::size_t kImaAdpcmBlockSamples = 320;

// Codes `count` samples into (count + 1) / 2 bytes of `out`.
void ImaAdpcmEncode(const std::int16_t* samples, std::size_t count, ImaAdpcmState& state, std::uint8_t* out);

// Decodes `bytes` bytes into 2 * bytes samples of `out`.
void ImaAdpcmDecode(const std::uint8_t* codes, std::size_t bytes, ImaAdpcmState& state, std::int16_t* out);

}

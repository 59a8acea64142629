#include "audio/ImaAdpcm.h"

namespace audio {

namespace {

constexpr std::int32_t kStepTable[89] = {
    7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45,
    50, 55, 60, 66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307,
    337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066,
    2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899,
    15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};
constexpr std::int32_t kIndexTable[8] = { -1, -1, -1, -1, 2, 4, 6, 8 };
constexpr std::int32_t kMaxIndex = 88;
constexpr std::int32_t kSignBit = 8;
constexpr std::int32_t kMagnitudeMask = 7;
constexpr std::int32_t kMaxMagnitude = 7;

std::int32_t clamp(std::int32_t v, std::int32_t low, std::int32_t high) { return v < low ? low : v > high ? high : v; }

// Applies one code to the state; returns the new predictor.
std::int32_t step(std::int32_t code, ImaAdpcmState& state)
{
    std::int32_t size = kStepTable[state.index];
    std::int32_t m = code & kMagnitudeMask;
    std::int32_t r = size * m / 4 + size / 8;
    state.predictor = clamp((code & kSignBit) ? state.predictor - r : state.predictor + r, -32768, 32767);
    state.index = clamp(state.index + kIndexTable[m], 0, kMaxIndex);
    return state.predictor;
}

std::uint8_t encodeOne(std::int32_t x, ImaAdpcmState& state)
{
    state.index = clamp(state.index, 0, kMaxIndex);
    std::int32_t d = x - state.predictor;
    std::int32_t sign = 0;
    if (d < 0) {
        sign = kSignBit;
        d = -d;
    }
    std::int32_t m = 4 * d / kStepTable[state.index];
    if (m > kMaxMagnitude)
        m = kMaxMagnitude;
    std::int32_t code = sign | m;
    step(code, state);
    return static_cast<std::uint8_t>(code);
}

}

void ImaAdpcmEncode(const std::int16_t* samples, std::size_t count, ImaAdpcmState& state, std::uint8_t* out)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t code = encodeOne(samples[i], state);
        if (i % 2 == 0)
            out[i / 2] = static_cast<std::uint8_t>(code << 4); // even samples: high nibble of a fresh byte
        else
            out[i / 2] |= code;
    }
}

void ImaAdpcmDecode(const std::uint8_t* codes, std::size_t bytes, ImaAdpcmState& state, std::int16_t* out)
{
    state.index = clamp(state.index, 0, kMaxIndex);
    for (std::size_t i = 0; i < bytes; ++i) {
        out[2 * i] = static_cast<std::int16_t>(step(codes[i] >> 4, state));
        out[2 * i + 1] = static_cast<std::int16_t>(step(codes[i] & 0x0F, state));
    }
}

}

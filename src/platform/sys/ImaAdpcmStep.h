#pragma once
// One IMA ADPCM code at 4 bits per sample, both ways: the step the network
// library's sound codings and the control's audio both build their blocks on.
// The state (last sample and step index) is the caller's.

#include <algorithm>
#include <cstdint>

namespace sys {

constexpr std::int32_t kImaStepTable[89] = {
    7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45,
    50, 55, 60, 66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307,
    337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066,
    2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899,
    15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};
constexpr std::int32_t kImaIndexTable[8] = { -1, -1, -1, -1, 2, 4, 6, 8 };
constexpr std::int32_t kImaMaxIndex = 88;
constexpr std::int32_t kImaSignBit = 8;
constexpr std::int32_t kImaMagnitudeMask = 7;
constexpr std::int32_t kImaMaxMagnitude = 7;
constexpr std::int32_t kImaSampleMin = -32768;
constexpr std::int32_t kImaSampleMax = 32767;

// Applies one code to the state (an index out of range is first brought
// into it); returns the new sample.
inline std::int16_t ImaDecodeStep(std::int32_t code, std::int32_t& predictor, std::int32_t& index)
{
    index = std::clamp(index, 0, kImaMaxIndex);
    std::int32_t size = kImaStepTable[index];
    std::int32_t m = code & kImaMagnitudeMask;
    std::int32_t r = size * m / 4 + size / 8;
    predictor = std::clamp((code & kImaSignBit) ? predictor - r : predictor + r, kImaSampleMin, kImaSampleMax);
    index = std::clamp(index + kImaIndexTable[m], 0, kImaMaxIndex);
    return static_cast<std::int16_t>(predictor);
}

// Codes one sample and moves the state as the decoder will.
inline std::uint8_t ImaEncodeStep(std::int32_t x, std::int32_t& predictor, std::int32_t& index)
{
    index = std::clamp(index, 0, kImaMaxIndex);
    std::int32_t d = x - predictor;
    std::int32_t sign = 0;
    if (d < 0) {
        sign = kImaSignBit;
        d = -d;
    }
    std::int32_t code = sign | std::min(4 * d / kImaStepTable[index], kImaMaxMagnitude);
    ImaDecodeStep(code, predictor, index);
    return static_cast<std::uint8_t>(code);
}

}

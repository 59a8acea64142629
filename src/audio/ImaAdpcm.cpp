#include "audio/ImaAdpcm.h"

#include "sys/ImaAdpcmStep.h"

namespace audio {

void ImaAdpcmEncode(const std::int16_t* samples, std::size_t count, ImaAdpcmState& state, std::uint8_t* out)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t code = sys::ImaEncodeStep(samples[i], state.predictor, state.index);
        if (i % 2 == 0)
            out[i / 2] = static_cast<std::uint8_t>(code << 4); // even samples: high nibble of a fresh byte
        else
            out[i / 2] |= code;
    }
}

void ImaAdpcmDecode(const std::uint8_t* codes, std::size_t bytes, ImaAdpcmState& state, std::int16_t* out)
{
    for (std::size_t i = 0; i < bytes; ++i) {
        out[2 * i] = sys::ImaDecodeStep(codes[i] >> 4, state.predictor, state.index);
        out[2 * i + 1] = sys::ImaDecodeStep(codes[i] & 0x0F, state.predictor, state.index);
    }
}

}

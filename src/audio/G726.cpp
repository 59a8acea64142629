#include "audio/G726.h"

#include <spandsp.h>

namespace audio {

namespace {
constexpr int kBitRate = 16000;
}

bool G726EncodeBlock(const std::int16_t* samples, std::uint8_t* codes)
{
    g726_state_t* coder = g726_init(nullptr, kBitRate, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    if (!coder)
        return false;
    g726_encode(coder, codes, samples, static_cast<int>(kG726BlockSamples));
    g726_free(coder);
    return true;
}

bool G726DecodeBlock(const std::uint8_t* codes, std::int16_t* samples)
{
    g726_state_t* coder = g726_init(nullptr, kBitRate, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    if (!coder)
        return false;
    g726_decode(coder, samples, codes, static_cast<int>(kG726BlockBytes));
    g726_free(coder);
    return true;
}

}

#include "sim/AudioCoder.h"

#include "kznet/Protocol.h"

extern "C" {
#include <spandsp.h>
}

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
constexpr int kG726BitRate = 16000;

// The 89 step sizes of IMA ADPCM and the step-index changes by magnitude.
constexpr int kStepSizes[] = {
    7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88, 97, 107, 118,
    130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060,
    1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894, 6484,
    7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};
constexpr int kIndexChanges[] = { -1, -1, -1, -1, 2, 4, 6, 8 };
constexpr int kMaxStepIndex = 88;
constexpr int kSignBit = 8;
constexpr int kMaxMagnitude = 7;
}

void AdpcmEncoder::Encode(const std::int16_t* samples, std::size_t count, std::uint8_t* out)
{
    for (std::size_t i = 0; i < count; ++i) {
        int step = kStepSizes[m_index];
        int difference = samples[i] - m_predictor;
        int sign = difference < 0 ? kSignBit : 0;
        if (sign)
            difference = -difference;
        int magnitude = std::min(4 * difference / step, kMaxMagnitude);
        int change = step * magnitude / 4 + step / 8;
        m_predictor = std::clamp(sign ? m_predictor - change : m_predictor + change, -32768, 32767);
        m_index = std::clamp(m_index + kIndexChanges[magnitude], 0, kMaxStepIndex);
        auto code = static_cast<std::uint8_t>(sign | magnitude);
        if (i % 2 == 0)
            out[i / 2] = static_cast<std::uint8_t>(code << 4);
        else
            out[i / 2] |= code;
    }
}

std::size_t BlockBytes(int coding)
{
    switch (coding) {
    case kz::kAudioPcm: return kPcmBlockBytes;
    case kz::kAudioG726: return kG726BlockBytes;
    case kz::kAudioAdpcm: return kAdpcmBlockBytes;
    }
    return 0;
}

std::size_t BlockSamples(int coding)
{
    switch (coding) {
    case kz::kAudioPcm: return kPcmBlockBytes / 2;
    case kz::kAudioG726: return kG726BlockSamples;
    case kz::kAudioAdpcm: return kAdpcmBlockSamples;
    }
    return 0;
}

void G726EncodeBlock(const std::int16_t* samples, std::uint8_t* out)
{
    g726_state_t* state = g726_init(nullptr, kG726BitRate, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    if (!state)
        return;
    g726_encode(state, out, samples, static_cast<int>(kG726BlockSamples));
    g726_free(state);
}

void G726DecodeBlock(const std::uint8_t* codes, std::int16_t* out)
{
    g726_state_t* state = g726_init(nullptr, kG726BitRate, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    if (!state)
        return;
    g726_decode(state, out, codes, static_cast<int>(kG726BlockBytes));
    g726_free(state);
}

ToneCoder::ToneCoder(int coding, int hz, int amplitude) : m_coding(coding), m_hz(hz), m_amplitude(amplitude) { }

int ToneCoder::BlockMs() const
{
    return static_cast<int>(BlockSamples(m_coding) * 1000 / kSampleRate);
}

std::vector<std::uint8_t> ToneCoder::NextBlock()
{
    std::size_t count = BlockSamples(m_coding);
    if (count == 0)
        return {};
    std::vector<std::int16_t> pcm(count);
    for (auto& s : pcm) {
        double t = static_cast<double>(m_sample++) / kSampleRate;
        s = static_cast<std::int16_t>(std::lround(m_amplitude * std::sin(2 * M_PI * m_hz * t)));
    }
    std::vector<std::uint8_t> block(BlockBytes(m_coding));
    switch (m_coding) {
    case kz::kAudioPcm:
        for (std::size_t i = 0; i < count; ++i) {
            block[2 * i] = static_cast<std::uint8_t>(pcm[i]);
            block[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(pcm[i]) >> 8);
        }
        break;
    case kz::kAudioG726: G726EncodeBlock(pcm.data(), block.data()); break;
    case kz::kAudioAdpcm: m_adpcm.Encode(pcm.data(), count, block.data()); break;
    }
    return block;
}

}

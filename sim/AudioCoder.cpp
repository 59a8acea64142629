#include "sim/AudioCoder.h"

#include "sim/CameraConfig.h"

extern "C" {
#include <spandsp.h>
}

#include <cmath>

namespace sim {

namespace {
constexpr int kG726BitRate = 16000;
}

std::size_t BlockBytes(int coding)
{
    switch (coding) {
    case kAudioPcm: return kPcmBlockBytes;
    case kAudioG726: return kG726BlockBytes;
    case kAudioAdpcm: return kAdpcmBlockBytes;
    }
    return 0;
}

std::size_t BlockSamples(int coding)
{
    switch (coding) {
    case kAudioPcm: return kPcmBlockBytes / 2;
    case kAudioG726: return kG726BlockSamples;
    case kAudioAdpcm: return audio::kImaAdpcmBlockSamples;
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
    case kAudioPcm:
        for (std::size_t i = 0; i < count; ++i) {
            block[2 * i] = static_cast<std::uint8_t>(pcm[i]);
            block[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(pcm[i]) >> 8);
        }
        break;
    case kAudioG726: G726EncodeBlock(pcm.data(), block.data()); break;
    case kAudioAdpcm: audio::ImaAdpcmEncode(pcm.data(), count, m_adpcm, block.data()); break;
    }
    return block;
}

}

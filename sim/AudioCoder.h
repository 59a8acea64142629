#pragma once
// The camera's audio: a tone coded in blocks in one of the three codings.
// PCM: 960 bytes (480 samples); G.726 at 16 kbit/s: 120 bytes (480 samples,
// coder state fresh for every block); IMA ADPCM: 160 bytes (320 samples,
// state kept from block to block). All at 8000 samples per second.
// One coder per stream; not shared between threads.

#include "audio/ImaAdpcm.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr int kSampleRate = 8000;
constexpr std::size_t kPcmBlockBytes = 960;
constexpr std::size_t kG726BlockBytes = 120;
constexpr std::size_t kAdpcmBlockBytes = 160;
constexpr std::size_t kG726BlockSamples = 480;

// Bytes and samples of one block of a coding; 0 for an unknown coding.
std::size_t BlockBytes(int coding);
std::size_t BlockSamples(int coding);

// G.726 at 16 kbit/s of exactly 480 samples into 120 bytes, from a fresh
// coder state (four 2-bit codes a byte, the first in the top bits).
void G726EncodeBlock(const std::int16_t* samples, std::uint8_t* out);
// The reverse: 120 bytes into 480 samples, from a fresh state.
void G726DecodeBlock(const std::uint8_t* codes, std::int16_t* out);

class ToneCoder {
public:
    ToneCoder(int coding, int hz, int amplitude);
    // The next block of the tone in the coding; empty for an unknown coding.
    std::vector<std::uint8_t> NextBlock();
    int Coding() const { return m_coding; }
    // Milliseconds of sound in one block.
    int BlockMs() const;

private:
    int m_coding;
    int m_hz;
    int m_amplitude;
    std::uint64_t m_sample = 0;
    audio::ImaAdpcmState m_adpcm;
};

}

#pragma once
// The camera's audio: a tone coded in blocks in one of the three codings.
// PCM: 960 bytes (480 samples); G.726 at 16 kbit/s: 120 bytes (480 samples,
// coder state fresh for every block); IMA ADPCM: 160 bytes (320 samples,
// state kept from block to block). All at 8000 samples per second.
// One coder per stream; not shared between threads.
//
// The camera codes with its own IMA ADPCM encoder, written apart from the
// control's decoder, so that the two sides check each other.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr int kSampleRate = 8000;
constexpr std::size_t kPcmBlockBytes = 960;
constexpr std::size_t kG726BlockBytes = 120;
constexpr std::size_t kAdpcmBlockBytes = 160;
constexpr std::size_t kG726BlockSamples = 480;
constexpr std::size_t kAdpcmBlockSamples = 320;

// Bytes and samples of one block of a coding; 0 for an unknown coding.
std::size_t BlockBytes(int coding);
std::size_t BlockSamples(int coding);

// G.726 at 16 kbit/s of exactly 480 samples into 120 bytes, from a fresh
// coder state (four 2-bit codes a byte, the first in the top bits).
void G726EncodeBlock(const std::int16_t* samples, std::uint8_t* out);
// The reverse: 120 bytes into 480 samples, from a fresh state.
void G726DecodeBlock(const std::uint8_t* codes, std::int16_t* out);

// IMA ADPCM at 4 bits a sample, the first sample of a pair in the high
// nibble; the state runs on from call to call.
class AdpcmEncoder {
public:
    // Codes `count` samples into (count + 1) / 2 bytes of `out`.
    void Encode(const std::int16_t* samples, std::size_t count, std::uint8_t* out);
    int Predictor() const { return m_predictor; }
    int StepIndex() const { return m_index; }

private:
    int m_predictor = 0;
    int m_index = 0;
};

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
    AdpcmEncoder m_adpcm;
};

}

#pragma once
// The tone a test hears: the frequency of 16-bit mono PCM at 8000 Hz from
// its zero crossings, past its first quarter (the stream's start), as read
// from a file the audio stand-in wrote or a recording's sound.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testing_support {

constexpr std::size_t kWavHeaderBytes = 44;
constexpr double kToneSampleRate = 8000.0;
constexpr std::size_t kFewestToneSamples = 800;

inline std::vector<char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// 0 for fewer than 800 samples.
inline double SampleFrequency(const std::int16_t* s, std::size_t samples)
{
    if (samples < kFewestToneSamples)
        return 0;
    const std::size_t start = samples / 4;
    int crossings = 0;
    for (std::size_t i = start + 1; i < samples; ++i)
        crossings += (s[i - 1] < 0) != (s[i] < 0);
    return crossings / 2.0 * kToneSampleRate / static_cast<double>(samples - start);
}

// The same of PCM bytes past `skip`; `samples` is how many there were.
inline double PcmFrequency(const std::vector<char>& bytes, std::size_t skip, std::size_t& samples)
{
    samples = bytes.size() > skip ? (bytes.size() - skip) / 2 : 0;
    return SampleFrequency(reinterpret_cast<const std::int16_t*>(bytes.data() + skip), samples);
}

inline double WavFrequency(const std::string& path, std::size_t& samples)
{
    return PcmFrequency(ReadAll(path), kWavHeaderBytes, samples);
}

}

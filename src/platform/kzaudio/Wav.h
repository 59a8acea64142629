#pragma once
// RIFF WAVE files of 16-bit PCM: a writer that keeps the file valid after
// every write, and a reader for 8 kHz mono 16-bit files.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kzaudio {

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter() { Close(); }
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool Open(const std::string& path, int sampleRate, int channels);
    // Appends whole samples; the header's sizes are patched at once.
    bool Write(const void* pcm, std::size_t bytes);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }
    std::uint32_t DataBytes() const { return m_dataBytes; }

private:
    void patchSizes();

    std::FILE* m_file = nullptr;
    std::uint32_t m_dataBytes = 0;
};

// The samples of an 8 kHz mono 16-bit WAV file; false for any other file.
bool ReadWav(const std::string& path, std::vector<std::int16_t>& samples, std::string& error);

}

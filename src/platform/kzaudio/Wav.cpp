#include "kzaudio/Wav.h"

#include "kzaudio/kzaudio.h"

#include <cstring>

namespace kzaudio {

namespace {

constexpr std::uint32_t kHeaderBytes = 44;
constexpr std::uint32_t kRiffSizeOffset = 4;
constexpr std::uint32_t kDataSizeOffset = 40;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint32_t kFmtChunkBytes = 16;
constexpr std::uint32_t kMaxReadBytes = 64u << 20;

void w16(std::FILE* f, std::uint16_t v)
{
    std::uint8_t b[2] = { static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8) };
    std::fwrite(b, 1, 2, f);
}

void w32(std::FILE* f, std::uint32_t v)
{
    std::uint8_t b[4] = { static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24) };
    std::fwrite(b, 1, 4, f);
}

std::uint32_t r32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24); }
std::uint16_t r16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}

bool WavWriter::Open(const std::string& path, int sampleRate, int channels)
{
    Close();
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return false;
    m_dataBytes = 0;
    std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * kBitsPerSample / 8);
    std::fwrite("RIFF", 1, 4, m_file);
    w32(m_file, kHeaderBytes - 8); // RIFF size
    std::fwrite("WAVE", 1, 4, m_file);
    std::fwrite("fmt ", 1, 4, m_file);
    w32(m_file, kFmtChunkBytes);
    w16(m_file, kFormatPcm);                                           // wFormatTag
    w16(m_file, static_cast<std::uint16_t>(channels));                 // nChannels
    w32(m_file, static_cast<std::uint32_t>(sampleRate));               // nSamplesPerSec
    w32(m_file, static_cast<std::uint32_t>(sampleRate) * blockAlign);  // nAvgBytesPerSec
    w16(m_file, blockAlign);                                           // nBlockAlign
    w16(m_file, kBitsPerSample);                                       // wBitsPerSample
    std::fwrite("data", 1, 4, m_file);
    w32(m_file, 0); // data size
    std::fflush(m_file);
    return !std::ferror(m_file);
}

bool WavWriter::Write(const void* pcm, std::size_t bytes)
{
    if (!m_file)
        return false;
    bytes &= ~static_cast<std::size_t>(1); // whole samples
    if (std::fwrite(pcm, 1, bytes, m_file) != bytes)
        return false;
    m_dataBytes += static_cast<std::uint32_t>(bytes);
    patchSizes();
    return true;
}

void WavWriter::patchSizes()
{
    long end = std::ftell(m_file);
    std::fseek(m_file, kRiffSizeOffset, SEEK_SET);
    w32(m_file, kHeaderBytes - 8 + m_dataBytes);
    std::fseek(m_file, kDataSizeOffset, SEEK_SET);
    w32(m_file, m_dataBytes);
    std::fseek(m_file, end, SEEK_SET);
    std::fflush(m_file);
}

void WavWriter::Close()
{
    if (!m_file)
        return;
    patchSizes();
    std::fclose(m_file);
    m_file = nullptr;
}

bool ReadWav(const std::string& path, std::vector<std::int16_t>& samples, std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && bytes.size() < kMaxReadBytes)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file";
        return false;
    }
    bool formatOk = false;
    for (std::size_t pos = 12; pos + 8 <= bytes.size();) {
        std::uint32_t size = r32(bytes.data() + pos + 4);
        const std::uint8_t* body = bytes.data() + pos + 8;
        std::size_t available = bytes.size() - pos - 8;
        if (std::memcmp(bytes.data() + pos, "fmt ", 4) == 0 && size >= kFmtChunkBytes && available >= kFmtChunkBytes) {
            formatOk = r16(body) == kFormatPcm && r16(body + 2) == kChannels && r32(body + 4) == static_cast<std::uint32_t>(kSampleRate) && r16(body + 14) == kBitsPerSample;
        } else if (std::memcmp(bytes.data() + pos, "data", 4) == 0) {
            if (!formatOk) {
                error = path + " is not 8 kHz mono 16-bit PCM";
                return false;
            }
            std::size_t take = std::min<std::size_t>(size, available) / 2;
            samples.resize(take);
            std::memcpy(samples.data(), body, take * 2);
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    error = path + " has no audio data";
    return false;
}

}

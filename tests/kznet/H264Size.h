#pragma once
// Test helper: the picture size from an H.264 sequence parameter set, read
// the way the control reads it (from the sixth byte of a frame whose fifth
// byte is 0x67). Emulation-prevention bytes are removed first. Returns false
// when the bytes do not hold a parameter set this reader understands.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_h264 {

class BitReader {
public:
    BitReader(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) { }
    bool ok() const { return m_ok; }
    unsigned bit()
    {
        if (m_pos >= m_bytes.size() * 8) {
            m_ok = false;
            return 0;
        }
        unsigned b = (m_bytes[m_pos / 8] >> (7 - m_pos % 8)) & 1;
        ++m_pos;
        return b;
    }
    unsigned bits(int n)
    {
        unsigned v = 0;
        while (n-- > 0)
            v = (v << 1) | bit();
        return v;
    }
    unsigned ue()
    {
        int zeros = 0;
        while (bit() == 0 && m_ok && zeros < 32)
            ++zeros;
        return ((1u << zeros) - 1) + bits(zeros);
    }
    int se()
    {
        unsigned v = ue();
        return (v & 1) ? static_cast<int>((v + 1) / 2) : -static_cast<int>(v / 2);
    }

private:
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

inline bool SpsSize(const std::uint8_t* frame, std::size_t n, unsigned& width, unsigned& height)
{
    constexpr std::uint8_t kSpsHeader = 0x67;
    if (n < 6 || frame[0] != 0 || frame[1] != 0 || frame[2] != 0 || frame[3] != 1 || frame[4] != kSpsHeader)
        return false;
    std::vector<std::uint8_t> rbsp;
    for (std::size_t i = 5; i < n; ++i) {
        if (i + 2 < n && frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 3) {
            rbsp.push_back(0);
            rbsp.push_back(0);
            i += 2;
            continue;
        }
        if (i + 3 < n && frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 0 && frame[i + 3] == 1)
            break; // next unit
        rbsp.push_back(frame[i]);
    }
    BitReader r(rbsp);
    unsigned profile = r.bits(8);
    r.bits(16); // constraint flags, level
    r.ue();     // seq_parameter_set_id
    unsigned chroma = 1;
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 || profile == 86 || profile == 118 || profile == 128) {
        chroma = r.ue();
        if (chroma == 3)
            r.bit();
        r.ue();
        r.ue();
        r.bit();
        if (r.bit())
            return false; // scaling matrices: not produced by our encoder
    }
    r.ue(); // log2_max_frame_num_minus4
    unsigned pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.bit();
        r.se();
        r.se();
        unsigned cycle = r.ue();
        for (unsigned i = 0; i < cycle && i < 256; ++i)
            r.se();
    }
    r.ue(); // max_num_ref_frames
    r.bit();
    unsigned wMbs = r.ue() + 1;
    unsigned hMaps = r.ue() + 1;
    unsigned frameMbsOnly = r.bit();
    if (!frameMbsOnly)
        r.bit();
    r.bit(); // direct_8x8_inference
    unsigned cl = 0, cr = 0, ct = 0, cb = 0;
    if (r.bit()) {
        cl = r.ue();
        cr = r.ue();
        ct = r.ue();
        cb = r.ue();
    }
    if (!r.ok())
        return false;
    unsigned cropX = chroma == 0 || chroma == 3 ? 1 : 2;
    unsigned cropY = (chroma == 1 ? 2 : 1) * (2 - frameMbsOnly);
    width = wMbs * 16 - cropX * (cl + cr);
    height = (2 - frameMbsOnly) * hMaps * 16 - cropY * (ct + cb);
    return true;
}

// The size in a JPEG's SOF0 segment.
inline bool JpegSize(const std::uint8_t* p, std::size_t n, unsigned& width, unsigned& height)
{
    for (std::size_t i = 2; i + 9 < n;) {
        if (p[i] != 0xFF)
            return false;
        std::uint8_t marker = p[i + 1];
        std::size_t length = (p[i + 2] << 8) | p[i + 3];
        if (marker == 0xC0) {
            height = (p[i + 5] << 8) | p[i + 6];
            width = (p[i + 7] << 8) | p[i + 8];
            return true;
        }
        i += 2 + length;
    }
    return false;
}

}

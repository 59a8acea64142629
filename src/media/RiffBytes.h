#pragma once
// Little-endian field helpers for the RIFF files the recorder writes and
// the repair reads: a write builds one block in memory (the helpers return
// nothing), and the block goes to the file with one call whose result is
// checked there. Readers take a pointer the caller has checked for length.

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace media::riff {

constexpr unsigned kByteBits = 8;

// The bytes of one write.
template<std::size_t Capacity>
class Block {
public:
    const std::uint8_t* data() const { return m_bytes.data(); }
    std::size_t size() const { return m_size; }
    void put(const void* bytes, std::size_t n)
    {
        assert(m_size + n <= Capacity);
        std::memcpy(m_bytes.data() + m_size, bytes, n);
        m_size += n;
    }

private:
    std::array<std::uint8_t, Capacity> m_bytes {};
    std::size_t m_size = 0;
};

template<std::size_t C>
void w8(Block<C>& b, std::uint8_t v)
{
    b.put(&v, 1);
}

template<std::size_t C>
void wl16(Block<C>& b, std::uint16_t v)
{
    const std::uint8_t bytes[] = { static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> kByteBits) };
    b.put(bytes, sizeof bytes);
}

template<std::size_t C>
void wl32(Block<C>& b, std::uint32_t v)
{
    const std::uint8_t bytes[] = { static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> kByteBits),
        static_cast<std::uint8_t>(v >> (2 * kByteBits)), static_cast<std::uint8_t>(v >> (3 * kByteBits)) };
    b.put(bytes, sizeof bytes);
}

// A FOURCC is kept as the little-endian number of its four characters, so
// it is written like any other 32-bit field.
template<std::size_t C>
void wfourcc(Block<C>& b, std::uint32_t fourcc)
{
    wl32(b, fourcc);
}

template<std::size_t C>
void wbytes(Block<C>& b, const std::uint8_t* bytes, std::size_t n)
{
    b.put(bytes, n);
}

template<std::size_t C>
void wzeros(Block<C>& b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        w8(b, 0);
}

inline std::uint16_t rl16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << kByteBits);
}

inline std::uint32_t rl32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << kByteBits
        | static_cast<std::uint32_t>(p[2]) << (2 * kByteBits) | static_cast<std::uint32_t>(p[3]) << (3 * kByteBits);
}

}

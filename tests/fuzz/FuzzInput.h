#pragma once
// Splits a fuzz input into the pieces an entry point feeds its parser: small
// numbers, length-prefixed pieces and the rest. Reads never go past the
// input; a piece that runs out is cut short.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) { }

    bool Empty() const { return m_pos >= m_size; }
    std::size_t Left() const { return m_size - m_pos; }

    std::uint8_t U8() { return Empty() ? 0 : m_data[m_pos++]; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(U16()) | (static_cast<std::uint32_t>(U16()) << 16); }
    // `n` bytes, or fewer when the input ends.
    std::vector<std::uint8_t> Bytes(std::size_t n)
    {
        n = std::min(n, Left());
        std::vector<std::uint8_t> out(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return out;
    }
    // A piece whose length is the next 16-bit number.
    std::vector<std::uint8_t> Piece() { return Bytes(U16()); }
    std::vector<std::uint8_t> Rest() { return Bytes(Left()); }
    std::string Text(std::size_t n)
    {
        auto b = Bytes(n);
        return std::string(b.begin(), b.end());
    }
    std::string RestText() { return Text(Left()); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

}

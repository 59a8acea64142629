#pragma once
// Writers into the fixed fields of a message the simulated camera builds:
// the buffer is already of the message's length, and each writer stays
// inside the field it is given.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>

namespace sim {

// A little-endian 32-bit integer at `at`.
inline void PutInt32(std::vector<std::uint8_t>& b, std::size_t at, std::int32_t v)
{
    for (std::size_t i = 0; i < sizeof v; ++i)
        b[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}

// A text in a field of `width` bytes, cut to width - 1; the rest stays as it is.
inline void PutText(std::vector<std::uint8_t>& b, std::size_t at, const std::string& text, std::size_t width)
{
    std::memcpy(&b[at], text.data(), std::min(text.size(), width - 1));
}

// A port in network byte order.
inline void PutNetPort(std::vector<std::uint8_t>& b, std::size_t at, int port)
{
    std::uint16_t net = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&b[at], &net, sizeof net);
}

}

#pragma once
// The editors' texts as the page reads them are kept below 1000 bytes, as
// the buffers they were built in were.

#include <cstddef>
#include <string>
#include <string_view>

namespace editors {

constexpr std::size_t kTextBytes = 1000;

// Appends while the text stays below kTextBytes.
inline void AppendBounded(std::string& out, std::string_view piece)
{
    if (out.size() + piece.size() < kTextBytes)
        out += piece;
}

}

#include "editors/CMotion.h"

#include "editors/EditorText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

std::string CMotion::MaskString() const
{
    std::string out;
    int rows = std::min(m_gridRows, kMaxRows);
    for (int i = 0; i < rows; ++i) {
        char piece[32];
        std::snprintf(piece, sizeof piece, "&area%d=%d", i, static_cast<int>(static_cast<std::int16_t>(m_masks[static_cast<std::size_t>(i)])));
        editors::AppendBounded(out, piece);
    }
    return out;
}

void CMotion::LoadMasks(const std::string& text)
{
    int numbers[kMaxRows] = {};
    // Twenty numbers, each followed by a comma: parsing stops at the first
    // piece that is not a number and a comma.
    const char* p = text.c_str();
    for (int i = 0; i < kMaxRows; ++i) {
        char* end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end == p)
            break;
        numbers[i] = static_cast<int>(v);
        if (*end != ',')
            break;
        p = end + 1;
    }
    int rows = std::min(m_gridRows, kMaxRows);
    for (int i = 0; i < rows; ++i)
        m_masks[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(numbers[i] & 0xFFFF);
}

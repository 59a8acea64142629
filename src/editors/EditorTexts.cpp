// The editors' texts: the motion grid's row masks and the privacy masks'
// rectangles as the page sends and reads them.

#include "editors/CMotion.h"
#include "editors/CShelter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t kTextBytes = 1000;

// Appends while the text stays below the 1000-byte buffer.
void append(std::string& out, const char* piece)
{
    std::string_view p(piece);
    if (out.size() + p.size() < kTextBytes)
        out += p;
}

}

std::string CMotion::MaskString() const
{
    std::string out;
    int rows = std::min(m_gridRows, kMaxRows);
    for (int i = 0; i < rows; ++i) {
        char piece[32];
        std::snprintf(piece, sizeof piece, "&area%d=%d", i, static_cast<int>(static_cast<std::int16_t>(m_masks[static_cast<std::size_t>(i)])));
        append(out, piece);
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

std::string CShelter::AreasString()
{
    for (int i = 0; i < kSlots; ++i) {
        if (m_deleted[static_cast<std::size_t>(i)]) {
            m_rects[static_cast<std::size_t>(i)] = RECT {};
            m_deleted[static_cast<std::size_t>(i)] = false;
        }
    }
    std::string out;
    for (int i = 0; i < kSlots; ++i) {
        const RECT& r = m_rects[static_cast<std::size_t>(i)];
        auto scale = [](LONG v, int size) { return size > 0 ? static_cast<long long>(v) * kScale / size : 0; };
        long long x1 = scale(r.left, m_pictureWidth), y1 = scale(r.top, m_pictureHeight);
        long long x2 = scale(r.right, m_pictureWidth), y2 = scale(r.bottom, m_pictureHeight);
        if (x2 > kSnapToEdge)
            x2 = kScale;
        if (y2 > kSnapToEdge)
            y2 = kScale;
        char piece[128];
        std::snprintf(piece, sizeof piece, "&x1_%d=%lld&y1_%d=%lld&x2_%d=%lld&y2_%d=%lld", i, x1, i, y1, i, x2, i, y2);
        append(out, piece);
    }
    return out;
}

void CShelter::LoadAreas(const std::array<RECT, kSlots>& scaled)
{
    m_rects = {};
    m_count = 0;
    for (const RECT& s : scaled) {
        // 64-bit products: a value the page left out must not overflow.
        auto unscale = [](LONG v, int size) { return static_cast<LONG>(static_cast<long long>(size) * v / kScale); };
        RECT r { unscale(s.left, m_pictureWidth), unscale(s.top, m_pictureHeight), unscale(s.right, m_pictureWidth), unscale(s.bottom, m_pictureHeight) };
        if (r.right - r.left > 2 && r.bottom - r.top > 2)
            m_rects[static_cast<std::size_t>(m_count++)] = r;
    }
}

void CShelter::RestoreDeleted()
{
    for (int i = 0; i < kSlots; ++i) {
        auto& deleted = m_deleted[static_cast<std::size_t>(i)];
        if (!deleted)
            continue;
        deleted = false;
        const RECT& r = m_rects[static_cast<std::size_t>(i)];
        if (r.right - r.left > 0 && m_count < kSlots)
            ++m_count;
    }
    m_selected = m_count - 1;
}

void CShelter::DeleteSelected()
{
    if (m_selected < 0 || m_selected >= m_count)
        return;
    m_deleted[static_cast<std::size_t>(m_selected)] = true;
    --m_count;
    m_selected = -1;
}

bool CShelter::AddRect(const RECT& rect)
{
    if (m_count >= kSlots)
        return false;
    m_rects[static_cast<std::size_t>(m_count)] = rect;
    m_deleted[static_cast<std::size_t>(m_count)] = false;
    m_selected = m_count++;
    return true;
}

#include "editors/CShelter.h"

#include "editors/EditorText.h"

#include <cstdio>

namespace {

// The Areas text as the page sets it: a result code, then four rectangles.
constexpr const char* kAreasFormat =
    "<cgi_result><result>%d</result><x1_0>%d</x1_0><y1_0>%d</y1_0><x2_0>%d</x2_0><y2_0>%d</y2_0><x1_1>%d</x1_1><y1_1>%d</y1_1><x2_1>%d</x2_1><y2_1>%d</y2_1><x1_2>%d</x1_2><y1_2>%d</y1_2><x2_2>%d</x2_2><y2_2>%d</y2_2><x1_3>%d</x1_3><y1_3>%d</y1_3><x2_3>%d</x2_3><y2_3>%d</y2_3></cgi_result>";
constexpr int kAreasValues = 1 + 4 * CShelter::kSlots;
// A value the Areas text leaves out.
constexpr int kAreasMissing = 0x01010101;

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
        editors::AppendBounded(out, piece);
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

void CShelter::LoadAreasText(const std::string& text)
{
    int v[kAreasValues];
    for (int& x : v)
        x = kAreasMissing;
    std::sscanf(text.c_str(), kAreasFormat, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15], &v[16]);
    std::array<RECT, kSlots> rects {};
    for (int i = 0; i < kSlots; ++i)
        rects[static_cast<std::size_t>(i)] = RECT { v[1 + 4 * i], v[2 + 4 * i], v[3 + 4 * i], v[4 + 4 * i] };
    LoadAreas(rects);
}

#include "editors/CShelter.h"

#include "editors/EditorText.h"
#include "editors/Notifications.h"

#include "ui/Input.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace {

// The Areas text as the page sets it: a result code, then four rectangles.
constexpr std::string_view kAreasFormat =
    "<cgi_result><result>%d</result><x1_0>%d</x1_0><y1_0>%d</y1_0><x2_0>%d</x2_0><y2_0>%d</y2_0><x1_1>%d</x1_1><y1_1>%d</y1_1><x2_1>%d</x2_1><y2_1>%d</y2_1><x1_2>%d</x1_2><y1_2>%d</y1_2><x2_2>%d</x2_2><y2_2>%d</y2_2><x1_3>%d</x1_3><y1_3>%d</y1_3><x2_3>%d</x2_3><y2_3>%d</y2_3></cgi_result>";
constexpr std::string_view kNumberField = "%d";
constexpr int kValuesPerRect = 4;
constexpr int kAreasValues = 1 + kValuesPerRect * CShelter::kSlots;
constexpr std::size_t kAreasPieceBytes = 128;

constexpr int kPenWidth = 3;
constexpr COLORREF kSelectionColour = RGB(255, 0, 0);
constexpr COLORREF kRectangleColour = RGB(0, 255, 0);
// A drawn rectangle must be wider and higher than this to be kept (a
// smaller one is a click); one loaded from the page, than the second.
constexpr LONG kSmallestDrawn = 3;
constexpr LONG kSmallestLoaded = 2;
// A point this close to the right or bottom edge reaches past it.
constexpr LONG kSnapDistance = 3;

bool isEmpty(const RECT& r) { return r == RECT {}; }

// Reads `text` against kAreasFormat as sscanf would (each "%d" a decimal
// number after optional spaces, everything else literally) and returns how
// many numbers it read before the first mismatch. A number's digits beyond
// the range of `long long`'s tenth saturate instead of overflowing.
int readAreas(std::string_view text, long long (&values)[kAreasValues])
{
    constexpr long long kSaturated = std::numeric_limits<long long>::max() / 10;
    constexpr int kDecimal = 10;
    std::size_t at = 0;
    int count = 0;
    for (std::size_t f = 0; f < kAreasFormat.size() && count < kAreasValues;) {
        if (kAreasFormat.substr(f, kNumberField.size()) != kNumberField) {
            if (at >= text.size() || text[at] != kAreasFormat[f])
                return count;
            ++at;
            ++f;
            continue;
        }
        f += kNumberField.size();
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
        bool negative = false;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            negative = text[at++] == '-';
        if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at])))
            return count;
        long long value = 0;
        for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at)
            value = value >= kSaturated ? kSaturated : value * kDecimal + (text[at] - '0');
        values[count++] = negative ? -value : value;
    }
    return count;
}

}

CShelter::CShelter() : CAreaEditor(kShelterWindowId, false)
{
    m_selectionPen = gfx::CreatePen(gfx::PS_SOLID, kPenWidth, kSelectionColour);
    m_rectanglePen = gfx::CreatePen(gfx::PS_SOLID, kPenWidth, kRectangleColour);
}

CShelter::~CShelter()
{
    CloseStream();
    for (gfx::HGDIOBJ o : { reinterpret_cast<gfx::HGDIOBJ>(m_selectionPen), reinterpret_cast<gfx::HGDIOBJ>(m_rectanglePen) })
        if (o)
            gfx::DeleteObject(o);
}

void CShelter::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    CAreaEditor::Attach(notifyWindow, screenWidth, screenHeight, hub);
    sys::Locker lock(m_areaLock);
    m_rects = {};
    m_deleted = {};
    m_count = 0;
    m_selected = 0;
    m_dragging = 0;
}

RECT CShelter::Rect(int slot) const
{
    sys::Locker lock(m_areaLock);
    return slot >= 0 && slot < kSlots ? m_rects[static_cast<std::size_t>(slot)] : RECT {};
}

int CShelter::Count() const
{
    sys::Locker lock(m_areaLock);
    return m_count;
}

int CShelter::Selected() const
{
    sys::Locker lock(m_areaLock);
    return m_selected;
}

bool CShelter::IsDeleted(int slot) const
{
    sys::Locker lock(m_areaLock);
    return slot >= 0 && slot < kSlots && m_deleted[static_cast<std::size_t>(slot)];
}

std::string CShelter::AreasString()
{
    const long long W = PictureWidth(), H = PictureHeight();
    sys::Locker lock(m_areaLock);
    for (int i = 0; i < kSlots; ++i) {
        if (m_deleted[static_cast<std::size_t>(i)]) {
            m_rects[static_cast<std::size_t>(i)] = RECT {};
            m_deleted[static_cast<std::size_t>(i)] = false;
        }
    }
    std::string out;
    for (int i = 0; i < kSlots; ++i) {
        const RECT& r = m_rects[static_cast<std::size_t>(i)];
        auto scale = [](LONG v, long long size) { return size > 0 ? static_cast<long long>(v) * kScale / size : 0; };
        long long x1 = scale(r.left, W), y1 = scale(r.top, H);
        long long x2 = scale(r.right, W), y2 = scale(r.bottom, H);
        if (x2 > kSnapToEdge)
            x2 = kScale;
        if (y2 > kSnapToEdge)
            y2 = kScale;
        char piece[kAreasPieceBytes];
        std::snprintf(piece, sizeof piece, "&x1_%d=%lld&y1_%d=%lld&x2_%d=%lld&y2_%d=%lld", i, x1, i, y1, i, x2, i, y2);
        editors::AppendBounded(out, piece);
    }
    return out;
}

void CShelter::LoadAreasText(const std::string& text)
{
    long long v[kAreasValues] = {};
    // The text ends at its first zero, as a C text would.
    const int parsed = readAreas(std::string_view(text.c_str()), v);
    const long long W = PictureWidth(), H = PictureHeight();
    sys::Locker lock(m_areaLock);
    m_rects = {};
    m_count = 0;
    for (int i = 0; i < kSlots; ++i) {
        // A rectangle is stored only when all four of its values were given.
        const int last = 1 + kValuesPerRect * i + kValuesPerRect - 1;
        if (parsed <= last)
            break;
        const long long* s = &v[1 + kValuesPerRect * i];
        // Values are ten-thousandths of the picture: one outside 0..10000
        // is taken as the nearest edge. The picture's size is at most
        // kMaxOverlaySide, so the product fits 64 bits and the point 32.
        auto unscale = [](long long value, long long size) { return static_cast<LONG>(size * std::clamp<long long>(value, 0, kScale) / kScale); };
        RECT r { unscale(s[0], W), unscale(s[1], H), unscale(s[2], W), unscale(s[3], H) };
        // Edges a page placed far apart: their distance needs 64 bits.
        if (static_cast<long long>(r.right) - r.left > kSmallestLoaded && static_cast<long long>(r.bottom) - r.top > kSmallestLoaded)
            m_rects[static_cast<std::size_t>(m_count++)] = r;
    }
}

void CShelter::RestoreDeleted()
{
    sys::Locker lock(m_areaLock);
    for (int i = 0; i < kSlots; ++i) {
        auto& deleted = m_deleted[static_cast<std::size_t>(i)];
        if (!deleted)
            continue;
        deleted = false;
        const RECT& r = m_rects[static_cast<std::size_t>(i)];
        if (r.right > r.left && m_count < kSlots)
            ++m_count;
    }
    m_selected = m_count - 1;
}

void CShelter::moveToEnd(int from)
{
    for (int i = from; i + 1 < m_count; ++i) {
        std::swap(m_rects[static_cast<std::size_t>(i)], m_rects[static_cast<std::size_t>(i + 1)]);
        std::swap(m_deleted[static_cast<std::size_t>(i)], m_deleted[static_cast<std::size_t>(i + 1)]);
    }
}

void CShelter::DeleteSelected()
{
    sys::Locker lock(m_areaLock);
    // Only a rectangle that is there can be deleted: with none selected
    // (the selection on the empty slot after adding) nothing happens.
    if (m_selected < 0 || m_selected >= m_count)
        return;
    moveToEnd(m_selected);
    m_deleted[static_cast<std::size_t>(m_count - 1)] = true;
    --m_count;
    m_selected = m_count - 1;
}

POINT CShelter::snap(int x, int y) const
{
    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    POINT p { x, y };
    if (std::labs(client.right - p.x) < kSnapDistance)
        p.x = client.right + 1;
    if (std::labs(client.bottom - p.y) < kSnapDistance)
        p.y = client.bottom + 1;
    return p;
}

void CShelter::begin(POINT p)
{
    if (m_count < kSlots)
        m_rects[static_cast<std::size_t>(m_count)] = RECT { p.x, p.y, p.x, p.y };
}

void CShelter::stretch(POINT p)
{
    if (m_count < kSlots) {
        m_rects[static_cast<std::size_t>(m_count)].right = p.x;
        m_rects[static_cast<std::size_t>(m_count)].bottom = p.y;
    }
}

void CShelter::normalise()
{
    if (m_count >= kSlots)
        return;
    RECT& r = m_rects[static_cast<std::size_t>(m_count)];
    if (r.right < r.left)
        std::swap(r.left, r.right);
    if (r.bottom < r.top)
        std::swap(r.top, r.bottom);
}

bool CShelter::commit()
{
    if (m_count >= kSlots)
        return false;
    RECT& r = m_rects[static_cast<std::size_t>(m_count)];
    if (r.right - r.left > kSmallestDrawn && r.bottom - r.top > kSmallestDrawn) {
        m_deleted[static_cast<std::size_t>(m_count)] = false;
        ++m_count;
        if (m_count < kSlots) {
            m_selected = m_count; // nothing is highlighted after adding
            m_rects[static_cast<std::size_t>(m_count)] = RECT {};
        }
        return true;
    }
    r = RECT {};
    ui::PostMessage(m_notifyWindow, editors::kNotifyMaskTooSmall, 0, kShelterWindowId);
    return false;
}

void CShelter::selectAt(POINT p)
{
    for (int i = 0; i < m_count; ++i) {
        const RECT& r = m_rects[static_cast<std::size_t>(i)];
        if (p.x > r.left && p.x < r.right && p.y > r.top && p.y < r.bottom) {
            moveToEnd(i);
            m_selected = m_count - 1;
            return;
        }
    }
}

void CShelter::DrawOverlay(HDC dc)
{
    std::array<RECT, kSlots> rects;
    std::array<bool, kSlots> deleted;
    int selected;
    {
        sys::Locker lock(m_areaLock);
        rects = m_rects;
        deleted = m_deleted;
        selected = m_selected;
    }
    gfx::HGDIOBJ oldBrush = gfx::SelectObject(dc, gfx::GetStockObject(gfx::NULL_BRUSH));
    gfx::HGDIOBJ oldPen = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_rectanglePen));
    for (int i = 0; i < kSlots; ++i) {
        const RECT& r = rects[static_cast<std::size_t>(i)];
        if (!deleted[static_cast<std::size_t>(i)] && !isEmpty(r))
            gfx::Rectangle(dc, r.left, r.top, r.right, r.bottom);
    }
    if (selected >= 0 && selected < kSlots && !isEmpty(rects[static_cast<std::size_t>(selected)])) {
        const RECT& r = rects[static_cast<std::size_t>(selected)];
        gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_selectionPen));
        gfx::Rectangle(dc, r.left, r.top, r.right, r.bottom);
    }
    gfx::SelectObject(dc, oldPen);
    gfx::SelectObject(dc, oldBrush);
}

void CShelter::OnDragBegin(POINT p)
{
    begin(p);
}

void CShelter::OnDragMove(POINT p)
{
    stretch(snap(p.x, p.y));
}

void CShelter::OnDragEnd(POINT p)
{
    ui::SetCursor(ui::LoadStockCursor(ui::CursorShape::Arrow));
    const POINT at = snap(p.x, p.y);
    stretch(at);
    normalise();
    if (!commit())
        selectAt(at);
}

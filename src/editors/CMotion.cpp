#include "editors/CMotion.h"

#include "editors/EditorText.h"

#include "ui/Input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kGridPenWidth = 3;
constexpr COLORREF kGridColour = RGB(0, 0, 255);
constexpr COLORREF kDragColour = RGB(255, 0, 0);
constexpr COLORREF kCellColour = RGB(255, 0, 0);
constexpr COLORREF kTransparent = RGB(0, 0, 0);
constexpr std::uint16_t kAllCells = 0xFFFF;
constexpr std::size_t kMaskPieceBytes = 32;

}

CMotion::CMotion() : CAreaEditor(kMotionWindowId, true)
{
    m_gridPen = gfx::CreatePen(gfx::PS_DASHDOT, kGridPenWidth, kGridColour);
    m_dragPen = gfx::CreatePen(gfx::PS_DOT, kGridPenWidth, kDragColour);
    m_cellBrush = gfx::CreateHatchBrush(gfx::HS_DIAGCROSS, kCellColour);
}

CMotion::~CMotion()
{
    CloseStream();
    for (gfx::HGDIOBJ o : { reinterpret_cast<gfx::HGDIOBJ>(m_gridPen), reinterpret_cast<gfx::HGDIOBJ>(m_dragPen), reinterpret_cast<gfx::HGDIOBJ>(m_cellBrush) })
        if (o)
            gfx::DeleteObject(o);
}

void CMotion::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    CAreaEditor::Attach(notifyWindow, screenWidth, screenHeight, hub);
    SetGridSize(kDefaultGrid, kDefaultGrid);
}

void CMotion::SetGridSize(int rows, int cols)
{
    m_rows = std::clamp(rows, 1, kMaxRows);
    m_cols = std::clamp(cols, 1, kMaxCols);
}

std::uint16_t CMotion::Mask(int row) const
{
    sys::Locker lock(m_areaLock);
    return row >= 0 && row < kMaxRows ? m_masks[static_cast<std::size_t>(row)] : 0;
}

RECT CMotion::DragRect() const
{
    sys::Locker lock(m_areaLock);
    return m_drag;
}

std::string CMotion::MaskString() const
{
    sys::Locker lock(m_areaLock);
    std::string out;
    for (int i = 0; i < m_rows; ++i) {
        char piece[kMaskPieceBytes];
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
    sys::Locker lock(m_areaLock);
    for (int i = 0; i < m_rows; ++i)
        m_masks[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(numbers[i] & kAllCells);
}

void CMotion::finishDrag(int x, int y)
{
    sys::Locker lock(m_areaLock);
    RECT d = m_drag;
    d.right = x;
    d.bottom = y;
    m_drag = RECT {};
    if (d.left > d.right)
        std::swap(d.left, d.right);
    if (d.top > d.bottom)
        std::swap(d.top, d.bottom);
    const long long w = ui::Width(m_workRect), h = ui::Height(m_workRect);
    if (w <= 0 || h <= 0)
        return; // no cell can be computed
    const int rows = m_rows, cols = m_cols;
    // A drag may start or end outside the window (the mouse is captured)
    // or on its right or bottom edge: the cells stay within the grid.
    auto cell = [](long long v, int count, long long size) { return static_cast<int>(std::clamp<long long>(v * count / size, 0, count - 1)); };
    const int c0 = cell(d.left, cols, w), c1 = cell(d.right, cols, w);
    const int r0 = cell(d.top, rows, h), r1 = cell(d.bottom, rows, h);
    if (m_inverted) {
        m_masks.fill(kAllCells);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c)
                m_masks[static_cast<std::size_t>(r)] &= static_cast<std::uint16_t>(~(1u << c));
    } else {
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c)
                m_masks[static_cast<std::size_t>(r)] ^= static_cast<std::uint16_t>(1u << c);
    }
}

void CMotion::DrawOverlay(HDC dc)
{
    std::array<std::uint16_t, kMaxRows> masks;
    RECT drag, work;
    {
        sys::Locker lock(m_areaLock);
        masks = m_masks;
        drag = m_drag;
        work = m_workRect;
    }
    const long long W = OverlayWidth(), H = OverlayHeight();
    const int rows = m_rows, cols = m_cols;
    // The marked cells, cross-hatched red on black (transparent).
    gfx::HGDIOBJ oldBrush = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_cellBrush));
    gfx::SetBkColor(dc, kTransparent);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            if (masks[static_cast<std::size_t>(i)] & (1u << j))
                gfx::Rectangle(dc, static_cast<int>(j * W / cols), static_cast<int>(H * i / rows), static_cast<int>((j + 1) * W / cols), static_cast<int>(H * (i + 1) / rows));
    // The grid, without lines on the right and bottom edges.
    gfx::HGDIOBJ oldPen = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_gridPen));
    for (int i = 0; i < cols; ++i) {
        gfx::MoveToEx(dc, static_cast<int>(i * W / cols), 0, nullptr);
        gfx::LineTo(dc, static_cast<int>(i * W / cols), static_cast<int>(H));
    }
    for (int i = 0; i < rows; ++i) {
        gfx::MoveToEx(dc, 0, static_cast<int>(i * H / rows), nullptr);
        gfx::LineTo(dc, static_cast<int>(W), static_cast<int>(i * H / rows));
    }
    // The drag, in overlay coordinates.
    gfx::SelectObject(dc, gfx::GetStockObject(gfx::NULL_BRUSH));
    gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_dragPen));
    const long long w = ui::Width(work), h = ui::Height(work);
    auto sx = [&](LONG x) { return static_cast<int>(w >= 1 && h >= 1 ? x * W / w : x); };
    auto sy = [&](LONG y) { return static_cast<int>(w >= 1 && h >= 1 ? y * H / h : y); };
    if (drag != RECT {})
        gfx::Rectangle(dc, sx(drag.left), sy(drag.top), sx(drag.right), sy(drag.bottom));
    gfx::SelectObject(dc, oldPen);
    gfx::SelectObject(dc, oldBrush);
}

void CMotion::OnDragBegin(POINT p)
{
    m_drag = RECT { p.x, p.y, p.x, p.y };
}

void CMotion::OnDragMove(POINT p)
{
    m_drag.right = p.x;
    m_drag.bottom = p.y;
}

void CMotion::OnDragEnd(POINT p)
{
    finishDrag(p.x, p.y);
}

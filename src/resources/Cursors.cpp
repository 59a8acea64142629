#include "resources/Cursors.h"

#include "ui/Input.h"

#include <array>

namespace resources {

namespace {

// The shapes of the cursor resources, in resource order.
constexpr ui::CursorShape kCursorShapes[kCursorCount] = {
    ui::CursorShape::ArrowUpLeft, ui::CursorShape::ArrowUp, ui::CursorShape::ArrowUpRight,
    ui::CursorShape::ArrowLeft, ui::CursorShape::SizeAll, ui::CursorShape::ArrowRight,
    ui::CursorShape::ArrowDownLeft, ui::CursorShape::ArrowDown, ui::CursorShape::ArrowDownRight,
    ui::CursorShape::ZoomIn, ui::CursorShape::ZoomOut,
};

std::array<HCURSOR, kCursorCount> g_cursors {};
bool g_loaded = false;

}

void LoadCursors()
{
    if (g_loaded)
        return;
    for (int i = 0; i < kCursorCount; ++i)
        g_cursors[static_cast<std::size_t>(i)] = ui::CreateResourceCursor(kFirstCursorResource + i, kCursorShapes[i]);
    g_loaded = true;
}

void FreeCursors()
{
    if (!g_loaded)
        return;
    for (auto& cursor : g_cursors) {
        ui::DestroyCursor(cursor);
        cursor = nullptr;
    }
    g_loaded = false;
}

bool CursorsLoaded() { return g_loaded; }

HCURSOR Cursor(int index)
{
    if (index < 0 || index >= kCursorCount)
        return nullptr;
    return g_cursors[static_cast<std::size_t>(index)];
}

}

#include "gfx/Region.h"

#include <algorithm>

namespace gfx {

namespace {

RECT screenRectOf(HWND window)
{
    RECT r {};
    ui::GetWindowRect(window, &r);
    return r;
}

bool styled(HWND window, DWORD style) { return (static_cast<DWORD>(ui::GetWindowLongPtr(window, GWL_STYLE)) & style) != 0; }

// Removes the windows of `list` that come before `stop` (those above it);
// all of them when `stop` is null.
void cutWindowsAbove(Region& region, const std::vector<HWND>& list, HWND stop)
{
    for (HWND other : list) {
        if (other == stop)
            return;
        if (ui::IsWindowVisible(other))
            Subtract(region, screenRectOf(other));
    }
}

}

void Subtract(Region& region, const RECT& cut)
{
    if (ui::IsEmpty(cut))
        return;
    Region out;
    out.reserve(region.size() + 4);
    for (const RECT& r : region) {
        RECT overlap = ui::Intersect(r, cut);
        if (ui::IsEmpty(overlap)) {
            out.push_back(r);
            continue;
        }
        // Above, below, then left and right of the overlap.
        if (r.top < overlap.top)
            out.push_back(RECT { r.left, r.top, r.right, overlap.top });
        if (overlap.bottom < r.bottom)
            out.push_back(RECT { r.left, overlap.bottom, r.right, r.bottom });
        if (r.left < overlap.left)
            out.push_back(RECT { r.left, overlap.top, overlap.left, overlap.bottom });
        if (overlap.right < r.right)
            out.push_back(RECT { overlap.right, overlap.top, r.right, overlap.bottom });
    }
    region = std::move(out);
}

Region Intersect(const Region& region, const RECT& rect)
{
    Region out;
    for (const RECT& r : region) {
        RECT i = ui::Intersect(r, rect);
        if (!ui::IsEmpty(i))
            out.push_back(i);
    }
    return out;
}

RECT Bounds(const Region& region)
{
    RECT b {};
    for (const RECT& r : region)
        b = ui::Union(b, r);
    return b;
}

bool Contains(const Region& region, POINT point)
{
    return std::any_of(region.begin(), region.end(), [&](const RECT& r) { return ui::Contains(r, point); });
}

Region VisibleRegion(HWND window)
{
    RECT visible = ui::GetVisibleScreenRect(window);
    if (ui::IsEmpty(visible))
        return {};
    Region region { visible };
    HWND top = window;
    while (HWND parent = ui::GetParent(top))
        top = parent;
    cutWindowsAbove(region, ui::GetTopLevelWindows(), top);
    if (styled(window, WS_CLIPCHILDREN))
        cutWindowsAbove(region, ui::GetChildren(window), nullptr);
    if (HWND parent = ui::GetParent(window); parent && styled(window, WS_CLIPSIBLINGS))
        cutWindowsAbove(region, ui::GetChildren(parent), window);
    return region;
}

}

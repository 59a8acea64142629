#pragma once
// Clip regions as lists of disjoint rectangles, and the part of a window
// that drawing may touch on the screen.

#include "ui/Window.h"

#include <vector>

namespace gfx {

using Region = std::vector<RECT>;

// Removes `cut` from every rectangle of `region`, keeping them disjoint.
void Subtract(Region& region, const RECT& cut);
Region Intersect(const Region& region, const RECT& rect);
RECT Bounds(const Region& region);
bool Contains(const Region& region, POINT point);

// The screen pixels a window may draw on: its rectangle cut by its
// ancestors, less the top-level windows above its own top-level window,
// less its visible children when it has WS_CLIPCHILDREN and the siblings
// above it when it has WS_CLIPSIBLINGS. Empty when it is hidden.
Region VisibleRegion(HWND window);

}

#pragma once
// The module's bitmap resources: 121, the marker that screen pan/tilt draws
// where the pointer is, a bright crosshair in a ring on black, black being
// the colour key that leaves the picture underneath showing.
//
// Threads: any; each call makes a new bitmap.

#include "gfx/Gdi.h"

#include "ui/Color.h"

namespace resources {

constexpr int kBitmapPtzMarker = 121;
constexpr int kPtzMarkerWidth = 22;
constexpr int kPtzMarkerHeight = 23;
// The marker's colour, and its transparent colour key.
constexpr COLORREF kPtzMarkerColor = RGB(255, 40, 40);
constexpr COLORREF kPtzMarkerKey = RGB(0, 0, 0);

// A 32-bit bitmap of the resource, or null for an unknown id. The caller
// frees it with gfx::DeleteObject.
gfx::HBITMAP LoadBitmap(int id);

}

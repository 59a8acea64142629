#pragma once
// The module's bitmaps: 121, the screen pan/tilt marker (22 x 23, black is
// its transparent colour).

#include "gfx/Gdi.h"

namespace resources {

constexpr int kBitmapPtzMarker = 121;
constexpr int kPtzMarkerWidth = 22;
constexpr int kPtzMarkerHeight = 23;

// A new bitmap of the resource (the caller frees it with gfx::DeleteObject),
// or null for an unknown one.
gfx::HBITMAP LoadBitmap(int id);

}

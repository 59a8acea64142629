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

// The module's icon, 32 x 32: a camera, drawn here, on `background`.
constexpr int kIconModule = 1;
constexpr int kIconSize = 32;
constexpr COLORREF kIconBodyColor = RGB(60, 70, 90);
constexpr COLORREF kIconLensColor = RGB(40, 140, 230);
constexpr COLORREF kIconLightColor = RGB(240, 60, 60);
// A 32-bit bitmap of the icon, or null for an unknown id; freed with gfx::DeleteObject.
gfx::HBITMAP LoadIcon(int id, COLORREF background);

// A 32-bit bitmap of the resource, or null for an unknown id. The caller
// frees it with gfx::DeleteObject.
gfx::HBITMAP LoadBitmap(int id);

}
